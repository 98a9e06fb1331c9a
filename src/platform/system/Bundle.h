#pragma once
// A bundle is a folder of resources: files at its top (or in subfolders), localized variants in
// "<language>.lproj" folders, "Base.lproj" for the base localization, an optional "Info.plist"
// with the info values, and ".strings" tables for localized texts.
//
// The main bundle is the application's resources folder: $ZV_RESOURCES, else "resources" beside
// the executable (a build folder links the repository's there), else "../share/zerivudor/resources"
// from the executable's folder (where an install puts them), else the first "resources" folder
// found walking up from the executable's folder. setMainBundlePath overrides it.
//
// Resource lookup order (pathForResource): the plain folder first, then the ".lproj" folder of
// each preferred language ("pt-BR" also tries "pt"), then "Base.lproj". With a subdirectory the
// language folders sit inside it ("<sub>/<language>.lproj/<file>").
//
// Threads: any thread may call. Strings tables and the info dictionary are read once and cached;
// the bundle of one folder is one object (bundleWithPath returns the same bundle for a path).

#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Values.h"
#include "platform/foundation/ForkHandlers.h"

namespace zv {

// Info-dictionary keys, with the main bundle's defaults when its Info.plist lacks them.
inline constexpr const char* kBundleNameKey = "BundleName";              // "Zerivudor"
inline constexpr const char* kBundleVersionKey = "BundleVersion";        // "1.0"
inline constexpr const char* kBundleIdentifierKey = "BundleIdentifier";  // "com.mirovast.zerivudor"
// Optional keys without defaults: the name shown to users and the marketing version.
inline constexpr const char* kBundleDisplayNameKey = "BundleDisplayName";
inline constexpr const char* kBundleShortVersionKey = "BundleShortVersion";

class Bundle : public Object {
 public:
  static Ref<Bundle> mainBundle();
  // Points the main bundle at another folder; nullopt returns to the default. Bundles already
  // handed out keep their folder.
  static void setMainBundlePath(std::optional<std::filesystem::path> path);
  // The bundle of a folder; nullptr when the path is not a folder.
  static Ref<Bundle> bundleWithPath(const std::filesystem::path& path);

  const std::string& bundlePath() const { return path_; }
  // Resources sit at the top of the bundle folder.
  const std::string& resourcePath() const { return path_; }

  // The path of a resource; nullopt when none exists. `type` is the extension without its dot
  // (empty when `name` carries it). A non-empty `localization` searches only that ".lproj"
  // folder after the plain one.
  std::optional<std::string> pathForResource(std::string_view name, std::string_view type = {},
                                             std::string_view subdirectory = {},
                                             std::string_view localization = {}) const;
  Ref<URL> URLForResource(std::string_view name, std::string_view type = {}, std::string_view subdirectory = {}) const;
  // Every resource with the extension `type` (every file when empty) in the plain folder, then in
  // the most preferred localization's folder; a name found in both appears once (the plain one).
  std::vector<std::string> pathsForResourcesOfType(std::string_view type, std::string_view subdirectory = {}) const;

  // Info.plist (an empty dictionary when absent or unreadable), with the defaults above for the
  // main bundle.
  Ref<Dictionary> infoDictionary() const;
  ObjectPtr objectForInfoDictionaryKey(std::string_view key) const;
  std::optional<std::string> bundleIdentifier() const;

  // The text of `key` in the strings table `table` ("Localizable" when empty), looked up in the
  // ".lproj" folders in preference order, then "Base.lproj", then the plain folder. When no
  // table has the key: `value` when not empty, else the key. A table that cannot be parsed is
  // logged once and treated as empty.
  std::string localizedStringForKey(std::string_view key, std::string_view value = {},
                                    std::string_view table = {}) const;

  // The localizations present ("en", "fr", "Base"), sorted.
  std::vector<std::string> localizations() const;
  // The present localizations in the order of the preferred languages; when none matches, "en"
  // when present, else the first present one other than "Base".
  std::vector<std::string> preferredLocalizations() const;

  std::string description() const override;

  Bundle(std::string path, bool isMain) : path_(std::move(path)), isMain_(isMain) {}

 private:
  // ".lproj" folder names (without extension) in lookup order, "Base" last.
  std::vector<std::string> localizationSearchOrder() const;
  Ref<Dictionary> stringsTable(const std::filesystem::path& file) const;

  std::string path_;
  bool isMain_;
  mutable ForkMutex mutex_{ForkLockLevel::Bundle};
  mutable Ref<Dictionary> info_;
  // nullptr marks a table that failed to parse (logged once).
  mutable std::map<std::string, Ref<Dictionary>> tables_;
};

}  // namespace zv

#pragma once
// Finds and loads one settings description (a property list of rows), picks the strings table
// that localizes it, and cuts its rows into table sections, leaving out hidden keys.
//
// Sections: `dataSource` is an array of mutable arrays. A section with a heading starts with the
// group row's dictionary itself, followed by PrefsSpecifier objects; every section holds at least
// one element. Main thread only (cheap to create and drop).

#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Values.h"
#include "platform/system/ApplicationEnvironment.h"
#include "platform/system/Bundle.h"
#include "settings/PrefsSpecifier.h"

namespace zv {

class PrefsSettingsReader : public Object {
 public:
  // initWithSettingsFileNamed:applicationBundle: — `name` without extension (a trailing
  // ".plist" is dropped). A name that leads out of the settings bundle ("../x", "/x") is refused
  // and reads nothing.
  static Ref<PrefsSettingsReader> make(std::string_view name, Ref<Bundle> applicationBundle);
  // initWithFile: over the main bundle; make() reads "Root".
  static Ref<PrefsSettingsReader> makeWithFile(std::string_view name);
  static Ref<PrefsSettingsReader> make() { return makeWithFile("Root"); }

  // Keeps the set when it is not the current one (by identity) and rebuilds the sections.
  void setHiddenKeys(Ref<Set> hiddenKeys);
  const Ref<Set>& hiddenKeys() const { return hiddenKeys_; }

  std::size_t numberOfSections() const;
  // Elements of the section, less the heading.
  std::size_t numberOfRowsForSection(std::size_t section) const;
  // The row at (section, row); sets the row's settingsReader to this reader. nullptr when out of
  // range.
  Ref<PrefsSpecifier> specifierForIndexPath(const IndexPath& indexPath);
  // The first row with the key, in section then element order; nullptr when none.
  Ref<IndexPath> indexPathForKey(std::string_view key) const;
  Ref<PrefsSpecifier> specifierForKey(std::string_view key) const;
  std::optional<std::string> titleForSection(std::size_t section) const;
  std::optional<std::string> keyForSection(std::size_t section) const;
  std::optional<std::string> footerTextForSection(std::size_t section) const;
  // The settings bundle's text for `stringId` in the localization table; the id is the fallback.
  std::string titleForStringId(std::string_view stringId) const;
  // The settings bundle's folder joined with the image name.
  std::string pathForImageNamed(std::string_view name) const;

  static std::string platformSuffixForInterfaceIdiom(UserInterfaceIdiom idiom);
  // The application bundle's path / bundle folder / name + suffix + extension.
  std::string fileWithBundle(std::string_view name, std::string_view bundleFolder, std::string_view suffix,
                             std::string_view extension) const;
  // The first of the sixteen candidates that exists; the last one tried when none does.
  std::string locateSettingsFile(std::string_view name) const;

  const Ref<Array>& dataSource() const { return dataSource_; }
  void setDataSource(Ref<Array> dataSource) { dataSource_ = std::move(dataSource); }
  const Ref<Bundle>& applicationBundle() const { return applicationBundle_; }
  const Ref<Bundle>& settingsBundle() const { return settingsBundle_; }
  const Ref<Dictionary>& settingsDictionary() const { return settingsDictionary_; }
  // Why settingsDictionary() is nullptr (missing, unreadable or refused file), its description
  // naming the file; nullptr when the description was read.
  const Ref<Error>& loadError() const { return loadError_; }
  const std::string& localizationTable() const { return localizationTable_; }
  void setLocalizationTable(std::string table) { localizationTable_ = std::move(table); }

  PrefsSettingsReader(std::string_view name, Ref<Bundle> applicationBundle);

 private:
  void buildSections();
  Ref<Array> section(std::size_t index) const;
  static bool hasHeading(const Array& section);

  Ref<Bundle> applicationBundle_;
  Ref<Bundle> settingsBundle_;
  Ref<Dictionary> settingsDictionary_;
  Ref<Error> loadError_;
  std::string settingsFolder_;
  std::string localizationTable_;
  Ref<Array> dataSource_;
  Ref<Set> hiddenKeys_;
};

}  // namespace zv

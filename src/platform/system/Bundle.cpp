#include "platform/system/Bundle.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <set>

#include "platform/foundation/Log.h"
#include "platform/storage/AtomicFile.h"
#include "platform/storage/PropertyList.h"
#include "platform/storage/StringsTable.h"
#include "platform/system/ApplicationEnvironment.h"

#ifndef ZV_INSTALLED_RESOURCES
#define ZV_INSTALLED_RESOURCES "../share/zerivudor/resources"
#endif

namespace zv {

namespace fs = std::filesystem;

namespace {

constexpr const char* kDefaultTable = "Localizable";

std::string normalizedPath(const fs::path& path) {
  std::error_code error;
  fs::path absolute = fs::absolute(path, error);
  if (error) absolute = path;
  std::string text = absolute.lexically_normal().string();
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  return text;
}

bool isFolder(const fs::path& path) {
  std::error_code error;
  return fs::is_directory(path, error);
}

bool pathExists(const fs::path& path) {
  std::error_code error;
  return fs::exists(path, error);
}

fs::path executableFolder() {
  std::error_code error;
  fs::path executable = fs::read_symlink("/proc/self/exe", error);
  if (error) return fs::current_path(error);
  return executable.parent_path();
}

fs::path defaultMainBundlePath() {
  if (const char* configured = std::getenv("ZV_RESOURCES"); configured && *configured) return configured;
  fs::path folder = executableFolder();
  if (isFolder(folder / "resources")) return folder / "resources";
  // Where `cmake --install` puts them, relative to the installed program.
  if (fs::path installed = folder / ZV_INSTALLED_RESOURCES; isFolder(installed)) return installed.lexically_normal();
  for (fs::path candidate = folder;; candidate = candidate.parent_path()) {
    if (isFolder(candidate / "resources")) return candidate / "resources";
    if (candidate == candidate.parent_path() || candidate.empty()) break;
  }
  return folder / "resources";
}

std::string fileName(std::string_view name, std::string_view type) {
  std::string file(name);
  if (!type.empty() && type.front() == '.') type.remove_prefix(1);
  if (!type.empty()) {
    file += '.';
    file += type;
  }
  return file;
}

struct MainBundleSlot {
  ForkMutex mutex{ForkLockLevel::MainBundle};
  std::optional<fs::path> configuredPath;
  Ref<Bundle> bundle;
  std::map<std::string, Ref<Bundle>> byPath;
};

MainBundleSlot& slot() {
  static MainBundleSlot& instance = *new MainBundleSlot;
  return instance;
}

// Made before main: a fork never finds it half made.
[[maybe_unused]] const bool gBundleSlotMade = (slot(), true);

}  // namespace

Ref<Bundle> Bundle::mainBundle() {
  auto& s = slot();
  std::lock_guard lock(s.mutex);
  if (!s.bundle) {
    fs::path path = s.configuredPath ? *s.configuredPath : defaultMainBundlePath();
    s.bundle = std::make_shared<Bundle>(normalizedPath(path), true);
  }
  return s.bundle;
}

void Bundle::setMainBundlePath(std::optional<fs::path> path) {
  auto& s = slot();
  std::lock_guard lock(s.mutex);
  s.configuredPath = std::move(path);
  s.bundle = nullptr;
}

Ref<Bundle> Bundle::bundleWithPath(const fs::path& path) {
  if (path.empty() || !isFolder(path)) return nullptr;
  std::string normalized = normalizedPath(path);
  Ref<Bundle> main = mainBundle();
  if (main->bundlePath() == normalized) return main;
  auto& s = slot();
  std::lock_guard lock(s.mutex);
  auto& bundle = s.byPath[normalized];
  if (!bundle) bundle = std::make_shared<Bundle>(normalized, false);
  return bundle;
}

std::vector<std::string> Bundle::localizationSearchOrder() const {
  std::vector<std::string> order;
  auto add = [&](std::string name) {
    if (!name.empty() && std::find(order.begin(), order.end(), name) == order.end()) order.push_back(std::move(name));
  };
  for (const auto& language : ApplicationEnvironment::shared().preferredLanguages()) {
    add(language);
    add(language.substr(0, language.find_first_of("-_")));
  }
  add("Base");
  return order;
}

std::optional<std::string> Bundle::pathForResource(std::string_view name, std::string_view type,
                                                   std::string_view subdirectory,
                                                   std::string_view localization) const {
  if (name.empty()) return std::nullopt;
  std::string file = fileName(name, type);
  fs::path folder = fs::path(path_);
  if (!subdirectory.empty()) folder /= fs::path(subdirectory);
  if (pathExists(folder / file)) return (folder / file).lexically_normal().string();
  std::vector<std::string> localizationsToTry;
  if (!localization.empty())
    localizationsToTry.emplace_back(localization);
  else
    localizationsToTry = localizationSearchOrder();
  for (const auto& language : localizationsToTry) {
    fs::path candidate = folder / (language + ".lproj") / file;
    if (pathExists(candidate)) return candidate.lexically_normal().string();
  }
  return std::nullopt;
}

Ref<URL> Bundle::URLForResource(std::string_view name, std::string_view type, std::string_view subdirectory) const {
  auto path = pathForResource(name, type, subdirectory);
  return path ? URL::fileURL(*path) : nullptr;
}

std::vector<std::string> Bundle::pathsForResourcesOfType(std::string_view type, std::string_view subdirectory) const {
  if (!type.empty() && type.front() == '.') type.remove_prefix(1);
  fs::path folder = fs::path(path_);
  if (!subdirectory.empty()) folder /= fs::path(subdirectory);
  std::vector<fs::path> folders{folder};
  auto preferred = preferredLocalizations();
  if (!preferred.empty()) folders.push_back(folder / (preferred.front() + ".lproj"));

  std::vector<std::string> paths;
  std::set<std::string> seenNames;
  for (const auto& current : folders) {
    std::vector<fs::path> found;
    std::error_code error;
    for (fs::directory_iterator it(current, error), end; !error && it != end; it.increment(error)) {
      const fs::path& entry = it->path();
      std::string extension = entry.extension().string();
      if (extension == ".lproj") continue;
      if (!type.empty() && (extension.size() < 2 || std::string_view(extension).substr(1) != type)) continue;
      found.push_back(entry);
    }
    std::sort(found.begin(), found.end());
    for (const auto& entry : found)
      if (seenNames.insert(entry.filename().string()).second) paths.push_back(entry.string());
  }
  return paths;
}

Ref<Dictionary> Bundle::infoDictionary() const {
  std::lock_guard lock(mutex_);
  if (info_) return info_;
  fs::path file = fs::path(path_) / "Info.plist";
  auto info = MutableDictionary::make();
  if (pathExists(file)) {
    Ref<Error> error;
    auto root = storage::readPropertyList(file, &error, false, storage::kSmallFileReadLimit);
    if (auto dictionary = dyn<Dictionary>(root))
      info->addEntriesFromDictionary(*dictionary);
    else
      logError("cannot read bundle info " + file.string() + ": " + (error ? error->localizedDescription() : "not a dictionary"));
  }
  if (isMain_) {
    for (auto [key, value] : {std::pair{kBundleNameKey, "Zerivudor"}, std::pair{kBundleVersionKey, "1.0"},
                              std::pair{kBundleIdentifierKey, "com.mirovast.zerivudor"}}) {
      if (!info->objectForKey(key)) info->setObject(box(value), key);
    }
  }
  info_ = std::dynamic_pointer_cast<Dictionary>(info->copy());
  return info_;
}

ObjectPtr Bundle::objectForInfoDictionaryKey(std::string_view key) const { return infoDictionary()->objectForKey(key); }

std::optional<std::string> Bundle::bundleIdentifier() const {
  return infoDictionary()->stringForKey(kBundleIdentifierKey);
}

Ref<Dictionary> Bundle::stringsTable(const fs::path& file) const {
  std::string key = file.string();
  {
    std::lock_guard lock(mutex_);
    if (auto it = tables_.find(key); it != tables_.end()) return it->second;
  }
  Ref<Error> error;
  Ref<Dictionary> table;
  if (auto bytes = storage::readFile(file, &error, storage::kSmallFileReadLimit)) table = storage::parseStringsTable(*bytes, &error);
  if (!table) logError("cannot read strings table " + key + ": " + (error ? error->localizedDescription() : "unknown error"));
  std::lock_guard lock(mutex_);
  // Another thread may have parsed it meanwhile; the first result stays.
  return tables_.emplace(key, table).first->second;
}

std::string Bundle::localizedStringForKey(std::string_view key, std::string_view value, std::string_view table) const {
  std::string file = fileName(table.empty() ? std::string_view(kDefaultTable) : table, "strings");
  std::vector<fs::path> candidates;
  for (const auto& language : localizationSearchOrder())
    candidates.push_back(fs::path(path_) / (language + ".lproj") / file);
  candidates.push_back(fs::path(path_) / file);
  for (const auto& candidate : candidates) {
    if (!pathExists(candidate)) continue;
    if (auto strings = stringsTable(candidate)) {
      if (auto text = strings->stringForKey(key)) return *text;
    }
  }
  return std::string(value.empty() ? key : value);
}

std::vector<std::string> Bundle::localizations() const {
  std::vector<std::string> names;
  std::error_code error;
  for (fs::directory_iterator it(path_, error), end; !error && it != end; it.increment(error)) {
    if (it->path().extension() == ".lproj" && isFolder(it->path())) names.push_back(it->path().stem().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> Bundle::preferredLocalizations() const {
  auto present = localizations();
  auto has = [&](const std::string& name) { return std::find(present.begin(), present.end(), name) != present.end(); };
  std::vector<std::string> preferred;
  for (const auto& language : localizationSearchOrder())
    if (language != "Base" && has(language)) preferred.push_back(language);
  if (preferred.empty()) {
    if (has("en"))
      preferred.push_back("en");
    else
      for (const auto& name : present)
        if (name != "Base") {
          preferred.push_back(name);
          break;
        }
  }
  return preferred;
}

std::string Bundle::description() const { return "Bundle <" + path_ + ">"; }

}  // namespace zv

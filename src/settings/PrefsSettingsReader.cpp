#include "settings/PrefsSettingsReader.h"

#include <cerrno>
#include <filesystem>

#include "platform/foundation/Log.h"
#include "platform/storage/PropertyList.h"

namespace zv {

namespace {

std::string removeAll(std::string text, std::string_view what) {
  if (what.empty()) return text;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at)) text.erase(at, what.size());
  return text;
}

// Absolute names and ".." steps could reach any file of the machine.
bool leadsOutOfFolder(const std::string& name) {
  std::filesystem::path path(name);
  if (path.is_absolute()) return true;
  for (const auto& part : path)
    if (part == "..") return true;
  return false;
}

std::string withoutExtension(const std::string& name) {
  auto dot = name.rfind('.');
  return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

}  // namespace

PrefsSettingsReader::PrefsSettingsReader(std::string_view name, Ref<Bundle> applicationBundle)
    : applicationBundle_(std::move(applicationBundle)), dataSource_(Array::make()) {
  std::string given(name);
  // A row's "File" may name the file itself rather than the description.
  if (given.ends_with(".plist")) given.resize(given.size() - std::string_view(".plist").size());
  std::string path;
  if (leadsOutOfFolder(given)) {
    path = fileWithBundle("Root", "Settings.bundle", "", ".plist");
    loadError_ = Error::make(kPOSIXErrorDomain, EINVAL,
                             "the settings description name \"" + std::string(name) + "\" leads out of the settings bundle");
    log(LogLevel::Error, "PrefsSettingsReader::initWithSettingsFileNamed: " + loadError_->localizedDescription());
  } else {
    path = locateSettingsFile(given);
    std::error_code ec;
    if (std::filesystem::exists(path, ec)) {
      Ref<Error> error;
      settingsDictionary_ = dyn<Dictionary>(storage::readPropertyList(path, &error, false, storage::kSmallFileReadLimit));
      if (!settingsDictionary_) {
        std::string reason = error ? error->localizedDescription() : std::string("not a dictionary");
        loadError_ = Error::make(error ? error->domain() : kPOSIXErrorDomain, error ? error->code() : EINVAL,
                                 path + " cannot be read: " + reason);
        log(LogLevel::Error, "PrefsSettingsReader::initWithSettingsFileNamed: cannot read " + path + ": " + reason);
      }
    } else {
      loadError_ = Error::make(kPOSIXErrorDomain, ENOENT, path + " does not exist");
      log(LogLevel::Debug, "PrefsSettingsReader::initWithSettingsFileNamed: no settings description at " + path);
    }
  }
  std::filesystem::path file(path);
  settingsFolder_ = file.parent_path().string();
  settingsBundle_ = Bundle::bundleWithPath(settingsFolder_);

  if (settingsDictionary_) {
    if (auto table = settingsDictionary_->stringForKey("StringsTable")) localizationTable_ = *table;
  }
  if (localizationTable_.empty()) {
    std::string table = withoutExtension(withoutExtension(file.filename().string()));
    table = removeAll(table, platformSuffixForInterfaceIdiom(ApplicationEnvironment::shared().userInterfaceIdiom()));
    if (!settingsBundle_ || !settingsBundle_->pathForResource(table, "strings")) table = "Root";
    localizationTable_ = table;
  }
  if (settingsDictionary_) buildSections();
}

Ref<PrefsSettingsReader> PrefsSettingsReader::make(std::string_view name, Ref<Bundle> applicationBundle) {
  return std::make_shared<PrefsSettingsReader>(name, std::move(applicationBundle));
}

Ref<PrefsSettingsReader> PrefsSettingsReader::makeWithFile(std::string_view name) {
  return make(name, Bundle::mainBundle());
}

std::string PrefsSettingsReader::platformSuffixForInterfaceIdiom(UserInterfaceIdiom idiom) {
  return idiom == UserInterfaceIdiom::Pad ? "~ipad" : "~iphone";
}

std::string PrefsSettingsReader::fileWithBundle(std::string_view name, std::string_view bundleFolder,
                                                std::string_view suffix, std::string_view extension) const {
  std::filesystem::path base = applicationBundle_ ? applicationBundle_->bundlePath() : std::string();
  std::string file = std::string(name) + std::string(suffix) + std::string(extension);
  return (base / std::string(bundleFolder) / file).string();
}

std::string PrefsSettingsReader::locateSettingsFile(std::string_view name) const {
  const auto& environment = ApplicationEnvironment::shared();
  std::string language = environment.preferredLanguages().front() + ".lproj";
  std::string deviceSuffix = platformSuffixForInterfaceIdiom(environment.userInterfaceIdiom());
  std::string candidate;
  for (const char* bundleFolder : {"AppPrefs.bundle", "Settings.bundle"}) {
    for (const char* extension : {".prefs.plist", ".plist"}) {
      for (const std::string& suffix : {deviceSuffix, std::string()}) {
        for (const std::string& languageFolder : {language, std::string()}) {
          std::string folder = std::string(bundleFolder);
          if (!languageFolder.empty()) folder += "/" + languageFolder;
          candidate = fileWithBundle(name, folder, suffix, extension);
          std::error_code ec;
          if (std::filesystem::is_regular_file(candidate, ec)) return candidate;
        }
      }
    }
  }
  return candidate;
}

void PrefsSettingsReader::buildSections() {
  std::vector<ObjectPtr> sections;
  Ref<MutableArray> current;
  auto rows = settingsDictionary_ ? settingsDictionary_->objectForKeyAs<Array>("PreferenceSpecifiers") : nullptr;
  if (rows) {
    for (const auto& item : *rows) {
      auto row = dyn<Dictionary>(item);
      if (!row) continue;  // not a row dictionary: nothing to show
      auto key = row->stringForKey("Key");
      if (key && hiddenKeys_ && hiddenKeys_->containsString(*key)) continue;
      if (row->stringForKey("Type") == kPrefsPSGroupSpecifier) {
        current = MutableArray::make({row});
        sections.push_back(current);
        continue;
      }
      if (!current) {
        current = MutableArray::make();
        sections.push_back(current);
      }
      current->addObject(PrefsSpecifier::make(row));
    }
  }
  dataSource_ = Array::make(std::move(sections));
}

void PrefsSettingsReader::setHiddenKeys(Ref<Set> hiddenKeys) {
  if (hiddenKeys == hiddenKeys_) return;
  hiddenKeys_ = std::move(hiddenKeys);
  if (settingsDictionary_) buildSections();
}

Ref<Array> PrefsSettingsReader::section(std::size_t index) const {
  if (!dataSource_ || index >= dataSource_->count()) return nullptr;
  return dataSource_->objectAtIndexAs<Array>(index);
}

bool PrefsSettingsReader::hasHeading(const Array& section) {
  return section.count() > 0 && dyn<Dictionary>(section.objectAtIndex(0)) != nullptr;
}

std::size_t PrefsSettingsReader::numberOfSections() const { return dataSource_ ? dataSource_->count() : 0; }

std::size_t PrefsSettingsReader::numberOfRowsForSection(std::size_t index) const {
  auto s = section(index);
  if (!s) return 0;
  return s->count() - (hasHeading(*s) ? 1 : 0);
}

Ref<PrefsSpecifier> PrefsSettingsReader::specifierForIndexPath(const IndexPath& indexPath) {
  auto s = section(indexPath.section());
  if (!s) return nullptr;
  std::size_t element = indexPath.row() + (hasHeading(*s) ? 1 : 0);
  if (element >= s->count()) return nullptr;
  auto specifier = s->objectAtIndexAs<PrefsSpecifier>(element);
  if (specifier) specifier->setSettingsReader(selfAs<PrefsSettingsReader>());
  return specifier;
}

Ref<IndexPath> PrefsSettingsReader::indexPathForKey(std::string_view key) const {
  for (std::size_t sectionIndex = 0; sectionIndex < numberOfSections(); ++sectionIndex) {
    auto s = section(sectionIndex);
    bool heading = hasHeading(*s);
    for (std::size_t element = 0; element < s->count(); ++element) {
      auto specifier = s->objectAtIndexAs<PrefsSpecifier>(element);
      if (specifier && specifier->key() == key) return IndexPath::forRow(element - (heading ? 1 : 0), sectionIndex);
    }
  }
  return nullptr;
}

Ref<PrefsSpecifier> PrefsSettingsReader::specifierForKey(std::string_view key) const {
  for (std::size_t sectionIndex = 0; sectionIndex < numberOfSections(); ++sectionIndex) {
    for (const auto& element : *section(sectionIndex)) {
      auto specifier = dyn<PrefsSpecifier>(element);
      if (specifier && specifier->key() == key) return specifier;
    }
  }
  return nullptr;
}

std::optional<std::string> PrefsSettingsReader::titleForSection(std::size_t index) const {
  auto s = section(index);
  if (!s || !hasHeading(*s)) return std::nullopt;
  auto title = s->objectAtIndexAs<Dictionary>(0)->stringForKey("Title");
  if (!title) return std::nullopt;
  return titleForStringId(*title);
}

std::optional<std::string> PrefsSettingsReader::keyForSection(std::size_t index) const {
  auto s = section(index);
  if (!s || !hasHeading(*s)) return std::nullopt;
  return s->objectAtIndexAs<Dictionary>(0)->stringForKey("Key");
}

std::optional<std::string> PrefsSettingsReader::footerTextForSection(std::size_t index) const {
  auto s = section(index);
  if (!s || !hasHeading(*s)) return std::nullopt;
  auto footer = s->objectAtIndexAs<Dictionary>(0)->stringForKey("FooterText");
  if (!footer) return std::nullopt;
  return titleForStringId(*footer);
}

std::string PrefsSettingsReader::titleForStringId(std::string_view stringId) const {
  if (!settingsBundle_) return std::string(stringId);
  return settingsBundle_->localizedStringForKey(stringId, stringId, localizationTable_);
}

std::string PrefsSettingsReader::pathForImageNamed(std::string_view name) const {
  return (std::filesystem::path(settingsFolder_) / std::string(name)).string();
}

}  // namespace zv

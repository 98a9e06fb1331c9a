#include "platform/system/ApplicationEnvironment.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <random>

#include "platform/foundation/AsciiText.h"
#include "platform/foundation/Log.h"
#include "platform/storage/AtomicFile.h"

namespace zv {

namespace {

std::optional<std::string> environmentValue(const char* name) {
  const char* value = std::getenv(name);
  if (!value || !*value) return std::nullopt;
  return std::string(value);
}

// The user's home folder: $HOME, else the password database's entry for the user. Only an
// absolute path counts: a relative one would put the files under whatever folder the process
// happens to start in. The root folder when neither names one (saves then fail, loudly).
std::filesystem::path userHome() {
  if (auto home = environmentValue("HOME"); home && std::filesystem::path(*home).is_absolute()) return *home;
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
  struct passwd entry {};
  struct passwd* found = nullptr;
  while (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == ERANGE && buffer.size() < (1u << 20))
    buffer.resize(buffer.size() * 2);
  if (found && found->pw_dir && std::filesystem::path(found->pw_dir).is_absolute()) return found->pw_dir;
  logError("no home folder: HOME is not set and the user has no entry in the password database");
  return "/";
}

// $XDG_DATA_HOME, else ~/.local/share. A relative $XDG_DATA_HOME is ignored, as the base
// directory rules say.
std::filesystem::path dataHome() {
  if (auto xdg = environmentValue("XDG_DATA_HOME"); xdg && std::filesystem::path(*xdg).is_absolute()) return *xdg;
  return userHome() / ".local" / "share";
}

constexpr const char* kProcessFolderPrefix = "process-";
constexpr const char* kMakingFolderPrefix = ".making-";
constexpr const char* kOwnerFileName = ".owner";
constexpr auto kPrivateFolder = std::filesystem::perms::owner_all;

// Removes the process folders under `temporary` whose owner has ended: nobody holds the lock on
// their owner file any more (a lock goes with its process, however that process ended).
void removeFoldersOfEndedProcesses(const std::filesystem::path& temporary) {
  std::error_code failure;
  std::vector<std::filesystem::path> ended;
  for (std::filesystem::directory_iterator it(temporary, failure), end; !failure && it != end; it.increment(failure)) {
    auto name = it->path().filename().string();
    bool placed = name.rfind(kProcessFolderPrefix, 0) == 0;
    if (!placed && name.rfind(kMakingFolderPrefix, 0) != 0) continue;
    int fd = ::open((it->path() / kOwnerFileName).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
      // A folder is renamed into place only once its owner holds the lock: one in place without
      // an owner file was left half made (one still being made may not have it yet).
      if (placed && errno == ENOENT) ended.push_back(it->path());
      continue;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) ended.push_back(it->path());
    ::close(fd);
  }
  for (const auto& folder : ended) {
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    logLine("[INFO] removed the temporary files of an ended process: " + folder.filename().string());
  }
}

std::string randomName() {
  std::random_device source;
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string name;
  for (int i = 0; i < 4; ++i) {
    unsigned value = source();
    for (int j = 0; j < 8; ++j, value >>= 4) name.push_back(kDigits[value & 0xF]);
  }
  return name;
}

}  // namespace

namespace {

std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (;;) {
    auto end = text.find(separator, start);
    std::string part(ascii::trim(std::string_view(text).substr(start, end == std::string::npos ? end : end - start)));
    if (!part.empty()) parts.push_back(std::move(part));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return parts;
}

void appendUnique(std::vector<std::string>& list, std::string value) {
  for (const auto& existing : list)
    if (existing == value) return;
  list.push_back(std::move(value));
}

std::vector<std::string> defaultLanguages() {
  std::vector<std::string> languages;
  if (auto configured = environmentValue("ZV_LANGUAGES")) {
    for (auto& language : split(*configured, ',')) appendUnique(languages, std::move(language));
  }
  for (const char* variable : {"LANGUAGE", "LC_ALL", "LANG"}) {
    if (!languages.empty()) break;
    if (auto names = environmentValue(variable)) languages = ApplicationEnvironment::languagesFromLocaleNames(*names);
  }
  if (languages.empty()) languages.push_back("en");
  return languages;
}

utsname machineNames() {
  utsname names{};
  if (::uname(&names) != 0) names = utsname{};
  return names;
}

}  // namespace

ApplicationEnvironment& ApplicationEnvironment::shared() {
  static ApplicationEnvironment& environment = *new ApplicationEnvironment;
  return environment;
}

namespace {
// Made before main: a fork never finds it half made.
[[maybe_unused]] const bool gEnvironmentMade = (ApplicationEnvironment::shared(), true);
}  // namespace

ApplicationEnvironment::ApplicationEnvironment()
    : mutex_(ForkLockLevel::ApplicationEnvironment, [this] {
        // The parent's folder and lock stay the parent's (see processTemporaryDirectory).
        if (processTemporaryLock_ >= 0) ::close(processTemporaryLock_);
        processTemporaryLock_ = -1;
        processTemporary_.reset();
      }) {}

std::vector<std::string> ApplicationEnvironment::languagesFromLocaleNames(const std::string& names) {
  std::vector<std::string> languages;
  for (const auto& name : split(names, ':')) {
    // "ll_RR.codeset@modifier": only the language code is kept.
    std::string language = name.substr(0, name.find_first_of("_.@-"));
    if (language.empty() || language == "C" || language == "POSIX") continue;
    bool letters = true;
    for (char c : language) letters = letters && ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'));
    if (!letters) continue;
    for (char& c : language) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    appendUnique(languages, std::move(language));
  }
  return languages;
}

std::string ApplicationEnvironment::countryFromLocaleName(const std::string& name) {
  auto underscore = name.find('_');
  if (underscore == std::string::npos) return {};
  std::string country = name.substr(underscore + 1, name.find_first_of(".@", underscore) - underscore - 1);
  for (char& c : country) {
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))) return {};
    c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  }
  return country;
}

std::string ApplicationEnvironment::countryCode() const {
  std::lock_guard lock(mutex_);
  if (!country_) {
    for (const char* variable : {"LC_ALL", "LANG"}) {
      if (auto name = environmentValue(variable)) {
        country_ = countryFromLocaleName(*name);
        if (!country_->empty()) break;
      }
    }
    if (!country_ || country_->empty()) country_ = "US";
  }
  return *country_;
}

void ApplicationEnvironment::setCountryCode(std::string country) {
  std::lock_guard lock(mutex_);
  country_ = std::move(country);
}

std::filesystem::path ApplicationEnvironment::homeDirectory() const {
  std::lock_guard lock(mutex_);
  if (!home_) {
    if (auto configured = environmentValue("ZV_HOME"))
      home_ = std::filesystem::path(*configured);
    else
      home_ = dataHome() / "zerivudor";
  }
  return *home_;
}

void ApplicationEnvironment::setHomeDirectory(std::filesystem::path home) {
  std::lock_guard lock(mutex_);
  home_ = std::move(home);
}

std::filesystem::path ApplicationEnvironment::folderUnderHome(const char* name) const {
  std::filesystem::path folder = homeDirectory() / name;
  std::error_code error;
  storage::createPrivateFolders(folder, error);
  if (error) logError("cannot create folder " + folder.string() + ": " + error.message());
  return folder;
}

std::filesystem::path ApplicationEnvironment::documentsDirectory() const { return folderUnderHome("Documents"); }
std::filesystem::path ApplicationEnvironment::cachesDirectory() const { return folderUnderHome("Caches"); }
std::filesystem::path ApplicationEnvironment::preferencesDirectory() const { return folderUnderHome("Preferences"); }
std::filesystem::path ApplicationEnvironment::temporaryDirectory() const {
  auto folder = folderUnderHome("tmp");
  // Temporary files hold what the user sends and receives: the folder is the user's alone, also
  // one an earlier version made open.
  std::error_code ignored;
  std::filesystem::permissions(folder, kPrivateFolder, std::filesystem::perm_options::replace, ignored);
  return folder;
}

std::filesystem::path ApplicationEnvironment::processTemporaryDirectory() const {
  auto temporary = temporaryDirectory();
  std::lock_guard lock(mutex_);
  if (processTemporary_ && processTemporary_->parent_path() == temporary && std::filesystem::is_directory(*processTemporary_)) {
    return *processTemporary_;
  }
  if (processTemporaryLock_ >= 0) ::close(processTemporaryLock_);
  processTemporaryLock_ = -1;
  processTemporary_.reset();
  removeFoldersOfEndedProcesses(temporary);
  // Made under another name, locked, then renamed into place, so that no other process ever sees
  // it without its lock.
  std::string name = randomName();
  auto making = temporary / (kMakingFolderPrefix + name);
  auto folder = temporary / (kProcessFolderPrefix + std::to_string(::getpid()) + "-" + name);
  std::error_code failure;
  storage::createPrivateFolders(making, failure);
  std::filesystem::permissions(making, kPrivateFolder, std::filesystem::perm_options::replace, failure);
  int fd = ::open((making / kOwnerFileName).c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0 || ::flock(fd, LOCK_EX) != 0 || ::rename(making.c_str(), folder.c_str()) != 0) {
    logError("cannot make the process's temporary folder under " + temporary.string());
    if (fd >= 0) ::close(fd);
    std::filesystem::remove_all(making, failure);
    return temporary;
  }
  processTemporaryLock_ = fd;
  processTemporary_ = folder;
  return folder;
}

std::filesystem::path ApplicationEnvironment::sharedRoot() const {
  std::lock_guard lock(mutex_);
  if (!sharedRoot_) {
    if (auto configured = environmentValue("ZV_SHARED_ROOT"))
      sharedRoot_ = std::filesystem::path(*configured);
    else
      sharedRoot_ = dataHome() / "zerivudor-shared";
  }
  return *sharedRoot_;
}

void ApplicationEnvironment::setSharedRoot(std::filesystem::path root) {
  std::lock_guard lock(mutex_);
  sharedRoot_ = std::move(root);
}

std::vector<std::string> ApplicationEnvironment::preferredLanguages() const {
  std::lock_guard lock(mutex_);
  if (!languages_) languages_ = defaultLanguages();
  return *languages_;
}

void ApplicationEnvironment::setPreferredLanguages(std::vector<std::string> languages) {
  std::vector<std::string> kept;
  for (auto& language : languages)
    if (!language.empty()) appendUnique(kept, std::move(language));
  if (kept.empty()) kept.push_back("en");
  std::lock_guard lock(mutex_);
  languages_ = std::move(kept);
}

UserInterfaceIdiom ApplicationEnvironment::userInterfaceIdiom() const {
  std::lock_guard lock(mutex_);
  return idiom_;
}

void ApplicationEnvironment::setUserInterfaceIdiom(UserInterfaceIdiom idiom) {
  std::lock_guard lock(mutex_);
  idiom_ = idiom;
}

std::string ApplicationEnvironment::systemVersion() const {
  std::lock_guard lock(mutex_);
  if (!systemVersion_) {
    std::string release = machineNames().release;
    std::size_t end = 0;
    while (end < release.size() && ((release[end] >= '0' && release[end] <= '9') || release[end] == '.')) ++end;
    std::string version = release.substr(0, end);
    while (!version.empty() && version.back() == '.') version.pop_back();
    systemVersion_ = version.empty() ? "0" : version;
  }
  return *systemVersion_;
}

void ApplicationEnvironment::setSystemVersion(std::string version) {
  std::lock_guard lock(mutex_);
  systemVersion_ = std::move(version);
}

std::string ApplicationEnvironment::deviceModel() const {
  std::lock_guard lock(mutex_);
  if (!deviceModel_) {
    std::string machine = machineNames().machine;
    deviceModel_ = machine.empty() ? "unknown" : machine;
  }
  return *deviceModel_;
}

void ApplicationEnvironment::setDeviceModel(std::string model) {
  std::lock_guard lock(mutex_);
  deviceModel_ = std::move(model);
}

std::shared_ptr<Clock> ApplicationEnvironment::clock() const { return Clock::current(); }

void ApplicationEnvironment::setClock(std::shared_ptr<Clock> clock) { Clock::install(std::move(clock)); }

void ApplicationEnvironment::reset() {
  Clock::install(nullptr);
  std::lock_guard lock(mutex_);
  home_.reset();
  sharedRoot_.reset();
  languages_.reset();
  country_.reset();
  idiom_ = UserInterfaceIdiom::Phone;
  systemVersion_.reset();
  deviceModel_.reset();
  testHostMap_.clear();
  extraTrustAnchor_.reset();
}

void ApplicationEnvironment::setTestHostMap(std::map<std::string, std::uint16_t> hostsToLoopbackPorts) {
  std::map<std::string, std::uint16_t> lowered;
  for (auto& [host, port] : hostsToLoopbackPorts) lowered[ascii::lowercase(host)] = port;
  std::lock_guard lock(mutex_);
  testHostMap_ = std::move(lowered);
}

std::optional<std::uint16_t> ApplicationEnvironment::testLoopbackPort(std::string_view host) const {
  std::lock_guard lock(mutex_);
  if (testHostMap_.empty()) return std::nullopt;
  auto found = testHostMap_.find(ascii::lowercase(host));
  if (found == testHostMap_.end()) return std::nullopt;
  return found->second;
}

void ApplicationEnvironment::setExtraTrustAnchor(std::optional<std::string> certificatePEM) {
  std::lock_guard lock(mutex_);
  extraTrustAnchor_ = std::move(certificatePEM);
}

std::optional<std::string> ApplicationEnvironment::extraTrustAnchor() const {
  std::lock_guard lock(mutex_);
  return extraTrustAnchor_;
}

}  // namespace zv

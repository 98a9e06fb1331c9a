#pragma once
// Where the application lives and what device it believes it runs on: its home folder with the
// documents, caches, preferences and temporary folders; the root shared by every application of
// the user; the preferred languages; the interface idiom, system version and device model; and
// the clock.
//
// Defaults come from the environment when first asked:
//   home            $ZV_HOME, else $XDG_DATA_HOME/zerivudor, else ~/.local/share/zerivudor
//   shared root     $ZV_SHARED_ROOT, else $XDG_DATA_HOME/zerivudor-shared, else
//                   ~/.local/share/zerivudor-shared
//   (a relative $XDG_DATA_HOME is ignored; ~ is $HOME when it is an absolute path, else the
//   user's home in the password database)
//   languages       $ZV_LANGUAGES (comma list, used as given), else the language codes of
//                   $LANGUAGE, $LC_ALL or $LANG ("pt_BR.UTF-8" gives "pt"), else "en"
// Every value can be set (tests point the home at a temporary folder).
//
// Threads: any thread may call; setters take effect for later calls.

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Clock.h"
#include "platform/foundation/ForkHandlers.h"

namespace zv {

enum class UserInterfaceIdiom { Phone = 0, Pad = 1 };

class ApplicationEnvironment {
 public:
  static ApplicationEnvironment& shared();

  std::filesystem::path homeDirectory() const;
  void setHomeDirectory(std::filesystem::path home);
  // Folders under the home, created when asked for with mode 0700, the home too when missing (an
  // error creating one is logged; the path is returned all the same).
  std::filesystem::path documentsDirectory() const;      // <home>/Documents
  std::filesystem::path cachesDirectory() const;         // <home>/Caches
  std::filesystem::path preferencesDirectory() const;    // <home>/Preferences
  std::filesystem::path temporaryDirectory() const;      // <home>/tmp, mode 0700
  // A folder of this process's own under the temporary folder (mode 0700), for files that must
  // not outlive the process (request bodies, partial downloads). The process holds a lock on it
  // while it lives; the first call of a process for a home removes the folders of processes that
  // ended without cleaning up (killed, crashed), with everything in them.
  //
  // The lock is flock's, which belongs to the open file, not to a process: a child made by fork
  // (without exec) shares it through its copy of the descriptor. Releasing it there would release
  // the parent's, and keeping the copy open would keep the parent's folder alive after the parent
  // ended. So the child closes its copy (the lock stays the parent's) and makes a folder of its
  // own at its first call; it never uses the parent's.
  std::filesystem::path processTemporaryDirectory() const;

  // Data shared by every application of the user (named pasteboards).
  std::filesystem::path sharedRoot() const;
  void setSharedRoot(std::filesystem::path root);

  // Language identifiers, most preferred first; never empty.
  std::vector<std::string> preferredLanguages() const;
  void setPreferredLanguages(std::vector<std::string> languages);

  // The country of the current locale ("US" from "en_US.UTF-8" in $LC_ALL, else $LANG; "US" when
  // neither names one).
  std::string countryCode() const;
  void setCountryCode(std::string country);

  UserInterfaceIdiom userInterfaceIdiom() const;
  void setUserInterfaceIdiom(UserInterfaceIdiom idiom);

  // The operating system's release ("6.1.0"), the numeric start of the kernel release.
  std::string systemVersion() const;
  void setSystemVersion(std::string version);
  // The machine's hardware name ("x86_64"), as uname reports it.
  std::string deviceModel() const;
  void setDeviceModel(std::string model);

  // The process clock (Clock::current()); setClock installs one (nullptr: the system clock).
  std::shared_ptr<Clock> clock() const;
  void setClock(std::shared_ptr<Clock> clock);

  // Test seam, empty unless a test sets it (nothing reads it from the environment or a file).
  // Connections the network layer makes to a host named here go to 127.0.0.1 on the given port
  // instead of the resolved address; the request keeps the real host for its Host header, SNI and
  // certificate check. Host names are matched without regard to case; setting replaces the map.
  void setTestHostMap(std::map<std::string, std::uint16_t> hostsToLoopbackPorts);
  std::optional<std::uint16_t> testLoopbackPort(std::string_view host) const;
  // One more trusted certificate authority (PEM) for the TLS connections opened afterwards, beside
  // the system's; nullopt removes it.
  void setExtraTrustAnchor(std::optional<std::string> certificatePEM);
  std::optional<std::string> extraTrustAnchor() const;

  // Forgets every value set or read so far (the clock included: the system clock is back); the
  // next calls read the environment again.
  void reset();

  // The parsing behind the language default, exposed for tests: a POSIX locale list
  // ("fr_FR.UTF-8:de") to language codes.
  static std::vector<std::string> languagesFromLocaleNames(const std::string& names);
  // The country part of a POSIX locale name ("pt_BR.UTF-8" gives "BR"); empty when none.
  static std::string countryFromLocaleName(const std::string& name);

 private:
  ApplicationEnvironment();
  std::filesystem::path folderUnderHome(const char* name) const;

  mutable ForkMutex mutex_;
  mutable std::optional<std::filesystem::path> home_;
  mutable std::optional<std::filesystem::path> sharedRoot_;
  mutable std::optional<std::vector<std::string>> languages_;
  mutable std::optional<std::string> country_;
  UserInterfaceIdiom idiom_ = UserInterfaceIdiom::Phone;
  mutable std::optional<std::string> systemVersion_;
  mutable std::optional<std::string> deviceModel_;
  // This process's temporary folder and the descriptor whose lock marks it as alive.
  mutable std::optional<std::filesystem::path> processTemporary_;
  mutable int processTemporaryLock_ = -1;
  std::map<std::string, std::uint16_t> testHostMap_;
  std::optional<std::string> extraTrustAnchor_;
};

}  // namespace zv

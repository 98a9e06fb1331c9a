#include "platform/system/ApplicationEnvironment.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "platform/foundation/Date.h"
#include "platform/system/SystemTestSupport.h"

namespace zv {
namespace {

using testing::ScopedEnvironment;
using testing::TemporaryDirectory;

class ApplicationEnvironmentTest : public ::testing::Test {
 protected:
  void SetUp() override { ApplicationEnvironment::shared().reset(); }
  void TearDown() override { ApplicationEnvironment::shared().reset(); }
  ScopedEnvironment variables;
  TemporaryDirectory temporary;
};

TEST(ApplicationEnvironmentLanguages, LocaleNamesGiveLanguageCodes) {
  const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
      {"en_US.UTF-8", {"en"}},
      {"fr_FR.UTF-8:de:en", {"fr", "de", "en"}},
      {"pt_BR:pt", {"pt"}},
      {"sr@latin", {"sr"}},
      {"C", {}},
      {"POSIX:C.UTF-8", {}},
      {"", {}},
      {"DE_de", {"de"}},
      {"1x:it", {"it"}},
  };
  for (const auto& [names, expected] : cases)
    EXPECT_EQ(ApplicationEnvironment::languagesFromLocaleNames(names), expected) << names;
}

TEST(ApplicationEnvironmentLanguages, LocaleNamesGiveCountryCodes) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"en_US.UTF-8", "US"}, {"pt_br", "BR"}, {"sr_RS@latin", "RS"}, {"C.UTF-8", ""}, {"de", ""}, {"x_1", ""},
  };
  for (const auto& [name, expected] : cases)
    EXPECT_EQ(ApplicationEnvironment::countryFromLocaleName(name), expected) << name;
}

TEST_F(ApplicationEnvironmentTest, DefaultsComeFromTheEnvironmentVariables) {
  variables.set("ZV_HOME", (temporary.path() / "app").string());
  variables.set("ZV_SHARED_ROOT", (temporary.path() / "shared").string());
  variables.set("ZV_LANGUAGES", " it , en-GB,,it");
  variables.set("LANG", "fr_FR.UTF-8");
  auto& environment = ApplicationEnvironment::shared();
  EXPECT_EQ(environment.homeDirectory(), temporary.path() / "app");
  EXPECT_EQ(environment.sharedRoot(), temporary.path() / "shared");
  EXPECT_EQ(environment.preferredLanguages(), (std::vector<std::string>{"it", "en-GB"}));
}

TEST_F(ApplicationEnvironmentTest, FallsBackToTheDataHomeAndLocaleVariables) {
  variables.set("ZV_HOME", std::nullopt);
  variables.set("ZV_SHARED_ROOT", std::nullopt);
  variables.set("ZV_LANGUAGES", std::nullopt);
  variables.set("XDG_DATA_HOME", temporary.path().string());
  variables.set("LANGUAGE", std::nullopt);
  variables.set("LC_ALL", "de_DE.UTF-8");
  variables.set("LANG", "fr_FR.UTF-8");
  auto& environment = ApplicationEnvironment::shared();
  EXPECT_EQ(environment.homeDirectory(), temporary.path() / "zerivudor");
  EXPECT_EQ(environment.sharedRoot(), temporary.path() / "zerivudor-shared");
  EXPECT_EQ(environment.preferredLanguages(), std::vector<std::string>{"de"});
  EXPECT_EQ(environment.countryCode(), "DE");

  environment.reset();
  variables.set("XDG_DATA_HOME", std::nullopt);
  variables.set("HOME", temporary.path().string());
  variables.set("LC_ALL", std::nullopt);
  variables.set("LANG", "C.UTF-8");
  EXPECT_EQ(environment.homeDirectory(), temporary.path() / ".local" / "share" / "zerivudor");
  EXPECT_EQ(environment.preferredLanguages(), std::vector<std::string>{"en"});
  EXPECT_EQ(environment.countryCode(), "US");
}

// Without HOME (a service, a cron job) the home comes from the password database, never from the
// folder the process started in; a relative XDG_DATA_HOME is ignored for the same reason.
TEST_F(ApplicationEnvironmentTest, WithoutHomeTheUsersHomeComesFromThePasswordDatabase) {
  struct passwd* user = ::getpwuid(::getuid());
  ASSERT_TRUE(user && user->pw_dir);
  std::filesystem::path userHome = user->pw_dir;
  variables.set("ZV_HOME", std::nullopt);
  variables.set("ZV_SHARED_ROOT", std::nullopt);
  variables.set("HOME", std::nullopt);
  variables.set("XDG_DATA_HOME", "relative/data");
  auto& environment = ApplicationEnvironment::shared();
  EXPECT_EQ(environment.homeDirectory(), userHome / ".local/share/zerivudor");
  EXPECT_EQ(environment.sharedRoot(), userHome / ".local/share/zerivudor-shared");

  environment.reset();
  variables.set("HOME", temporary.path().string());
  EXPECT_EQ(environment.homeDirectory(), temporary.path() / ".local/share/zerivudor");
}

TEST_F(ApplicationEnvironmentTest, FoldersAreCreatedUnderTheHomeWhenAskedFor) {
  auto& environment = ApplicationEnvironment::shared();
  environment.setHomeDirectory(temporary.path() / "home");
  EXPECT_FALSE(std::filesystem::exists(temporary.path() / "home"));
  mode_t previous = ::umask(022);
  std::vector<std::filesystem::path> folders{environment.documentsDirectory(), environment.cachesDirectory(),
                                             environment.preferencesDirectory(), environment.temporaryDirectory()};
  ::umask(previous);
  // The system's own state is the user's alone, the home first.
  EXPECT_EQ(std::filesystem::status(temporary.path() / "home").permissions(), std::filesystem::perms::owner_all);
  for (const auto& folder : folders) {
    EXPECT_EQ(folder.parent_path(), temporary.path() / "home");
    EXPECT_TRUE(std::filesystem::is_directory(folder)) << folder;
    EXPECT_EQ(std::filesystem::status(folder).permissions(), std::filesystem::perms::owner_all) << folder;
  }
  EXPECT_NE(environment.documentsDirectory(), environment.cachesDirectory());
}

// A process killed (SIGKILL) leaves its temporary files behind; the next start of a process on
// the same home removes them, but never those of a process still alive. The folders are the
// user's alone.
TEST_F(ApplicationEnvironmentTest, TemporaryFilesOfEndedProcessesGoAtTheNextStart) {
  auto& environment = ApplicationEnvironment::shared();
  environment.setHomeDirectory(temporary.path() / "home");
  auto modeOf = [](const std::filesystem::path& path) {
    return std::filesystem::status(path).permissions() & std::filesystem::perms::mask;
  };
  // Each child makes its folder and a file in it, reports the folder, and waits to be killed.
  auto launch = [&](pid_t* child) -> std::filesystem::path {
    int channel[2];
    if (::pipe(channel) != 0) return {};
    *child = ::fork();
    if (*child == 0) {
      ::close(channel[0]);
      auto folder = ApplicationEnvironment::shared().processTemporaryDirectory().string();
      std::FILE* file = std::fopen((std::filesystem::path(folder) / "body").c_str(), "w");
      if (file) std::fputs("password=secret", file), std::fclose(file);
      folder.push_back('\n');
      if (::write(channel[1], folder.data(), folder.size()) < 0) ::_exit(1);
      for (;;) ::pause();
    }
    ::close(channel[1]);
    std::string folder;
    char c;
    while (::read(channel[0], &c, 1) == 1 && c != '\n') folder.push_back(c);
    ::close(channel[0]);
    return folder;
  };
  pid_t killed = -1, alive = -1;
  auto killedFolder = launch(&killed);
  auto aliveFolder = launch(&alive);
  ASSERT_TRUE(std::filesystem::exists(killedFolder / "body")) << killedFolder;
  ASSERT_TRUE(std::filesystem::exists(aliveFolder / "body")) << aliveFolder;
  EXPECT_NE(killedFolder, aliveFolder);
  ::kill(killed, SIGKILL);
  ::waitpid(killed, nullptr, 0);

  auto mine = environment.processTemporaryDirectory();
  EXPECT_FALSE(std::filesystem::exists(killedFolder));
  EXPECT_TRUE(std::filesystem::exists(aliveFolder / "body"));
  EXPECT_EQ(mine.parent_path(), environment.temporaryDirectory());
  EXPECT_EQ(environment.processTemporaryDirectory(), mine);
  EXPECT_EQ(modeOf(environment.temporaryDirectory()), std::filesystem::perms::owner_all);
  EXPECT_EQ(modeOf(mine), std::filesystem::perms::owner_all);
  ::kill(alive, SIGKILL);
  ::waitpid(alive, nullptr, 0);
}

TEST_F(ApplicationEnvironmentTest, DeviceValuesHaveDefaultsAndCanBeSet) {
  auto& environment = ApplicationEnvironment::shared();
  EXPECT_EQ(environment.userInterfaceIdiom(), UserInterfaceIdiom::Phone);
  utsname names{};
  ASSERT_EQ(::uname(&names), 0);
  EXPECT_EQ(environment.deviceModel(), names.machine);
  std::string version = environment.systemVersion();
  ASSERT_FALSE(version.empty());
  EXPECT_TRUE(std::string(names.release).starts_with(version)) << version << " vs " << names.release;
  EXPECT_EQ(version.find_first_not_of("0123456789."), std::string::npos);

  environment.setUserInterfaceIdiom(UserInterfaceIdiom::Pad);
  environment.setSystemVersion("5.1");
  environment.setDeviceModel("phone4,1");
  environment.setPreferredLanguages({"", "fr", "fr"});
  EXPECT_EQ(environment.userInterfaceIdiom(), UserInterfaceIdiom::Pad);
  EXPECT_EQ(environment.systemVersion(), "5.1");
  EXPECT_EQ(environment.deviceModel(), "phone4,1");
  EXPECT_EQ(environment.preferredLanguages(), std::vector<std::string>{"fr"});
}

TEST_F(ApplicationEnvironmentTest, TheClockIsTheProcessClock) {
  auto& environment = ApplicationEnvironment::shared();
  auto manual = std::make_shared<ManualClock>(1000.0);
  environment.setClock(manual);
  EXPECT_EQ(environment.clock(), manual);
  EXPECT_DOUBLE_EQ(Date::now()->timeIntervalSinceReferenceDate(), 1000.0);
  environment.setClock(nullptr);
  EXPECT_NE(environment.clock(), manual);
  // A reset puts the system clock back, so a test's fake time never leaks into the next one.
  environment.setClock(manual);
  environment.reset();
  EXPECT_TRUE(std::dynamic_pointer_cast<SystemClock>(environment.clock()));
  EXPECT_GT(Date::now()->timeIntervalSinceReferenceDate(), 1000.0);
}

}  // namespace
}  // namespace zv

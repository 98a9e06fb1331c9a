// scripts/setup against stand-ins for id, sudo, the package tools and cmake, which log how they
// were called: who installs (root directly, anyone else through sudo) and who builds.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>

#include "support/TestSupport.h"

namespace zv {
namespace {

class SetupScript : public ::testing::Test {
 protected:
  void SetUp() override {
    auto stub = [&](const std::string& name, const std::string& body) {
      auto path = tools / name;
      testing::writeFile(path, "#!/bin/sh\n" + body);
      ::chmod(path.c_str(), 0755);
    };
    stub("id", "case \"$1\" in -u) echo \"$STUB_UID\" ;; -un) echo tester ;; *) echo \"uid=$STUB_UID\" ;; esac\n");
    stub("sudo", "echo \"sudo $*\" >> \"$STUB_LOG\"\nSTUB_UID=0 STUB_AS_ROOT=yes exec \"$@\"\n");
    stub("dpkg-query", "exit 1\n");
    stub("apt-get", "echo \"apt-get $* root=${STUB_AS_ROOT:-no} frontend=${DEBIAN_FRONTEND:-}\" >> \"$STUB_LOG\"\n");
    stub("locale", "exit 0\n");
    stub("localedef", "echo \"localedef root=${STUB_AS_ROOT:-no}\" >> \"$STUB_LOG\"\n");
    stub("cmake", "echo \"cmake root=${STUB_AS_ROOT:-no}\" >> \"$STUB_LOG\"\n");
  }
  // Runs the script as the user `uid`; its output.
  std::string run(int uid) {
    auto output = directory / "output";
    std::string command = "cd " + directory.path().string() + " && PATH=" + tools.string() + ":/usr/bin:/bin STUB_UID=" +
                          std::to_string(uid) + " STUB_LOG=" + log.string() + " BUILD_DIR=" + (directory / "build").string() +
                          " bash " ZV_SOURCE_DIR "/scripts/setup > " + output.string() + " 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << testing::readFile(output);
    return testing::readFile(output);
  }
  testing::TemporaryDirectory directory;
  std::filesystem::path tools = [this] {
    std::filesystem::create_directories(directory / "tools");
    return directory / "tools";
  }();
  std::filesystem::path log = directory / "log";
};

TEST_F(SetupScript, InstallsAsRootOrThroughSudoAndAlwaysBuildsAsTheCaller) {
  for (int uid : {1000, 0}) {
    SCOPED_TRACE(uid);
    std::filesystem::remove(log);
    auto output = run(uid);
    bool asUser = uid != 0;
    EXPECT_EQ(output.find("through sudo") != std::string::npos, asUser) << output;
    int sudos = 0, installs = 0, installsAsRoot = 0, localesAsRoot = 0, builds = 0, buildsAsRoot = 0;
    std::istringstream lines(testing::readFile(log));
    for (std::string line; std::getline(lines, line);) {
      sudos += line.rfind("sudo ", 0) == 0;
      if (line.rfind("apt-get ", 0) == 0) {
        ++installs;
        EXPECT_NE(line.find("frontend=noninteractive"), std::string::npos) << line;
        installsAsRoot += line.find("root=yes") != std::string::npos;
      }
      localesAsRoot += line == "localedef root=yes";
      builds += line.rfind("cmake ", 0) == 0;
      buildsAsRoot += line == "cmake root=yes";
    }
    EXPECT_EQ(installs, 2);  // update, then install
    EXPECT_EQ(builds, 2);    // configure, then build
    EXPECT_EQ(buildsAsRoot, 0);
    if (asUser) {
      EXPECT_EQ(sudos, 3);
      EXPECT_EQ(installsAsRoot, 2);
      EXPECT_EQ(localesAsRoot, 1);
    } else {
      EXPECT_EQ(sudos, 0);
    }
  }
}

// scripts/test configures a build folder as a sanitizer build (Debug) when ZV_SANITIZE says so,
// whether the folder is new or was configured before, and a new one as a plain build otherwise,
// whatever the folder is called.
TEST(TestScript, ConfiguresTheSanitizerItIsAskedFor) {
  testing::TemporaryDirectory directory;
  auto tools = directory / "tools";
  auto log = directory / "log";
  for (const char* name : {"cmake", "ctest"}) {
    testing::writeFile(tools / name, std::string("#!/bin/sh\necho \"") + name + " $*\" >> \"$STUB_LOG\"\nmkdir -p \"$BUILD_DIR\"\n");
    ::chmod((tools / name).c_str(), 0755);
  }
  auto configureLine = [&](const std::string& sanitizer, const std::string& folder) {
    std::filesystem::remove(log);
    auto output = directory / "output";
    std::string command = "PATH=" + tools.string() + ":/usr/bin:/bin STUB_LOG=" + log.string() + " BUILD_DIR=" +
                          (directory / folder).string() + " ZV_SANITIZE=" + sanitizer + " bash " ZV_SOURCE_DIR
                          "/scripts/test > " + output.string() + " 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << testing::readFile(output);
    std::istringstream lines(testing::readFile(log));
    for (std::string line; std::getline(lines, line);)
      if (line.find(" -S ") != std::string::npos) return line;
    return std::string();
  };
  auto sanitized = configureLine("address", "build-asan");
  EXPECT_NE(sanitized.find("-DZV_SANITIZE=address"), std::string::npos) << sanitized;
  EXPECT_NE(sanitized.find("-DCMAKE_BUILD_TYPE=Debug"), std::string::npos) << sanitized;
  auto plain = configureLine("", "build-plain");
  EXPECT_NE(plain.find("-DCMAKE_BUILD_TYPE=RelWithDebInfo"), std::string::npos) << plain;
  EXPECT_EQ(plain.find("ZV_SANITIZE"), std::string::npos) << plain;

  testing::writeFile(directory / "build-before/CMakeCache.txt", "CMAKE_BUILD_TYPE:STRING=Release\n");
  auto again = configureLine("thread", "build-before");
  EXPECT_NE(again.find("-DZV_SANITIZE=thread"), std::string::npos) << again;
  EXPECT_NE(again.find("-DCMAKE_BUILD_TYPE=Debug"), std::string::npos) << again;
  EXPECT_EQ(configureLine("", "build-before"), "") << "a folder configured before keeps its configuration";
}

}  // namespace
}  // namespace zv

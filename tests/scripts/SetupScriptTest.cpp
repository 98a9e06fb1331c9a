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

}  // namespace
}  // namespace zv

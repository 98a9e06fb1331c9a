#pragma once
// A fixture that gives each test its own application home, shared root and main bundle in a
// temporary folder, English as the only language, and a fresh standard user defaults; and a
// helper that sets environment variables for the length of a scope.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/system/ApplicationEnvironment.h"
#include "platform/system/Bundle.h"
#include "platform/system/UserDefaults.h"
#include "support/TestSupport.h"

namespace zv::testing {

class ScopedEnvironment {
 public:
  ScopedEnvironment() = default;
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;
  ~ScopedEnvironment() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
      if (it->second)
        ::setenv(it->first.c_str(), it->second->c_str(), 1);
      else
        ::unsetenv(it->first.c_str());
    }
  }
  // nullopt unsets the variable.
  void set(const std::string& name, std::optional<std::string> value) {
    const char* old = std::getenv(name.c_str());
    saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    if (value)
      ::setenv(name.c_str(), value->c_str(), 1);
    else
      ::unsetenv(name.c_str());
  }

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

class SystemTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto& environment = ApplicationEnvironment::shared();
    environment.reset();
    environment.setHomeDirectory(temporary.path() / "home");
    environment.setSharedRoot(temporary.path() / "shared");
    environment.setPreferredLanguages({"en"});
    std::filesystem::create_directories(resources());
    Bundle::setMainBundlePath(resources());
    UserDefaults::resetStandardUserDefaults();
  }

  void TearDown() override {
    UserDefaults::resetStandardUserDefaults();
    Bundle::setMainBundlePath(std::nullopt);
    ApplicationEnvironment::shared().reset();
  }

  std::filesystem::path resources() const { return temporary.path() / "resources"; }
  std::filesystem::path home() const { return temporary.path() / "home"; }

  TemporaryDirectory temporary;
};

}  // namespace zv::testing

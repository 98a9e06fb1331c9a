#include <gtest/gtest.h>

#include "app/SettingsDefaults.h"
#include "platform/system/ApplicationEnvironment.h"
#include "support/TestSupport.h"

namespace zv {
namespace {

std::filesystem::path shippedResources() { return std::filesystem::path(ZV_SOURCE_DIR) / "resources"; }

class SettingsDefaultsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ApplicationEnvironment::shared().setHomeDirectory(home.path());
    ApplicationEnvironment::shared().setPreferredLanguages({"en"});
    defaults = UserDefaults::makeWithFile(home / "defaults.plist");
  }
  void TearDown() override { ApplicationEnvironment::shared().reset(); }
  testing::TemporaryDirectory home;
  Ref<UserDefaults> defaults;
};

TEST_F(SettingsDefaultsTest, ShippedDescriptionRegistersRootAndChildPaneDefaultsOnce) {
  auto bundle = Bundle::bundleWithPath(shippedResources());
  ASSERT_NE(bundle, nullptr);
  std::size_t first = registerSettingsDefaults(*defaults, bundle);
  EXPECT_GT(first, 10u);
  EXPECT_EQ(intValueOf(defaults->objectForKey("breath_type_preference")), 1);
  EXPECT_EQ(stringValueOf(defaults->objectForKey("use_simulation_preference")), "NO");
  // From the "Display" child pane.
  EXPECT_TRUE(defaults->boolForKey("show_heartbeat_wave_preference"));
  // Rows without a key (links, mail) store nothing; every stored key ends in "_preference".
  for (const auto& [key, value] : defaults->dictionaryRepresentation()->entries())
    EXPECT_TRUE(key->description().ends_with("_preference")) << key->description();
  // A second run changes nothing, and a value the user set survives.
  defaults->setObject(box(3), "breath_type_preference");
  EXPECT_EQ(registerSettingsDefaults(*defaults, bundle), 0u);
  EXPECT_EQ(intValueOf(defaults->objectForKey("breath_type_preference")), 3);
}

TEST_F(SettingsDefaultsTest, PanesThatNameEachOtherAreWalkedOnce) {
  testing::TemporaryDirectory resources;
  auto pane = [](const char* key, const char* child) {
    return std::string("<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>PreferenceSpecifiers</key><array>") +
           "<dict><key>Type</key><string>PSChildPaneSpecifier</string><key>File</key><string>" + child +
           "</string></dict><dict><key>Type</key><string>PSTextFieldSpecifier</string><key>Key</key><string>" + key +
           "</string><key>DefaultValue</key><string>v</string></dict></array></dict></plist>";
  };
  testing::writeFile(resources / "Settings.bundle/Root.plist", pane("a_preference", "Child"));
  testing::writeFile(resources / "Settings.bundle/Child.plist", pane("b_preference", "Root"));
  EXPECT_EQ(registerSettingsDefaults(*defaults, Bundle::bundleWithPath(resources.path())), 2u);
  EXPECT_EQ(defaults->stringForKey("b_preference"), "v");
}

}  // namespace
}  // namespace zv

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/foundation/ClassRegistry.h"
#include "platform/foundation/Exception.h"
#include "sharing/core/SXConfiguration.h"
#include "sharing/core/SXRegisterClasses.h"

namespace zv {
namespace {

class NamedConfigurator : public DefaultSXConfigurator {
 public:
  ObjectPtr appName() override { return box("Named"); }
};

class SXConfigurationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    registerSharingCoreClasses();
    SXConfiguration::resetForTesting();
  }
  void TearDown() override { SXConfiguration::resetForTesting(); }
};

TEST_F(SXConfigurationTest, ReadingBeforeInstallingRaisesIllegalState) {
  try {
    SXConfiguration::sharedInstance();
    FAIL() << "no exception";
  } catch (const Exception& e) {
    EXPECT_EQ(e.name(), "IllegalStateException");
    EXPECT_TRUE(e.reason().starts_with("Sharing must be configured before use. Use your subclass of "
                                       "DefaultSXConfigurator, for more info see "));
    EXPECT_TRUE(e.reason().ends_with(". Example: SharingDemoConfigurator in the demo app"));
  }
  EXPECT_THROW(SXConfigBool("allowOffline"), Exception);
}

TEST_F(SXConfigurationTest, DefaultsAnswerEveryKeyWithItsKind) {
  SXConfiguration::sharedInstanceWithConfigurator(std::make_shared<DefaultSXConfigurator>());
  EXPECT_EQ(SXConfigString("appName"), "My App Name");
  EXPECT_EQ(SXConfigString("flickrCallbackUrl"), "app://flickr");
  EXPECT_EQ(SXConfigString("sharersPlistName"), "SXSharers.plist");
  EXPECT_EQ(SXConfigString("favsPrefixKey"), "SX_FAVS_");
  EXPECT_EQ(SXConfigString("authPrefix"), "SX_AUTH_");
  EXPECT_EQ(SXConfigInteger("maxFavCount"), 3);
  EXPECT_EQ(SXConfigInteger("readabilityUseXAuth"), 1);
  EXPECT_EQ(SXConfigInteger("printOutputType"), 1);
  EXPECT_DOUBLE_EQ(SXConfigFloat("mailJPGQuality"), 1.0);
  EXPECT_TRUE(SXConfigBool("allowOffline"));
  EXPECT_TRUE(SXConfigBool("isMailHTML"));
  EXPECT_FALSE(SXConfigBool("forcePreIOS5TwitterAccess"));
  EXPECT_EQ(SXConfigStringList("facebookListOfPermissions"),
            (std::vector<std::string>{"publish_stream", "offline_access"}));
  EXPECT_EQ(SXConfigStringList("defaultFavoriteURLSharers"),
            (std::vector<std::string>{"SXTwitter", "SXFacebook", "SXReadItLater"}));
  EXPECT_EQ(SXConfigValue("mailBody"), nullptr);
  EXPECT_EQ(SXConfigValue("barTintForView:", box("x")), nullptr);
  // A misspelt key yields nothing and no error.
  EXPECT_EQ(SXConfigValue("appNmae"), nullptr);
  EXPECT_EQ(SXConfigValue("barTintForView"), nullptr);
  // Class keys name a class only when one is registered under the name.
  EXPECT_EQ(SXConfigString("SXShareMenuCellSubclass"), "TableViewCell");
}

TEST_F(SXConfigurationTest, SubclassOverridesAndRegisteredExtraKeys) {
  ClassRegistry::shared().registerClass<NamedConfigurator>("DefaultSXConfigurator").addMethod<NamedConfigurator>(
      "serviceExtraKey", [](NamedConfigurator&, const ClassInfo::Arguments& args) -> ObjectPtr {
        return box(args.empty() ? "none" : "one");
      });
  auto installed = SXConfiguration::sharedInstanceWithConfiguratorClass("NamedConfigurator");
  EXPECT_EQ(SXConfiguration::sharedInstance(), installed);
  EXPECT_EQ(SXConfigString("appName"), "Named");
  EXPECT_EQ(SXConfigString("authPrefix"), "SX_AUTH_");
  EXPECT_EQ(SXConfigString("serviceExtraKey"), "none");
  EXPECT_EQ(stringValueOf(SXConfigValue("serviceExtraKey", box("arg"))), "one");
}

TEST_F(SXConfigurationTest, InstallingTwiceRaisesAndKeepsTheFirst) {
  SXConfiguration::sharedInstanceWithConfigurator(std::make_shared<NamedConfigurator>());
  try {
    SXConfiguration::sharedInstanceWithConfigurator(std::make_shared<DefaultSXConfigurator>());
    FAIL() << "no exception";
  } catch (const Exception& e) {
    EXPECT_EQ(e.name(), "IllegalStateException");
    EXPECT_EQ(e.reason(), "SXConfiguration has already been configured with a delegate.");
  }
  EXPECT_EQ(SXConfigString("appName"), "Named");
  EXPECT_THROW(SXConfiguration::sharedInstanceWithConfiguratorClass("NoSuchConfigurator"), Exception);
}

TEST_F(SXConfigurationTest, AStrayInstanceDoesNotBlockTheInstall) {
  // An instance made outside the install (the old allocation path filled the slot with it, so the
  // real install failed for good) is just an object.
  auto stray = std::make_shared<SXConfiguration>(std::make_shared<DefaultSXConfigurator>());
  EXPECT_FALSE(SXConfiguration::isConfigured());
  auto installed = SXConfiguration::sharedInstanceWithConfigurator(std::make_shared<NamedConfigurator>());
  EXPECT_NE(installed, stray);
  EXPECT_EQ(SXConfigString("appName"), "Named");
  EXPECT_EQ(stray->copy(), stray);
}

TEST_F(SXConfigurationTest, ConcurrentInstallsLeaveExactlyOneAndReadersNeverSeeHalfMade) {
  std::atomic<int> installed{0};
  std::atomic<int> refused{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i) {
    threads.emplace_back([&] {
      try {
        SXConfiguration::sharedInstanceWithConfigurator(std::make_shared<NamedConfigurator>());
        ++installed;
      } catch (const Exception&) {
        ++refused;
      }
      for (int n = 0; n < 50; ++n) {
        if (SXConfiguration::isConfigured()) {
          EXPECT_EQ(SXConfigString("appName"), "Named");
        }
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(installed.load(), 1);
  EXPECT_EQ(refused.load(), 7);
}

}  // namespace
}  // namespace zv

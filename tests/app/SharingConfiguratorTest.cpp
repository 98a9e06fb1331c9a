#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

#include "app/SharingConfigurator.h"
#include "platform/foundation/Log.h"
#include "platform/graphics/Color.h"
#include "platform/storage/PropertyList.h"
#include "platform/system/ApplicationEnvironment.h"
#include "sharing/core/SXRegisterClasses.h"
#include "support/TestSupport.h"

namespace zv {

// Objects whose class names the configurator compares with (class names leave out namespaces;
// a namespace of their own keeps them apart from the real sharers linked into this program).
namespace configurator_test {
class SXTwitter : public Object {};
class SXFacebook : public Object {};
class SXTwitterFork : public Object {};
}  // namespace configurator_test
using configurator_test::SXFacebook;
using configurator_test::SXTwitter;
using configurator_test::SXTwitterFork;

namespace {

class SharingConfiguratorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ApplicationEnvironment::shared().setHomeDirectory(home_.path());
    SXConfiguration::resetForTesting();
  }
  void TearDown() override {
    SXConfiguration::resetForTesting();
    ApplicationEnvironment::shared().reset();
  }
  void writeConfiguration(const Dictionary& entries, std::filesystem::perms perms = std::filesystem::perms::owner_read |
                                                                                     std::filesystem::perms::owner_write) {
    auto path = SharingConfigurator::configurationFilePath();
    ASSERT_TRUE(storage::writePropertyList(path, entries, storage::PropertyListFormat::XML));
    std::filesystem::permissions(path, perms);
  }
  zv::testing::TemporaryDirectory home_;
};

TEST_F(SharingConfiguratorTest, WithoutAFileTheSecretsAreEmptyAndTheApplicationValuesHold) {
  EXPECT_FALSE(std::filesystem::exists(SharingConfigurator::configurationFilePath()));
  registerSharingCoreClasses();
  registerSharingConfiguratorClass();
  SXConfiguration::sharedInstanceWithConfiguratorClass("SharingConfigurator");
  EXPECT_EQ(SXConfigString("appName"), "Tavrilune");
  EXPECT_EQ(SXConfigString("twitterConsumerKey"), "");
  EXPECT_EQ(SXConfigString("facebookAppId"), "");
  EXPECT_EQ(SXConfigString("flickrCallbackUrl"), "app://flickr");
  EXPECT_EQ(SXConfigString("foursquareV2RedirectURI"), "app://foursquare");
  EXPECT_EQ(SXConfigInteger("readabilityUseXAuth"), 1);
  EXPECT_EQ(SXConfigInteger("twitterUseXAuth"), 0);
  EXPECT_TRUE(SXConfigString("twitterCallbackUrl")->starts_with("http://"));
  EXPECT_TRUE(SXConfigString("linkedInCallbackUrl")->ends_with("/callback"));
  // Keys the application leaves alone answer the defaults.
  EXPECT_EQ(SXConfigStringList("facebookListOfPermissions"),
            (std::vector<std::string>{"publish_stream", "offline_access"}));
}

TEST_F(SharingConfiguratorTest, KeysAndSecretsComeFromTheFile) {
  writeConfiguration(*Dictionary::make({{"twitterConsumerKey", box("Kq7Vd2Lr9Xz4Tm1Pw8Nc3B")},
                                        {"twitterSecret", box("top secret")},
                                        {"facebookAppId", box("418305927761042")},
                                        {"readabilityUseXAuth", box(0)},
                                        {"appName", box("Renamed")}}));
  SharingConfigurator configurator;
  EXPECT_EQ(stringValueOf(configurator.twitterConsumerKey()), "Kq7Vd2Lr9Xz4Tm1Pw8Nc3B");
  EXPECT_EQ(stringValueOf(configurator.twitterSecret()), "top secret");
  EXPECT_EQ(stringValueOf(configurator.facebookAppId()), "418305927761042");
  EXPECT_EQ(intValueOf(configurator.readabilityUseXAuth()), 0);
  EXPECT_EQ(stringValueOf(configurator.appName()), "Renamed");
  EXPECT_EQ(stringValueOf(configurator.diigoKey()), "");
}

TEST_F(SharingConfiguratorTest, EntriesOfTheWrongKindAreSkippedWithALogLineWithoutTheirValue) {
  writeConfiguration(*Dictionary::make({{"twitterSecret", box(12345)},
                                        {"twitterUseXAuth", box("yes")},
                                        {"bitLyKey", Array::make({box("R_hidden")})},
                                        {"nonsense", box("x")},
                                        {"diigoKey", box("7c2e90b1f4a65d38")}}));
  LogCapture capture;
  SharingConfigurator configurator;
  EXPECT_EQ(stringValueOf(configurator.twitterSecret()), "");
  EXPECT_EQ(intValueOf(configurator.twitterUseXAuth()), 0);
  EXPECT_EQ(stringValueOf(configurator.bitLyKey()), "");
  EXPECT_EQ(stringValueOf(configurator.diigoKey()), "7c2e90b1f4a65d38");
  EXPECT_TRUE(capture.contains("skips \"twitterSecret\""));
  EXPECT_TRUE(capture.contains("skips \"twitterUseXAuth\""));
  EXPECT_TRUE(capture.contains("skips \"bitLyKey\""));
  EXPECT_TRUE(capture.contains("nonsense"));
  EXPECT_FALSE(capture.contains("12345"));
  EXPECT_FALSE(capture.contains("R_hidden"));
  EXPECT_FALSE(capture.contains("7c2e90b1f4a65d38"));
}

TEST_F(SharingConfiguratorTest, AnUnreadableOrOpenFileIsReported) {
  zv::testing::writeFile(SharingConfigurator::configurationFilePath(), "<plist><dict><key>x</key>");
  {
    LogCapture capture;
    SharingConfigurator configurator;
    EXPECT_EQ(stringValueOf(configurator.twitterSecret()), "");
    EXPECT_TRUE(capture.contains("every service key is empty"));
  }
  writeConfiguration(*Dictionary::make({{"twitterSecret", box("s")}}),
                     std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                         std::filesystem::perms::others_read);
  LogCapture capture;
  SharingConfigurator configurator;
  EXPECT_EQ(stringValueOf(configurator.twitterSecret()), "s");
  EXPECT_TRUE(capture.contains("should be mode 0600"));
}

// Runs `body` in a forked child that is killed when it has not ended within `seconds` (and whose
// memory is capped, so a reader that never stops takes no more than that). True when it ended in
// time and `body` answered true.
bool endsInChildWithin(int seconds, const std::function<bool()>& body) {
  pid_t child = ::fork();
  if (child < 0) return false;
  if (child == 0) {
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    struct rlimit memory = {std::uint64_t{2} << 30, std::uint64_t{2} << 30};
    ::setrlimit(RLIMIT_AS, &memory);
#endif
    ::_exit(body() ? 0 : 1);
  }
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  int status = 0;
  while (::waitpid(child, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(child, SIGKILL);
      ::waitpid(child, &status, 0);
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The launch with a configuration file that cannot be used goes on at once with every key empty
// and one log line naming the reason.
TEST_F(SharingConfiguratorTest, AFileThatIsNoPlainFileOrTooLargeLeavesTheKeysEmptyWithOneLine) {
  const auto path = SharingConfigurator::configurationFilePath();
  auto launchSaysOnce = [&](const std::string& reason) {
    return endsInChildWithin(10, [&] {
      LogCapture capture;
      auto started = std::chrono::steady_clock::now();
      registerSharingCoreClasses();
      registerSharingConfiguratorClass();
      SXConfiguration::sharedInstanceWithConfiguratorClass("SharingConfigurator");
      auto took = std::chrono::steady_clock::now() - started;
      auto lines = capture.lines();
      bool ok = SXConfigString("twitterConsumerKey") == "" && SXConfigString("twitterSecret") == "" &&
                SXConfigString("appName") == "Tavrilune" && lines.size() == 1 &&
                lines[0].find("every service key is empty") != std::string::npos &&
                lines[0].find(reason) != std::string::npos;
      if (!ok)
        for (const auto& line : lines) std::fprintf(stderr, "log: %s\n", line.c_str());
      std::fprintf(stderr, "launch with %s took %lld us\n", reason.c_str(),
                   static_cast<long long>(std::chrono::duration_cast<std::chrono::microseconds>(took).count()));
      return ok;
    });
  };

  ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
  EXPECT_TRUE(launchSaysOnce("named pipe")) << "a pipe nobody writes to";
  std::filesystem::remove(path);

  std::filesystem::create_directory(path);
  EXPECT_TRUE(launchSaysOnce("folder"));
  std::filesystem::remove(path);

  std::filesystem::create_symlink("/dev/zero", path);
  EXPECT_TRUE(launchSaysOnce("character device")) << "a link to an endless device";
  std::filesystem::remove(path);

  // A valid property list padded past the limit is refused unread.
  std::string large = "<plist><dict><key>twitterSecret</key><string>s</string></dict></plist>";
  large += std::string(kSharingConfigurationReadLimit, ' ');
  zv::testing::writeFile(path, large);
  std::filesystem::permissions(path, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  EXPECT_TRUE(launchSaysOnce("larger than"));

  if (::geteuid() != 0) {  // permission bits do not stop root
    std::filesystem::permissions(path, std::filesystem::perms::none);
    EXPECT_TRUE(launchSaysOnce("ermission denied"));
  }
}

TEST_F(SharingConfiguratorTest, BarTintsByExactClassName) {
  SharingConfigurator configurator;
  auto twitter = dyn<graphics::Color>(configurator.barTintForView(std::make_shared<SXTwitter>()));
  ASSERT_TRUE(twitter);
  EXPECT_TRUE(twitter->isEqual(*graphics::Color::make(0, 151.0 / 255, 222.0 / 255, 1)));
  auto facebook = dyn<graphics::Color>(configurator.barTintForView(std::make_shared<SXFacebook>()));
  ASSERT_TRUE(facebook);
  EXPECT_NEAR(facebook->red(), 59.0 / 255, 1e-9);
  EXPECT_EQ(configurator.barTintForView(std::make_shared<SXTwitterFork>()), nullptr);
  EXPECT_EQ(configurator.barTintForView(nullptr), nullptr);
  EXPECT_EQ(configurator.valueForKey("barTintForView:", std::make_shared<SXTwitter>())->description(),
            twitter->description());
}

}  // namespace
}  // namespace zv

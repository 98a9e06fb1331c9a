#include <gtest/gtest.h>

#include <sys/stat.h>

#include <thread>
#include <variant>

#include "platform/foundation/Clock.h"
#include "platform/foundation/Log.h"
#include "platform/system/ApplicationEnvironment.h"
#include "platform/system/Keychain.h"
#include "support/TestSupport.h"

namespace zv {
namespace {

Ref<MutableDictionary> query(std::optional<std::string> service, std::optional<std::string> account) {
  auto q = MutableDictionary::make({{kKeychainClass, box(kKeychainClassGenericPassword)}});
  if (service) q->setObject(box(*service), kKeychainAttributeService);
  if (account) q->setObject(box(*account), kKeychainAttributeAccount);
  return q;
}

Ref<MutableDictionary> item(const std::string& service, const std::string& account, std::string_view password) {
  auto q = query(service, account);
  q->setObject(Data::make(password), kKeychainValueData);
  return q;
}

// The password of an item, or the status when there is none.
std::variant<std::string, KeychainStatus> password(Keychain& keychain, const std::string& service,
                                                   const std::string& account) {
  auto q = query(service, account);
  q->setObject(box(true), kKeychainReturnData);
  ObjectPtr result;
  KeychainStatus status = keychain.copyMatching(*q, &result);
  if (status != kKeychainSuccess) return status;
  return std::string(dyn<Data>(result)->view());
}

class KeychainTest : public ::testing::Test {
 protected:
  void SetUp() override { Clock::install(clock_); }
  void TearDown() override { Clock::install(nullptr); }
  std::shared_ptr<ManualClock> clock_ = std::make_shared<ManualClock>(1000.0);
  zv::testing::TemporaryDirectory folder_;
  Keychain keychain_{folder_.path()};
};

TEST_F(KeychainTest, ItemLifeCycleAnswersThePlatformStatusCodes) {
  EXPECT_EQ(password(keychain_, "SX_AUTH_A", "user"), (std::variant<std::string, KeychainStatus>(kKeychainItemNotFound)));
  EXPECT_EQ(keychain_.addItem(*item("SX_AUTH_A", "user", "secret")), kKeychainSuccess);
  EXPECT_EQ(keychain_.addItem(*item("SX_AUTH_A", "user", "other")), kKeychainDuplicateItem);
  EXPECT_EQ(keychain_.addItem(*item("SX_AUTH_A", "token", "t0k")), kKeychainSuccess);
  EXPECT_EQ(keychain_.addItem(*item("SX_AUTH_B", "user", "b")), kKeychainSuccess);
  EXPECT_EQ(std::get<std::string>(password(keychain_, "SX_AUTH_A", "user")), "secret");

  clock_->set(2000.0);
  auto change = Dictionary::make({{kKeychainValueData, Data::make("new secret")}});
  EXPECT_EQ(keychain_.update(*query("SX_AUTH_A", "user"), *change), kKeychainSuccess);
  EXPECT_EQ(std::get<std::string>(password(keychain_, "SX_AUTH_A", "user")), "new secret");
  EXPECT_EQ(keychain_.update(*query("SX_AUTH_C", "user"), *change), kKeychainItemNotFound);
  // Renaming onto an existing item would make two items with one address.
  auto rename = Dictionary::make({{kKeychainAttributeAccount, box("token")}});
  EXPECT_EQ(keychain_.update(*query("SX_AUTH_A", "user"), *rename), kKeychainDuplicateItem);

  // Attributes of every item of a service, dates kept apart for creation and modification.
  auto all = query("SX_AUTH_A", std::nullopt);
  all->setObject(box(true), kKeychainReturnAttributes);
  all->setObject(box(kKeychainMatchLimitAll), kKeychainMatchLimit);
  ObjectPtr result;
  ASSERT_EQ(keychain_.copyMatching(*all, &result), kKeychainSuccess);
  auto list = dyn<Array>(result);
  ASSERT_TRUE(list);
  ASSERT_EQ(list->count(), 2u);
  auto first = list->objectAtIndexAs<Dictionary>(0);
  EXPECT_EQ(first->stringForKey(kKeychainAttributeAccount), "user");
  EXPECT_EQ(first->objectForKey(kKeychainValueData), nullptr);
  EXPECT_DOUBLE_EQ(first->objectForKeyAs<Date>(kKeychainAttributeCreationDate)->timeIntervalSinceReferenceDate(), 1000.0);
  EXPECT_DOUBLE_EQ(first->objectForKeyAs<Date>(kKeychainAttributeModificationDate)->timeIntervalSinceReferenceDate(),
                   2000.0);

  EXPECT_EQ(keychain_.deleteItems(*query("SX_AUTH_A", "user")), kKeychainSuccess);
  EXPECT_EQ(keychain_.deleteItems(*query("SX_AUTH_A", "user")), kKeychainItemNotFound);
  // Without a service every item of the keychain matches.
  auto everything = query(std::nullopt, std::nullopt);
  everything->setObject(box(true), kKeychainReturnAttributes);
  everything->setObject(box(kKeychainMatchLimitAll), kKeychainMatchLimit);
  ASSERT_EQ(keychain_.copyMatching(*everything, &result), kKeychainSuccess);
  EXPECT_EQ(dyn<Array>(result)->count(), 2u);
}

TEST_F(KeychainTest, BadParametersAnswerParam) {
  auto noClass = Dictionary::make({{kKeychainAttributeService, box("s")}});
  auto foreignClass = Dictionary::make({{kKeychainClass, box("internetPassword")}});
  auto numericService = query(std::nullopt, "a");
  numericService->setObject(box(5), kKeychainAttributeService);
  auto textData = query("s", "a");
  textData->setObject(box("not bytes"), kKeychainValueData);
  auto unknownAccessibility = item("s", "a", "p");
  unknownAccessibility->setObject(box("sometimes"), kKeychainAttributeAccessible);
  auto badLimit = query("s", "a");
  badLimit->setObject(box("many"), kKeychainMatchLimit);
  for (const auto& bad : {Ref<Dictionary>(noClass), Ref<Dictionary>(foreignClass), Ref<Dictionary>(numericService),
                          Ref<Dictionary>(textData), Ref<Dictionary>(unknownAccessibility)})
    EXPECT_EQ(keychain_.addItem(*bad), kKeychainParam) << bad->description();
  ObjectPtr result;
  EXPECT_EQ(keychain_.copyMatching(*badLimit, &result), kKeychainParam);
  EXPECT_EQ(keychain_.deleteItems(*noClass), kKeychainParam);
  EXPECT_EQ(keychain_.update(*query("s", "a"), *Dictionary::make({{kKeychainClass, box("genericPassword")}})),
            kKeychainParam);
  EXPECT_FALSE(std::filesystem::exists(keychain_.filePath()));
}

TEST_F(KeychainTest, ItemsPersistInAPrivateFileWithTheirAccessibility) {
  std::filesystem::permissions(folder_.path(), std::filesystem::perms::all);  // made loose by someone else
  auto attributes = item("svc", "acct", "pw");
  attributes->setObject(box(kKeychainAccessibleAfterFirstUnlock), kKeychainAttributeAccessible);
  attributes->setObject(box(true), kKeychainReturnAttributes);
  ObjectPtr added;
  ASSERT_EQ(keychain_.addItem(*attributes, &added), kKeychainSuccess);
  EXPECT_EQ(dyn<Dictionary>(added)->stringForKey(kKeychainAttributeAccessible), kKeychainAccessibleAfterFirstUnlock);
  EXPECT_EQ(std::filesystem::status(keychain_.filePath()).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  EXPECT_EQ(std::filesystem::status(folder_.path()).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_all);

  Keychain reopened(folder_.path());
  auto q = query("svc", "acct");
  q->setObject(box(true), kKeychainReturnAttributes);
  q->setObject(box(true), kKeychainReturnData);
  ObjectPtr result;
  ASSERT_EQ(reopened.copyMatching(*q, &result), kKeychainSuccess);
  auto found = dyn<Dictionary>(result);
  EXPECT_EQ(found->stringForKey(kKeychainAttributeAccessible), kKeychainAccessibleAfterFirstUnlock);
  EXPECT_EQ(found->objectForKeyAs<Data>(kKeychainValueData)->view(), "pw");
}

TEST_F(KeychainTest, ACorruptFileIsReportedAndLeftInPlace) {
  ASSERT_EQ(keychain_.addItem(*item("svc", "acct", "pw")), kKeychainSuccess);
  std::string good = zv::testing::readFile(keychain_.filePath());
  for (const std::string& damaged : {good.substr(0, good.size() / 2), std::string("garbage"), std::string()}) {
    zv::testing::writeFile(keychain_.filePath(), damaged);
    LogCapture log;
    EXPECT_EQ(password(keychain_, "svc", "acct"), (std::variant<std::string, KeychainStatus>(kKeychainDecode)));
    EXPECT_EQ(keychain_.addItem(*item("svc", "other", "x")), kKeychainDecode);
    EXPECT_EQ(keychain_.update(*query("svc", "acct"), *Dictionary::make({{kKeychainValueData, Data::make("y")}})),
              kKeychainDecode);
    EXPECT_EQ(keychain_.deleteItems(*query("svc", "acct")), kKeychainDecode);
    EXPECT_TRUE(log.contains(keychain_.filePath().string()));
    EXPECT_FALSE(log.contains("pw"));
    EXPECT_EQ(zv::testing::readFile(keychain_.filePath()), damaged);
  }
}

TEST_F(KeychainTest, AFailingWriteKeepsThePreviousValue) {
  ASSERT_EQ(keychain_.addItem(*item("svc", "acct", "old")), kKeychainSuccess);
  // Files may not grow past 1 KiB, so the new keychain cannot be written.
  EXPECT_TRUE(zv::testing::runInChildWithFileSizeLimit(1024, [&] {
    setLogSink([](std::string_view) {});
    auto change = Dictionary::make({{kKeychainValueData, Data::make(std::string(8192, 'n'))}});
    return keychain_.update(*query("svc", "acct"), *change) == kKeychainIO;
  }));
  EXPECT_EQ(std::get<std::string>(password(keychain_, "svc", "acct")), "old");
}

// The shared keychain lives under the application home; a look-up that is the first to touch a
// fresh home makes the home and the keychain folder the user's alone, whatever the umask.
TEST_F(KeychainTest, SharedKeychainLivesUnderTheApplicationHome) {
  const auto home = folder_.path() / "home";
  ApplicationEnvironment::shared().setHomeDirectory(home);
  EXPECT_EQ(Keychain::shared().filePath(), home / "Keychains" / "keychain.plist");
  const mode_t previous = ::umask(022);
  EXPECT_EQ(password(Keychain::shared(), "svc", "acct"), (std::variant<std::string, KeychainStatus>(kKeychainItemNotFound)));
  ::umask(previous);
  for (const auto& folder : {home, home / "Keychains"})
    EXPECT_EQ(std::filesystem::status(folder).permissions(), std::filesystem::perms::owner_all) << folder;
  EXPECT_EQ(Keychain::shared().addItem(*item("svc", "acct", "pw")), kKeychainSuccess);
  EXPECT_TRUE(std::filesystem::exists(Keychain::shared().filePath()));
  ApplicationEnvironment::shared().reset();
}

TEST_F(KeychainTest, ThreadsOnTwoHandlesNeverLoseAnItem) {
  Keychain second(folder_.path());
  constexpr int kThreads = 4, kItems = 15;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      Keychain& keychain = t % 2 ? second : keychain_;
      for (int i = 0; i < kItems; ++i) {
        std::string account = std::to_string(t) + "-" + std::to_string(i);
        EXPECT_EQ(keychain.addItem(*item("svc", account, "p" + account)), kKeychainSuccess);
        auto change = Dictionary::make({{kKeychainValueData, Data::make("q" + account)}});
        EXPECT_EQ(keychain.update(*query("svc", account), *change), kKeychainSuccess);
        // Everyone also fights over one shared item.
        KeychainStatus added = keychain.addItem(*item("svc", "shared", "x"));
        EXPECT_TRUE(added == kKeychainSuccess || added == kKeychainDuplicateItem);
        KeychainStatus removed = keychain.deleteItems(*query("svc", "shared"));
        EXPECT_TRUE(removed == kKeychainSuccess || removed == kKeychainItemNotFound);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t)
    for (int i = 0; i < kItems; ++i) {
      std::string account = std::to_string(t) + "-" + std::to_string(i);
      EXPECT_EQ(std::get<std::string>(password(keychain_, "svc", account)), "q" + account);
    }
}

}  // namespace
}  // namespace zv

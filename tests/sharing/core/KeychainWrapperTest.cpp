#include <gtest/gtest.h>

#include "platform/foundation/Log.h"
#include "platform/system/ApplicationEnvironment.h"
#include "platform/system/Keychain.h"
#include "sharing/core/KeychainWrapper.h"
#include "support/TestSupport.h"

namespace zv {
namespace {

class KeychainWrapperTest : public ::testing::Test {
 protected:
  void SetUp() override { ApplicationEnvironment::shared().setHomeDirectory(home_.path()); }
  void TearDown() override {
    KeychainWrapper::resetAccessibilityType();
    ApplicationEnvironment::shared().reset();
  }
  zv::testing::TemporaryDirectory home_;
};

TEST_F(KeychainWrapperTest, StoresReadsReplacesAndDeletes) {
  EXPECT_EQ(KeychainWrapper::passwordForService("svc", "alice"), std::nullopt);
  ASSERT_TRUE(KeychainWrapper::setPassword("first", "svc", "alice"));
  ASSERT_TRUE(KeychainWrapper::setPassword("second", "svc", "alice"));
  EXPECT_EQ(KeychainWrapper::passwordForService("svc", "alice"), "second");
  auto accounts = KeychainWrapper::accountsForService(std::string("svc"));
  ASSERT_TRUE(accounts);
  EXPECT_EQ(accounts->count(), 1u);  // replaced, not added beside

  ASSERT_TRUE(KeychainWrapper::setPassword("pw", "other", "bob"));
  ASSERT_TRUE(KeychainWrapper::allAccounts());
  EXPECT_EQ(KeychainWrapper::allAccounts()->count(), 2u);

  Ref<Error> error;
  EXPECT_TRUE(KeychainWrapper::deletePasswordForService("svc", "alice", &error));
  EXPECT_EQ(KeychainWrapper::passwordForService("svc", "alice"), std::nullopt);
  EXPECT_FALSE(KeychainWrapper::deletePasswordForService("svc", "alice", &error));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->domain(), kKeychainWrapperErrorDomain);
  EXPECT_EQ(error->code(), kKeychainItemNotFound);
}

TEST_F(KeychainWrapperTest, MissingArgumentsAnswerCode1001) {
  for (int operation = 0; operation < 3; ++operation) {
    Ref<Error> error;
    switch (operation) {
      case 0: EXPECT_EQ(KeychainWrapper::passwordForService("svc", std::nullopt, &error), std::nullopt); break;
      case 1: EXPECT_FALSE(KeychainWrapper::deletePasswordForService("svc", std::nullopt, &error)); break;
      case 2: EXPECT_FALSE(KeychainWrapper::setPassword("pw", "svc", std::nullopt, &error)); break;
    }
    ASSERT_TRUE(error) << operation;
    EXPECT_EQ(error->code(), kKeychainWrapperMissingArgument) << operation;
  }
  Ref<Error> error;
  EXPECT_FALSE(KeychainWrapper::setPassword(std::nullopt, "svc", "acct", &error));
  EXPECT_EQ(error->code(), kKeychainWrapperMissingArgument);
}

TEST_F(KeychainWrapperTest, AnEmptyPasswordReadsAsNone) {
  ASSERT_TRUE(KeychainWrapper::setPasswordData(Data::make(), "svc", "acct"));
  EXPECT_EQ(KeychainWrapper::passwordForService("svc", "acct"), std::nullopt);
  auto data = KeychainWrapper::passwordDataForService("svc", "acct");
  ASSERT_TRUE(data);
  EXPECT_EQ(data->length(), 0u);
}

TEST_F(KeychainWrapperTest, PasswordsThatAreNotUTF8AreNoText) {
  ASSERT_TRUE(KeychainWrapper::setPasswordData(Data::make(std::string_view("pa\xFFss")), "svc", "acct"));
  EXPECT_EQ(KeychainWrapper::passwordForService("svc", "acct"), std::nullopt);
  auto data = KeychainWrapper::passwordDataForService("svc", "acct");
  ASSERT_TRUE(data);
  EXPECT_EQ(data->view(), "pa\xFFss");
}

// Several processes store the same new logins at once: whichever adds an item first, the
// others' stores update it.
TEST_F(KeychainWrapperTest, ProcessesStoringTheSameNewLoginAllSucceed) {
  constexpr int kProcesses = 4, kLogins = 50;
  EXPECT_TRUE(zv::testing::runInChildProcesses(kProcesses, [](int process) {
    bool ok = true;
    for (int i = 0; i < kLogins; ++i)
      ok = KeychainWrapper::setPassword("pw" + std::to_string(process), "svc" + std::to_string(i), "alice") && ok;
    return ok;
  }));
  auto accounts = KeychainWrapper::allAccounts();
  ASSERT_TRUE(accounts);
  EXPECT_EQ(accounts->count(), static_cast<std::size_t>(kLogins));
}

TEST_F(KeychainWrapperTest, AccessibilityIsGivenToNewAndUpdatedItems) {
  KeychainWrapper::setAccessibilityType(kKeychainAccessibleAfterFirstUnlock);
  ASSERT_TRUE(KeychainWrapper::setPassword("pw", "svc", "acct"));
  auto accounts = KeychainWrapper::accountsForService(std::string("svc"));
  ASSERT_TRUE(accounts && accounts->count() == 1);
  auto attributes = accounts->objectAtIndexAs<Dictionary>(0);
  EXPECT_EQ(attributes->stringForKey(kKeychainAttributeAccessible), kKeychainAccessibleAfterFirstUnlock);

  // Storing the item again brings it the accessibility asked for now, with the new password.
  KeychainWrapper::setAccessibilityType(kKeychainAccessibleWhenUnlockedThisDeviceOnly);
  ASSERT_TRUE(KeychainWrapper::setPassword("pw2", "svc", "acct"));
  accounts = KeychainWrapper::accountsForService(std::string("svc"));
  ASSERT_TRUE(accounts && accounts->count() == 1);
  EXPECT_EQ(accounts->objectAtIndexAs<Dictionary>(0)->stringForKey(kKeychainAttributeAccessible),
            kKeychainAccessibleWhenUnlockedThisDeviceOnly);
  EXPECT_EQ(KeychainWrapper::passwordForService("svc", "acct"), "pw2");
}

TEST_F(KeychainWrapperTest, AFailedReplaceKeepsTheOldPassword) {
  ASSERT_TRUE(KeychainWrapper::setPassword("old", "svc", "acct"));
  // The keychain file may not grow, so the new (longer) password cannot be written. Deleting the
  // old item first would have shrunk the file successfully and lost the old password.
  EXPECT_TRUE(zv::testing::runInChildWithFileSizeLimit(1024, [] {
    setLogSink([](std::string_view) {});
    Ref<Error> error;
    bool stored = KeychainWrapper::setPassword(std::string(8192, 'n'), "svc", "acct", &error);
    return !stored && error && error->code() == kKeychainIO;
  }));
  EXPECT_EQ(KeychainWrapper::passwordForService("svc", "acct"), "old");
}

}  // namespace
}  // namespace zv

#include "sharing/core/KeychainWrapper.h"

#include <mutex>

#include "platform/foundation/Unicode.h"
#include "platform/system/Keychain.h"

namespace zv {

namespace {

std::mutex& accessibilityLock() {
  static std::mutex lock;
  return lock;
}
std::optional<std::string>& accessibilitySlot() {
  static std::optional<std::string>& value = *new std::optional<std::string>;
  return value;
}

bool fail(Ref<Error>* error, std::int64_t code) {
  if (error) *error = Error::make(kKeychainWrapperErrorDomain, code);
  return false;
}

bool present(const std::optional<std::string>& text) { return text.has_value(); }

}  // namespace

Ref<MutableDictionary> KeychainWrapper::queryForServiceAccount(const std::optional<std::string>& service,
                                                               const std::optional<std::string>& account) {
  auto query = MutableDictionary::make({{kKeychainClass, box(kKeychainClassGenericPassword)}});
  if (service) query->setObject(box(*service), kKeychainAttributeService);
  if (account) query->setObject(box(*account), kKeychainAttributeAccount);
  return query;
}

Ref<Array> KeychainWrapper::allAccounts(Ref<Error>* error) { return accountsForService(std::nullopt, error); }

Ref<Array> KeychainWrapper::accountsForService(const std::optional<std::string>& service, Ref<Error>* error) {
  auto query = queryForServiceAccount(service, std::nullopt);
  query->setObject(Number::yes(), kKeychainReturnAttributes);
  query->setObject(box(kKeychainMatchLimitAll), kKeychainMatchLimit);
  ObjectPtr result;
  KeychainStatus status = Keychain::shared().copyMatching(*query, &result);
  if (status != kKeychainSuccess) {
    fail(error, status);
    return nullptr;
  }
  return dyn<Array>(result);
}

Ref<Data> KeychainWrapper::passwordDataForService(const std::optional<std::string>& service,
                                                  const std::optional<std::string>& account, Ref<Error>* error) {
  if (!present(service) || !present(account)) {
    fail(error, kKeychainWrapperMissingArgument);
    return nullptr;
  }
  auto query = queryForServiceAccount(service, account);
  query->setObject(Number::yes(), kKeychainReturnData);
  query->setObject(box(kKeychainMatchLimitOne), kKeychainMatchLimit);
  ObjectPtr result;
  KeychainStatus status = Keychain::shared().copyMatching(*query, &result);
  if (status != kKeychainSuccess) {
    fail(error, status);
    return nullptr;
  }
  return dyn<Data>(result);
}

std::optional<std::string> KeychainWrapper::passwordForService(const std::optional<std::string>& service,
                                                               const std::optional<std::string>& account,
                                                               Ref<Error>* error) {
  auto data = passwordDataForService(service, account, error);
  if (!data || data->length() == 0 || !unicode::isValidUTF8(data->view())) return std::nullopt;
  return std::string(data->view());
}

bool KeychainWrapper::deletePasswordForService(const std::optional<std::string>& service,
                                               const std::optional<std::string>& account, Ref<Error>* error) {
  if (!present(service) || !present(account)) return fail(error, kKeychainWrapperMissingArgument);
  KeychainStatus status = Keychain::shared().deleteItems(*queryForServiceAccount(service, account));
  return status == kKeychainSuccess || fail(error, status);
}

bool KeychainWrapper::setPassword(const std::optional<std::string>& password, const std::optional<std::string>& service,
                                  const std::optional<std::string>& account, Ref<Error>* error) {
  return setPasswordData(password ? Data::make(std::string_view(*password)) : nullptr, service, account, error);
}

bool KeychainWrapper::setPasswordData(const Ref<Data>& password, const std::optional<std::string>& service,
                                      const std::optional<std::string>& account, Ref<Error>* error) {
  if (!password || !present(service) || !present(account)) return fail(error, kKeychainWrapperMissingArgument);
  auto query = queryForServiceAccount(service, account);
  auto accessibility = accessibilityType();

  // Update in place when the item exists: the old value is replaced only by a completed write.
  auto changes = MutableDictionary::make({{kKeychainValueData, password}});
  if (accessibility) changes->setObject(box(*accessibility), kKeychainAttributeAccessible);
  KeychainStatus status = Keychain::shared().update(*query, *changes);
  if (status == kKeychainItemNotFound) {
    auto attributes = queryForServiceAccount(service, account);
    attributes->setObject(password, kKeychainValueData);
    if (accessibility) attributes->setObject(box(*accessibility), kKeychainAttributeAccessible);
    status = Keychain::shared().addItem(*attributes);
    // Another process added the same item in between: this store updates it.
    if (status == kKeychainDuplicateItem) status = Keychain::shared().update(*query, *changes);
  }
  return status == kKeychainSuccess || fail(error, status);
}

std::optional<std::string> KeychainWrapper::accessibilityType() {
  std::lock_guard lock(accessibilityLock());
  return accessibilitySlot();
}

void KeychainWrapper::setAccessibilityType(std::string accessibilityType) {
  std::lock_guard lock(accessibilityLock());
  accessibilitySlot() = std::move(accessibilityType);
}

void KeychainWrapper::resetAccessibilityType() {
  std::lock_guard lock(accessibilityLock());
  accessibilitySlot().reset();
}

}  // namespace zv

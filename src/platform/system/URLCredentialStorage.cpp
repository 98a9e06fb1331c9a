#include "platform/system/URLCredentialStorage.h"

#include <algorithm>

#include "platform/foundation/Format.h"
#include "platform/foundation/Log.h"
#include "platform/system/Keychain.h"

namespace zv {

namespace {

// Internet-password items share the keychain file with the generic passwords; their service
// names carry this prefix so the two never meet.
constexpr const char* kInternetPasswordService = "internet-password ";

Ref<MutableDictionary> itemQuery(const URLProtectionSpace& space) {
  auto query = MutableDictionary::make();
  query->setObject(box(kKeychainClassGenericPassword), kKeychainClass);
  query->setObject(box(std::string(kInternetPasswordService) + space.key()), kKeychainAttributeService);
  return query;
}

}  // namespace

std::string URLProtectionSpace::key() const {
  return format("%s|%s|%d|%s|%s|%s", isProxy ? "proxy" : "server", host.c_str(), port,
                isProxy ? "http-proxy" : protocol.c_str(), realm ? realm->c_str() : "", authenticationMethod.c_str());
}

URLProtectionSpace URLProtectionSpace::server(std::string host, int port, std::string protocol,
                                              std::optional<std::string> realm) {
  URLProtectionSpace space;
  space.host = std::move(host);
  space.port = port;
  space.protocol = std::move(protocol);
  space.realm = std::move(realm);
  return space;
}

URLProtectionSpace URLProtectionSpace::proxy(std::string host, int port, std::optional<std::string> realm) {
  URLProtectionSpace space;
  space.host = std::move(host);
  space.port = port;
  space.realm = std::move(realm);
  space.isProxy = true;
  return space;
}

URLCredentialStorage& URLCredentialStorage::shared() {
  static URLCredentialStorage* storage = new URLCredentialStorage();  // lives as long as the process
  return *storage;
}

namespace {
// Made before main: a fork never finds it half made.
[[maybe_unused]] const bool gCredentialStorageMade = (URLCredentialStorage::shared(), true);
}  // namespace

void URLCredentialStorage::setDefaultCredential(const URLCredential& credential, const URLProtectionSpace& space) {
  std::lock_guard guard(lock_);
  std::string key = space.key();
  std::erase_if(session_, [&](const auto& entry) { return entry.first == key; });
  if (credential.persistence == URLCredentialPersistence::None) return;
  if (credential.persistence == URLCredentialPersistence::ForSession) {
    session_.emplace_back(key, credential);
    return;
  }
  auto& keychain = Keychain::shared();
  auto query = itemQuery(space);
  keychain.deleteItems(*query);
  auto attributes = itemQuery(space);
  attributes->setObject(box(credential.user), kKeychainAttributeAccount);
  attributes->setObject(Data::make(credential.password), kKeychainValueData);
  KeychainStatus status = keychain.addItem(*attributes);
  if (status != kKeychainSuccess) logLine(format("[WARN] credential storage: keychain item not saved (status %d)", status));
}

std::optional<URLCredential> URLCredentialStorage::defaultCredential(const URLProtectionSpace& space) {
  std::lock_guard guard(lock_);
  std::string key = space.key();
  for (const auto& [entryKey, credential] : session_) {
    if (entryKey == key) return credential;
  }
  auto query = itemQuery(space);
  query->setObject(box(true), kKeychainReturnData);
  query->setObject(box(true), kKeychainReturnAttributes);
  query->setObject(box(kKeychainMatchLimitOne), kKeychainMatchLimit);
  ObjectPtr result;
  if (Keychain::shared().copyMatching(*query, &result) != kKeychainSuccess) return std::nullopt;
  auto attributes = dyn<Dictionary>(result);
  if (!attributes) return std::nullopt;
  auto data = attributes->objectForKeyAs<Data>(kKeychainValueData);
  auto user = attributes->stringForKey(kKeychainAttributeAccount);
  if (!data || !user) return std::nullopt;
  return URLCredential{*user, std::string(data->view()), URLCredentialPersistence::Permanent};
}

void URLCredentialStorage::removeCredential(const URLProtectionSpace& space) {
  std::lock_guard guard(lock_);
  std::string key = space.key();
  std::erase_if(session_, [&](const auto& entry) { return entry.first == key; });
  Keychain::shared().deleteItems(*itemQuery(space));
}

void URLCredentialStorage::removeAllSessionCredentials() {
  std::lock_guard guard(lock_);
  session_.clear();
}

}  // namespace zv

#pragma once
// The keychain's generic-password items: each item is addressed by service and account and holds
// the password bytes and a few attributes. The operations take query and attribute dictionaries
// and answer the platform's numeric status codes, as the platform's item calls did.
//
// Dictionaries use the keys below. A query names the item class (kKeychainClass must be
// kKeychainClassGenericPassword) and optionally the service and account to match; copyMatching
// also reads kKeychainReturnData, kKeychainReturnAttributes (booleans) and kKeychainMatchLimit.
//   add          attributes: class, service, account, data, accessible (all but class optional;
//                a missing service or account is the empty text). Duplicate → kKeychainDuplicateItem.
//   copyMatching result for match limit one: the data (return data only), the attribute dictionary
//                (return attributes; with return data too it also holds kKeychainValueData); for
//                match limit all: an array of those. Nothing matched → kKeychainItemNotFound.
//   update       applies service, account, data or accessible to every match.
//   deleteItems  removes every match; none → kKeychainItemNotFound.
// A value of the wrong kind, a missing or foreign class, or an unknown accessibility →
// kKeychainParam. Attribute dictionaries hold class, service, account, accessible (when given),
// creation and modification dates.
//
// Storage: one binary property list "keychain.plist" (mode 0600, not encrypted) in the keychain
// folder (mode 0700: a looser folder is tightened before use, one that cannot be is refused with
// kKeychainIO), re-read on
// every call and written atomically, guarded by a mutex within the process and by flock on
// "keychain.lock" across processes. A file that exists but cannot be decoded is logged (naming
// the file) and left in place; every call then answers kKeychainDecode until it is repaired or
// removed by hand. A failed write answers kKeychainIO and leaves the previous file as it was.
// Passwords never reach the log.
//
// Threads: any thread may call.

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>

#include "platform/foundation/Values.h"
#include "platform/foundation/ForkHandlers.h"

namespace zv {

using KeychainStatus = std::int32_t;

inline constexpr KeychainStatus kKeychainSuccess = 0;
inline constexpr KeychainStatus kKeychainParam = -50;
inline constexpr KeychainStatus kKeychainIO = -36;
inline constexpr KeychainStatus kKeychainDuplicateItem = -25299;
inline constexpr KeychainStatus kKeychainItemNotFound = -25300;
inline constexpr KeychainStatus kKeychainDecode = -26275;

inline constexpr const char* kKeychainClass = "class";
inline constexpr const char* kKeychainClassGenericPassword = "genericPassword";
inline constexpr const char* kKeychainAttributeService = "service";
inline constexpr const char* kKeychainAttributeAccount = "account";
inline constexpr const char* kKeychainAttributeAccessible = "accessible";
inline constexpr const char* kKeychainAttributeCreationDate = "creationDate";
inline constexpr const char* kKeychainAttributeModificationDate = "modificationDate";
inline constexpr const char* kKeychainValueData = "data";
inline constexpr const char* kKeychainReturnData = "returnData";
inline constexpr const char* kKeychainReturnAttributes = "returnAttributes";
inline constexpr const char* kKeychainMatchLimit = "matchLimit";
inline constexpr const char* kKeychainMatchLimitOne = "one";
inline constexpr const char* kKeychainMatchLimitAll = "all";

// Accessibility values.
inline constexpr const char* kKeychainAccessibleWhenUnlocked = "whenUnlocked";
inline constexpr const char* kKeychainAccessibleAfterFirstUnlock = "afterFirstUnlock";
inline constexpr const char* kKeychainAccessibleAlways = "always";
inline constexpr const char* kKeychainAccessibleWhenUnlockedThisDeviceOnly = "whenUnlockedThisDeviceOnly";
inline constexpr const char* kKeychainAccessibleAfterFirstUnlockThisDeviceOnly = "afterFirstUnlockThisDeviceOnly";
inline constexpr const char* kKeychainAccessibleAlwaysThisDeviceOnly = "alwaysThisDeviceOnly";

class Keychain {
 public:
  // The application's keychain: the folder "Keychains" under the application environment's home,
  // looked up on every call (so a test that moves the home moves the keychain).
  static Keychain& shared();

  // A keychain kept in `folder`.
  explicit Keychain(std::filesystem::path folder);
  Keychain(const Keychain&) = delete;
  Keychain& operator=(const Keychain&) = delete;

  // `result` (may be nullptr) receives what copyMatching would return for the new item when the
  // attributes ask for data or attributes.
  KeychainStatus addItem(const Dictionary& attributes, ObjectPtr* result = nullptr);
  KeychainStatus copyMatching(const Dictionary& query, ObjectPtr* result);
  KeychainStatus update(const Dictionary& query, const Dictionary& attributesToUpdate);
  KeychainStatus deleteItems(const Dictionary& query);

  // The file the items are kept in.
  std::filesystem::path filePath() const;

 private:
  Keychain() = default;
  std::filesystem::path folder() const;

  std::optional<std::filesystem::path> folder_;  // empty: follow the application environment
  ForkMutex mutex_{ForkLockLevel::Keychain};
};

}  // namespace zv

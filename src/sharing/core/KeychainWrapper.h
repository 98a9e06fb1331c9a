#pragma once
// Generic-password items of the application's keychain, addressed by service and account: the
// sharing hub keeps every sharer's login values here (service "SX_AUTH_" + sharer id, account =
// form field key), the note-service login its token (service = host, account = user id).
//
// Failures answer false / nullptr and, when the caller passes an error slot, an Error of domain
// "com.tervoplan.keychainwrapper": code -1001 when service, account or password is missing,
// otherwise the keychain's status code. Nothing is thrown or logged (passwords never are).
//
// Storing over an existing item updates it in place, so the old value stays until the new one is
// written: a failed write leaves the previous password readable. An item that another process
// adds between the look-up and the add is updated the same way.
//
// Threads: any thread (the keychain serialises its calls). Stateless but for the process-wide
// accessibility setting, which is guarded.

#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Values.h"

namespace zv {

inline constexpr const char* kKeychainWrapperErrorDomain = "com.tervoplan.keychainwrapper";
inline constexpr std::int64_t kKeychainWrapperMissingArgument = -1001;

class KeychainWrapper {
 public:
  // Attribute dictionaries of every item (of every service), or nullptr.
  static Ref<Array> allAccounts(Ref<Error>* error = nullptr);
  // Attribute dictionaries of the items of `service` (every service when nullopt), or nullptr.
  static Ref<Array> accountsForService(const std::optional<std::string>& service, Ref<Error>* error = nullptr);

  // The password as UTF-8 text; nullopt when missing, empty, not UTF-8 or on failure.
  static std::optional<std::string> passwordForService(const std::optional<std::string>& service,
                                                       const std::optional<std::string>& account,
                                                       Ref<Error>* error = nullptr);
  static Ref<Data> passwordDataForService(const std::optional<std::string>& service,
                                          const std::optional<std::string>& account, Ref<Error>* error = nullptr);

  static bool deletePasswordForService(const std::optional<std::string>& service,
                                       const std::optional<std::string>& account, Ref<Error>* error = nullptr);

  static bool setPassword(const std::optional<std::string>& password, const std::optional<std::string>& service,
                          const std::optional<std::string>& account, Ref<Error>* error = nullptr);
  static bool setPasswordData(const Ref<Data>& password, const std::optional<std::string>& service,
                              const std::optional<std::string>& account, Ref<Error>* error = nullptr);

  // The accessibility given to new items (one of the keychain's kKeychainAccessible... values);
  // nullopt (the start) leaves the keychain's default.
  static std::optional<std::string> accessibilityType();
  static void setAccessibilityType(std::string accessibilityType);
  // Tests only: back to the keychain's default.
  static void resetAccessibilityType();

  // The query addressing the items of service and account (each only when given).
  static Ref<MutableDictionary> queryForServiceAccount(const std::optional<std::string>& service,
                                                       const std::optional<std::string>& account);
};

}  // namespace zv

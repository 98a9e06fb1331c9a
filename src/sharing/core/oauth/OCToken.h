#pragma once
// An OAuth token: key, secret and the session handle some services add. A field that was never
// given is unset (nullopt), which callers tell apart from the empty string. Not thread-safe.

#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Object.h"
#include "platform/system/UserDefaults.h"

namespace zv {

class OCToken : public Object {
 public:
  // All three fields empty strings.
  static Ref<OCToken> make();
  // Key and secret; the session handle stays unset.
  static Ref<OCToken> make(std::string key, std::string secret);
  // From a reply body "oauth_token=...&oauth_token_secret=...&oauth_session_handle=...": each
  // value percent-decoded; other names skipped; a missing field stays unset. A piece without "="
  // has the empty value; a value that does not decode is kept as written.
  static Ref<OCToken> initWithHTTPResponseBody(std::string_view body);
  // nullptr unless both "OAUTH_<prefix>_<provider>_KEY" and "..._SECRET" are stored.
  static Ref<OCToken> initWithUserDefaultsUsingServiceProviderName(const UserDefaults& defaults,
                                                                   std::string_view provider,
                                                                   std::string_view prefix);
  // Writes key and secret under those keys and synchronises; always 0.
  int storeInUserDefaultsWithServiceProviderName(UserDefaults& defaults, std::string_view provider,
                                                 std::string_view prefix) const;

  const std::optional<std::string>& key() const { return key_; }
  const std::optional<std::string>& secret() const { return secret_; }
  const std::optional<std::string>& sessionHandle() const { return sessionHandle_; }
  void setKey(std::optional<std::string> key) { key_ = std::move(key); }
  void setSecret(std::optional<std::string> secret) { secret_ = std::move(secret); }
  void setSessionHandle(std::optional<std::string> handle) { sessionHandle_ = std::move(handle); }

  OCToken() = default;

 private:
  std::optional<std::string> key_;
  std::optional<std::string> secret_;
  std::optional<std::string> sessionHandle_;
};

}  // namespace zv

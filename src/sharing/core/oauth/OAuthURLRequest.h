#pragma once
// The mutable URL request the OAuth classes sign and hand to a fetch: URL, method, headers, body,
// cache policy, time-out and cookie handling. It mirrors the platform request's accessors so a
// signed request can be copied onto a platform request field by field. Not thread-safe: one
// thread builds and signs a request.

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/foundation/Data.h"
#include "platform/foundation/Object.h"
#include "platform/foundation/URL.h"

namespace zv {

class OAuthURLRequest : public Object {
 public:
  enum class CachePolicy { UseProtocolCachePolicy = 0, ReloadIgnoringLocalCacheData = 1 };

  static Ref<OAuthURLRequest> make(Ref<URL> url, CachePolicy cachePolicy = CachePolicy::UseProtocolCachePolicy,
                                   double timeoutInterval = 60.0);

  const Ref<URL>& url() const { return url_; }
  void setURL(Ref<URL> url) { url_ = std::move(url); }
  const std::string& HTTPMethod() const { return method_; }
  void setHTTPMethod(std::string_view method) { method_ = method; }
  CachePolicy cachePolicy() const { return cachePolicy_; }
  void setCachePolicy(CachePolicy policy) { cachePolicy_ = policy; }
  double timeoutInterval() const { return timeoutInterval_; }
  void setTimeoutInterval(double seconds) { timeoutInterval_ = seconds; }
  bool HTTPShouldHandleCookies() const { return shouldHandleCookies_; }
  void setHTTPShouldHandleCookies(bool handle) { shouldHandleCookies_ = handle; }
  const Ref<Data>& HTTPBody() const { return body_; }
  void setHTTPBody(Ref<Data> body) { body_ = std::move(body); }

  // Header names are matched without regard to case; setting replaces (nullopt removes).
  std::optional<std::string> valueForHTTPHeaderField(std::string_view name) const;
  void setValueForHTTPHeaderField(std::optional<std::string_view> value, std::string_view name);
  // Fields in the order first set, with their first spelling.
  const std::vector<std::pair<std::string, std::string>>& allHTTPHeaderFields() const { return headers_; }

  // Method and URL only: headers hold secrets.
  std::string description() const override;

  OAuthURLRequest(Ref<URL> url, CachePolicy cachePolicy, double timeoutInterval);

 private:
  Ref<URL> url_;
  std::string method_ = "GET";
  CachePolicy cachePolicy_;
  double timeoutInterval_;
  bool shouldHandleCookies_ = true;
  Ref<Data> body_;
  std::vector<std::pair<std::string, std::string>> headers_;
};

}  // namespace zv

#pragma once
// A URL request for URL connections: URL, method, headers, body, cache policy and time-out.
// URLRequest is immutable once made; MutableURLRequest is its editable variant. Not thread-safe
// while being edited; a URL connection takes a copy when it starts.

#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Data.h"
#include "platform/foundation/Dictionary.h"
#include "platform/foundation/Object.h"
#include "platform/foundation/URL.h"
#include "platform/net/HTTPMessage.h"
#include "platform/net/InputStream.h"

namespace zv::net {

enum class URLRequestCachePolicy : int {
  UseProtocolCachePolicy = 0,
  ReloadIgnoringLocalCacheData = 1,
  ReturnCacheDataElseLoad = 2,
  ReturnCacheDataDontLoad = 3,
  ReloadIgnoringLocalAndRemoteCacheData = 4,
  ReloadRevalidatingCacheData = 5,
};

inline constexpr double kURLRequestDefaultTimeout = 60.0;

class MutableURLRequest;

class URLRequest : public Object {
 public:
  static Ref<URLRequest> requestWithURL(Ref<URL> url);
  static Ref<URLRequest> requestWithURL(Ref<URL> url, URLRequestCachePolicy cachePolicy, double timeoutInterval);

  const Ref<URL>& url() const { return url_; }
  URLRequestCachePolicy cachePolicy() const { return cachePolicy_; }
  // Seconds without progress after which the load fails with kURLErrorTimedOut.
  double timeoutInterval() const { return timeoutInterval_; }
  const std::string& HTTPMethod() const { return method_; }
  const HeaderFields& headerFields() const { return headers_; }
  std::optional<std::string> valueForHTTPHeaderField(std::string_view name) const { return headers_.get(name); }
  Ref<Dictionary> allHTTPHeaderFields() const { return headers_.dictionary(); }
  const Ref<Data>& HTTPBody() const { return body_; }
  const Ref<InputStream>& HTTPBodyStream() const { return bodyStream_; }
  // Whether the connection sends the shared store's cookies and stores the response's.
  bool HTTPShouldHandleCookies() const { return shouldHandleCookies_; }
  bool HTTPShouldUsePipelining() const { return false; }

  ObjectPtr copy() const override;
  ObjectPtr mutableCopy() const override;
  std::string description() const override;

  URLRequest() = default;

 protected:
  friend class MutableURLRequest;
  void copyFieldsTo(URLRequest& other) const;
  Ref<URL> url_;
  URLRequestCachePolicy cachePolicy_ = URLRequestCachePolicy::UseProtocolCachePolicy;
  double timeoutInterval_ = kURLRequestDefaultTimeout;
  std::string method_ = "GET";
  HeaderFields headers_;
  Ref<Data> body_;
  Ref<InputStream> bodyStream_;
  bool shouldHandleCookies_ = true;
};

class MutableURLRequest : public URLRequest {
 public:
  static Ref<MutableURLRequest> requestWithURL(Ref<URL> url);
  static Ref<MutableURLRequest> requestWithURL(Ref<URL> url, URLRequestCachePolicy cachePolicy,
                                               double timeoutInterval);

  void setURL(Ref<URL> url) { url_ = std::move(url); }
  void setCachePolicy(URLRequestCachePolicy policy) { cachePolicy_ = policy; }
  void setTimeoutInterval(double seconds) { timeoutInterval_ = seconds; }
  void setHTTPMethod(std::string_view method) { method_ = method; }
  // Replaces the field (nullopt removes it).
  void setValueForHTTPHeaderField(std::optional<std::string_view> value, std::string_view name);
  // Appends ", value" to an existing field, or sets it.
  void addValueForHTTPHeaderField(std::string_view value, std::string_view name);
  // Replaces every field with those of `fields` (keys and values as text).
  void setAllHTTPHeaderFields(const Ref<Dictionary>& fields);
  void setHTTPBody(Ref<Data> body) { body_ = std::move(body); bodyStream_ = nullptr; }
  void setHTTPBodyStream(Ref<InputStream> stream) { bodyStream_ = std::move(stream); body_ = nullptr; }
  void setHTTPShouldHandleCookies(bool handle) { shouldHandleCookies_ = handle; }

  ObjectPtr copy() const override;
};

}  // namespace zv::net

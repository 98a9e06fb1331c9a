#include "platform/net/URLRequest.h"

#include "platform/foundation/Values.h"

namespace zv::net {

Ref<URLRequest> URLRequest::requestWithURL(Ref<URL> url) {
  return requestWithURL(std::move(url), URLRequestCachePolicy::UseProtocolCachePolicy, kURLRequestDefaultTimeout);
}

Ref<URLRequest> URLRequest::requestWithURL(Ref<URL> url, URLRequestCachePolicy cachePolicy, double timeoutInterval) {
  auto request = std::make_shared<URLRequest>();
  request->url_ = std::move(url);
  request->cachePolicy_ = cachePolicy;
  request->timeoutInterval_ = timeoutInterval;
  return request;
}

void URLRequest::copyFieldsTo(URLRequest& other) const {
  other.url_ = url_;
  other.cachePolicy_ = cachePolicy_;
  other.timeoutInterval_ = timeoutInterval_;
  other.method_ = method_;
  other.headers_ = headers_;
  other.body_ = body_;
  other.bodyStream_ = bodyStream_;
  other.shouldHandleCookies_ = shouldHandleCookies_;
}

ObjectPtr URLRequest::copy() const {
  if (!dynamic_cast<const MutableURLRequest*>(this)) return self();
  auto request = std::make_shared<URLRequest>();
  copyFieldsTo(*request);
  return request;
}

ObjectPtr URLRequest::mutableCopy() const {
  auto request = std::make_shared<MutableURLRequest>();
  copyFieldsTo(*request);
  return request;
}

std::string URLRequest::description() const {
  return "<URLRequest " + method_ + " " + loggableURLString(url_.get()) + ">";
}

Ref<MutableURLRequest> MutableURLRequest::requestWithURL(Ref<URL> url) {
  return requestWithURL(std::move(url), URLRequestCachePolicy::UseProtocolCachePolicy, kURLRequestDefaultTimeout);
}

Ref<MutableURLRequest> MutableURLRequest::requestWithURL(Ref<URL> url, URLRequestCachePolicy cachePolicy,
                                                         double timeoutInterval) {
  auto request = std::make_shared<MutableURLRequest>();
  request->url_ = std::move(url);
  request->cachePolicy_ = cachePolicy;
  request->timeoutInterval_ = timeoutInterval;
  return request;
}

void MutableURLRequest::setValueForHTTPHeaderField(std::optional<std::string_view> value, std::string_view name) {
  if (value) {
    headers_.set(name, *value);
  } else {
    headers_.remove(name);
  }
}

void MutableURLRequest::addValueForHTTPHeaderField(std::string_view value, std::string_view name) {
  auto existing = headers_.get(name);
  headers_.set(name, existing ? *existing + ", " + std::string(value) : std::string(value));
}

void MutableURLRequest::setAllHTTPHeaderFields(const Ref<Dictionary>& fields) {
  headers_.clear();
  if (!fields) return;
  fields->enumerate([this](const ObjectPtr& key, const ObjectPtr& value) {
    auto name = stringValueOf(key);
    auto text = stringValueOf(value);
    if (name && text) headers_.set(*name, *text);
    return true;
  });
}

ObjectPtr MutableURLRequest::copy() const { return URLRequest::copy(); }

}  // namespace zv::net

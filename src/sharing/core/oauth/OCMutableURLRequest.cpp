#include "sharing/core/oauth/OCMutableURLRequest.h"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "platform/crypto/Digest.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Format.h"
#include "sharing/core/oauth/OAuthEncoding.h"
#include "sharing/core/oauth/OCParameterAdditions.h"

namespace zv {

using oauth_encoding::URLEncodedString;

namespace oauth_signing {

std::optional<std::string> baseStringAuthority(const URL& url) {
  auto scheme = url.lowercaseScheme();
  auto host = url.lowercaseHost();
  if (!scheme || !host) return std::nullopt;
  std::string authority = *scheme + "://" + *host;
  if (auto port = url.port()) {
    bool isDefault = (*scheme == "http" && *port == 80) || (*scheme == "https" && *port == 443);
    if (!isDefault) authority += ":" + std::to_string(*port);
  }
  return authority;
}

std::string baseStringURI(const URL& url) {
  auto authority = baseStringAuthority(url);
  if (!authority) return oauth_encoding::URLStringWithoutQuery(url);
  return *authority + (url.encodedPath().empty() ? std::string("/") : url.encodedPath());
}

std::string currentTimestamp() {
  double seconds = std::floor(Clock::current()->now() + kReferenceDateOffset);
  return std::to_string(static_cast<long>(seconds));
}

}  // namespace oauth_signing

Ref<OCMutableURLRequest> OCMutableURLRequest::make(Ref<URL> url, Ref<OCConsumer> consumer, Ref<OCToken> token,
                                                   std::optional<std::string> realm,
                                                   Ref<OCSignatureProviding> signatureProvider) {
  return make(std::move(url), std::move(consumer), std::move(token), std::move(realm), std::move(signatureProvider),
              crypto::makeUUIDString(), oauth_signing::currentTimestamp());
}

Ref<OCMutableURLRequest> OCMutableURLRequest::make(Ref<URL> url, Ref<OCConsumer> consumer, Ref<OCToken> token,
                                                   std::optional<std::string> realm,
                                                   Ref<OCSignatureProviding> signatureProvider, std::string nonce,
                                                   std::string timestamp) {
  return std::make_shared<OCMutableURLRequest>(std::move(url), std::move(consumer), std::move(token), std::move(realm),
                                               std::move(signatureProvider), std::move(nonce), std::move(timestamp));
}

OCMutableURLRequest::OCMutableURLRequest(Ref<URL> url, Ref<OCConsumer> consumer, Ref<OCToken> token,
                                         std::optional<std::string> realm, Ref<OCSignatureProviding> signatureProvider,
                                         std::string nonce, std::string timestamp)
    : consumer_(consumer ? std::move(consumer) : OCConsumer::make("", "")),
      token_(token ? std::move(token) : OCToken::make()),
      realm_(realm.value_or("")),
      signatureProvider_(signatureProvider ? std::move(signatureProvider)
                                           : Ref<OCSignatureProviding>(OCHMAC_SHA1SignatureProvider::make())),
      nonce_(std::move(nonce)),
      timestamp_(std::move(timestamp)) {
  setURL(std::move(url));
  setCachePolicy(net::URLRequestCachePolicy::ReloadIgnoringLocalCacheData);
  setTimeoutInterval(10.0);
}

void OCMutableURLRequest::setOAuthParameterName(std::string_view name, std::string_view value) {
  extraOAuthParameters_[std::string(name)] = std::string(value);
}

std::string OCMutableURLRequest::_signatureBaseString() const {
  std::vector<std::pair<std::string, std::string>> pairs;
  auto add = [&](std::string_view name, std::string_view value) {
    pairs.emplace_back(URLEncodedString(name), URLEncodedString(value));
  };
  add("oauth_consumer_key", consumer_->key());
  add("oauth_signature_method", signatureProvider_->name());
  add("oauth_timestamp", timestamp_);
  add("oauth_nonce", nonce_);
  add("oauth_version", "1.0");
  const std::string tokenKey = token_->key().value_or("");
  if (!tokenKey.empty()) add("oauth_token", tokenKey);
  for (const auto& [name, value] : extraOAuthParameters_) add(name, value);
  auto contentType = valueForHTTPHeaderField("Content-Type");
  if (!contentType || !contentType->starts_with("multipart/form-data")) {
    if (auto parameters = oauth_parameters::parameters(*this)) {
      for (const auto& parameter : *parameters) add(parameter->name(), parameter->value());
    }
  }
  // By encoded name, then encoded value, so "a" sorts before "a1" whatever follows them.
  std::sort(pairs.begin(), pairs.end());
  std::string joined;
  for (const auto& [name, value] : pairs) {
    if (!joined.empty()) joined += '&';
    joined += name + "=" + value;
  }
  std::string uri = url() ? oauth_signing::baseStringURI(*url()) : std::string();
  return HTTPMethod() + "&" + URLEncodedString(uri) + "&" + URLEncodedString(joined);
}

void OCMutableURLRequest::prepare() {
  if (didPrepare_) return;
  didPrepare_ = true;
  std::string secret = URLEncodedString(consumer_->secret()) + "&" + URLEncodedString(token_->secret().value_or(""));
  signature_ = signatureProvider_->signClearText(_signatureBaseString(), secret);

  const std::string tokenKey = token_->key().value_or("");
  std::string tokenPart = tokenKey.empty() ? std::string() : "oauth_token=\"" + URLEncodedString(tokenKey) + "\", ";
  std::string extraPart;
  for (const auto& [name, value] : extraOAuthParameters_) {
    extraPart += ", " + URLEncodedString(name) + "=\"" + URLEncodedString(value) + "\"";
  }
  std::string header = format(
      "OAuth realm=\"%s\", oauth_consumer_key=\"%s\", %soauth_signature_method=\"%s\", oauth_signature=\"%s\", "
      "oauth_timestamp=\"%s\", oauth_nonce=\"%s\", oauth_version=\"1.0\"%s",
      URLEncodedString(realm_).c_str(), URLEncodedString(consumer_->key()).c_str(), tokenPart.c_str(),
      URLEncodedString(signatureProvider_->name()).c_str(), URLEncodedString(signature_).c_str(), timestamp_.c_str(),
      nonce_.c_str(), extraPart.c_str());
  setValueForHTTPHeaderField(header, "Authorization");
}

}  // namespace zv

#include "sharing/core/oauth/OAuthBuilder.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <mutex>
#include <vector>

#include "platform/crypto/Digest.h"
#include "platform/foundation/Clock.h"
#include "sharing/core/oauth/Base64.h"
#include "sharing/core/oauth/OAuthEncoding.h"
#include "sharing/core/oauth/OCMutableURLRequest.h"

namespace zv {

using oauth_encoding::pcen;

namespace {

struct ClassSettings {
  std::mutex mutex;
  std::optional<std::string> userAgent;
  std::atomic<std::int64_t> timeStampOffset{0};
  std::atomic<bool> shouldHandleCookies{true};
};

ClassSettings& settings() {
  static ClassSettings& instance = *new ClassSettings;
  return instance;
}

std::optional<std::string> userAgent() {
  std::lock_guard lock(settings().mutex);
  return settings().userAgent;
}

std::string text(const ObjectPtr& value) { return stringValueOf(value).value_or(""); }

std::string escapedPath(std::string_view path) {
  // Characters a URL path may hold stay, reserved ones included; everything else is escaped.
  return percentEncode(path, kURLPathKeptCharacters);
}

Ref<net::MutableURLRequest> makeRequest(const std::optional<std::string>& path, const Ref<Dictionary>& parameters,
                                 std::string_view method, std::string_view scheme,
                                 const std::optional<std::string>& host, std::string_view consumerKey,
                                 std::string_view consumerSecret, const std::optional<std::string>& accessToken,
                                 const std::optional<std::string>& tokenSecret) {
  if (!host || !path) return nullptr;
  auto builder = OAuthBuilder::initWithConsumerKeyConsumerSecretAccessTokenTokenSecret(consumerKey, consumerSecret,
                                                                                       accessToken, tokenSecret);
  builder->setHTTPMethod(method);
  builder->setRequestParameters(parameters);
  bool hasParameters = parameters && !parameters->empty();
  std::string text = std::string(scheme) + "://" + *host + escapedPath(*path);
  if (hasParameters && method == "GET") text += "?" + OAuthBuilder::queryStringFromParameters(*parameters);
  auto url = URL::make(text);
  if (!url) return nullptr;
  builder->setURL(url);
  auto request = builder->request();
  if (hasParameters && method == "POST") {
    std::string body = OAuthBuilder::queryStringFromParameters(*parameters);
    request->setHTTPBody(Data::make(body));
    request->setValueForHTTPHeaderField("application/x-www-form-urlencoded", "Content-Type");
    request->setValueForHTTPHeaderField(std::to_string(body.size()), "Content-Length");
  }
  return request;
}

}  // namespace

Ref<net::MutableURLRequest> OAuthBuilder::URLRequestForPathGETParametersSchemeHostConsumerKeyConsumerSecretAccessTokenTokenSecret(
    const std::optional<std::string>& path, const Ref<Dictionary>& parameters, std::string_view scheme,
    const std::optional<std::string>& host, std::string_view consumerKey, std::string_view consumerSecret,
    const std::optional<std::string>& accessToken, const std::optional<std::string>& tokenSecret) {
  return makeRequest(path, parameters, "GET", scheme, host, consumerKey, consumerSecret, accessToken, tokenSecret);
}

Ref<net::MutableURLRequest> OAuthBuilder::URLRequestForPathGETParametersHostConsumerKeyConsumerSecretAccessTokenTokenSecret(
    const std::optional<std::string>& path, const Ref<Dictionary>& parameters, const std::optional<std::string>& host,
    std::string_view consumerKey, std::string_view consumerSecret, const std::optional<std::string>& accessToken,
    const std::optional<std::string>& tokenSecret) {
  return makeRequest(path, parameters, "GET", "http", host, consumerKey, consumerSecret, accessToken, tokenSecret);
}

Ref<net::MutableURLRequest> OAuthBuilder::URLRequestForPathPOSTParametersHostConsumerKeyConsumerSecretAccessTokenTokenSecret(
    const std::optional<std::string>& path, const Ref<Dictionary>& parameters, const std::optional<std::string>& host,
    std::string_view consumerKey, std::string_view consumerSecret, const std::optional<std::string>& accessToken,
    const std::optional<std::string>& tokenSecret) {
  return makeRequest(path, parameters, "POST", "https", host, consumerKey, consumerSecret, accessToken, tokenSecret);
}

void OAuthBuilder::setUserAgent(std::optional<std::string> agent) {
  std::lock_guard lock(settings().mutex);
  settings().userAgent = std::move(agent);
}

void OAuthBuilder::setTimeStampOffset(std::int64_t seconds) { settings().timeStampOffset = seconds; }

void OAuthBuilder::setHTTPShouldHandleCookies(bool handle) { settings().shouldHandleCookies = handle; }

std::string OAuthBuilder::nonce() { return crypto::makeUUIDString(); }

std::string OAuthBuilder::timeStamp() {
  auto seconds = static_cast<std::int64_t>(std::floor(Clock::current()->now() + kReferenceDateOffset));
  return std::to_string(static_cast<std::uint32_t>(seconds + settings().timeStampOffset.load()));
}

std::string OAuthBuilder::queryStringFromParameters(const Dictionary& parameters) {
  std::string query;
  parameters.enumerate([&](const ObjectPtr& key, const ObjectPtr& value) {
    if (!query.empty()) query += '&';
    query += pcen(text(key)) + "=" + pcen(text(value));
    return true;
  });
  return query;
}

Ref<OAuthBuilder> OAuthBuilder::initWithConsumerKeyConsumerSecretAccessTokenTokenSecret(
    std::string_view consumerKey, std::string_view consumerSecret, const std::optional<std::string>& accessToken,
    const std::optional<std::string>& tokenSecret, std::optional<std::string> nonce,
    std::optional<std::string> timeStamp) {
  auto parameters = MutableDictionary::make();
  parameters->setObject(box(consumerKey), "oauth_consumer_key");
  parameters->setObject(box(nonce ? *nonce : OAuthBuilder::nonce()), "oauth_nonce");
  parameters->setObject(box(timeStamp ? *timeStamp : OAuthBuilder::timeStamp()), "oauth_timestamp");
  parameters->setObject(box("1.0"), "oauth_version");
  parameters->setObject(box("HMAC-SHA1"), "oauth_signature_method");
  if (accessToken) parameters->setObject(box(*accessToken), "oauth_token");
  std::string secret = pcen(consumerSecret) + "&" + pcen(tokenSecret.value_or(""));
  return std::make_shared<OAuthBuilder>(std::move(secret), dyn<Dictionary>(parameters->copy()));
}

OAuthBuilder::OAuthBuilder(std::string signatureSecret, Ref<Dictionary> OAuthParameters)
    : signatureSecret_(std::move(signatureSecret)), OAuthParameters_(std::move(OAuthParameters)) {}

void OAuthBuilder::setRequestParameters(const Ref<Dictionary>& parameters) {
  requestParameters_ = parameters ? dyn<Dictionary>(parameters->copy()) : nullptr;
}

Ref<MutableDictionary> OAuthBuilder::mergedParameters() const {
  auto merged = MutableDictionary::make();
  merged->addEntriesFromDictionary(*OAuthParameters_);
  if (requestParameters_) merged->addEntriesFromDictionary(*requestParameters_);
  return merged;
}

std::string OAuthBuilder::signatureBase() const {
  std::vector<std::pair<std::string, std::string>> entries;
  mergedParameters()->enumerate([&](const ObjectPtr& key, const ObjectPtr& value) {
    entries.emplace_back(text(key), text(value));
    return true;
  });
  std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  std::string joined;
  for (const auto& [name, value] : entries) {
    if (!joined.empty()) joined += '&';
    joined += pcen(name) + "=" + pcen(value);
  }
  // The path enters percent-decoded, unlike the consumer classes' base string.
  std::string baseURL = URL_ ? oauth_signing::baseStringAuthority(*URL_).value_or("") + URL_->path() : std::string();
  return pcen(HTTPMethod_) + "&" + pcen(baseURL) + "&" + pcen(joined);
}

std::string OAuthBuilder::signature() const {
  auto digest = crypto::hmacSHA1(crypto::bytesOf(signatureSecret_), crypto::bytesOf(signatureBase()));
  return base64::base64EncodedString(digest);
}

std::string OAuthBuilder::authorizationHeader() const {
  auto merged = mergedParameters();
  std::string header = "OAuth ";
  bool first = true;
  auto append = [&](const std::string& name, const std::string& value) {
    if (!first) header += ',';
    first = false;
    header += pcen(name) + "=\"" + pcen(value) + "\"";
  };
  OAuthParameters_->enumerate([&](const ObjectPtr& key, const ObjectPtr&) {
    append(text(key), text(merged->objectForKey(key)));
    return true;
  });
  append("oauth_signature", signature());
  return header;
}

Ref<net::MutableURLRequest> OAuthBuilder::request() const {
  auto request =
      net::MutableURLRequest::requestWithURL(URL_, net::URLRequestCachePolicy::ReloadIgnoringLocalCacheData, 10.0);
  if (auto agent = userAgent()) request->setValueForHTTPHeaderField(*agent, "User-Agent");
  request->setValueForHTTPHeaderField(authorizationHeader(), "Authorization");
  request->setValueForHTTPHeaderField("gzip", "Accept-Encoding");
  request->setHTTPMethod(HTTPMethod_);
  request->setHTTPShouldHandleCookies(settings().shouldHandleCookies.load());
  return request;
}

}  // namespace zv

#pragma once
// Builds a ready-to-send request signed by OAuth 1.0a (HMAC-SHA1) in one call, for the
// note-service login. Unlike OCMutableURLRequest it signs the parameters it is given (not the
// URL's query), sorts them by unencoded name, and writes the header without blanks or realm.
// Building touches only the class settings; the setters are meant to run once before use.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Values.h"
#include "platform/net/URLRequest.h"

namespace zv {

class OAuthBuilder : public Object {
 public:
  // nullptr when the host or the path is absent, or the pieces do not make a URL.
  static Ref<net::MutableURLRequest> URLRequestForPathGETParametersSchemeHostConsumerKeyConsumerSecretAccessTokenTokenSecret(
      const std::optional<std::string>& path, const Ref<Dictionary>& parameters, std::string_view scheme,
      const std::optional<std::string>& host, std::string_view consumerKey, std::string_view consumerSecret,
      const std::optional<std::string>& accessToken, const std::optional<std::string>& tokenSecret);
  // The same over "http".
  static Ref<net::MutableURLRequest> URLRequestForPathGETParametersHostConsumerKeyConsumerSecretAccessTokenTokenSecret(
      const std::optional<std::string>& path, const Ref<Dictionary>& parameters,
      const std::optional<std::string>& host, std::string_view consumerKey, std::string_view consumerSecret,
      const std::optional<std::string>& accessToken, const std::optional<std::string>& tokenSecret);
  // A POST over "https"; parameters go form-encoded into the body.
  static Ref<net::MutableURLRequest> URLRequestForPathPOSTParametersHostConsumerKeyConsumerSecretAccessTokenTokenSecret(
      const std::optional<std::string>& path, const Ref<Dictionary>& parameters,
      const std::optional<std::string>& host, std::string_view consumerKey, std::string_view consumerSecret,
      const std::optional<std::string>& accessToken, const std::optional<std::string>& tokenSecret);

  // Process-wide settings; nothing in the program changes the defaults (no user agent, offset 0,
  // cookies handled).
  static void setUserAgent(std::optional<std::string> userAgent);
  static void setTimeStampOffset(std::int64_t seconds);
  static void setHTTPShouldHandleCookies(bool handle);

  // A new UUID text.
  static std::string nonce();
  // Seconds since 1970 plus the offset, as unsigned 32-bit decimal text.
  static std::string timeStamp();
  // "name=value" pairs, percent-encoded, joined by "&" in the dictionary's order.
  static std::string queryStringFromParameters(const Dictionary& parameters);

  // The OAuth parameters are fixed here: consumer key, a fresh nonce and time stamp (or the given
  // ones), version "1.0", "HMAC-SHA1", and the token only when one is given.
  static Ref<OAuthBuilder> initWithConsumerKeyConsumerSecretAccessTokenTokenSecret(
      std::string_view consumerKey, std::string_view consumerSecret, const std::optional<std::string>& accessToken,
      const std::optional<std::string>& tokenSecret, std::optional<std::string> nonce = std::nullopt,
      std::optional<std::string> timeStamp = std::nullopt);

  // The request for URL and method, carrying the "Authorization" header.
  Ref<net::MutableURLRequest> request() const;
  // "OAuth " and the OAuth parameters with the signature, quoted and joined by ",". A request
  // parameter that shadows an OAuth parameter gives its value here as in the base string, so the
  // header always carries what was signed.
  std::string authorizationHeader() const;
  std::string signature() const;
  std::string signatureBase() const;

  const std::string& signatureSecret() const { return signatureSecret_; }
  const Ref<Dictionary>& OAuthParameters() const { return OAuthParameters_; }
  const Ref<Dictionary>& requestParameters() const { return requestParameters_; }
  void setRequestParameters(const Ref<Dictionary>& parameters);
  const std::string& HTTPMethod() const { return HTTPMethod_; }
  void setHTTPMethod(std::string_view method) { HTTPMethod_ = method; }
  const Ref<zv::URL>& URL() const { return URL_; }
  void setURL(Ref<zv::URL> url) { URL_ = std::move(url); }

  OAuthBuilder(std::string signatureSecret, Ref<Dictionary> OAuthParameters);

 private:
  // OAuthParameters, then requestParameters over them.
  Ref<MutableDictionary> mergedParameters() const;

  std::string signatureSecret_;
  Ref<Dictionary> OAuthParameters_;
  Ref<Dictionary> requestParameters_;
  std::string HTTPMethod_;
  Ref<zv::URL> URL_;
};

}  // namespace zv

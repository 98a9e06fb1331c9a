#pragma once
// The photo service's API context: the application's API key and shared secret, the user's
// tokens and the service endpoints. It signs call arguments with the service's key-sorted MD5
// scheme (authentication token) and with OAuth 1.0a HMAC-SHA1 (OAuth token), and forms the login,
// authorization, image and photo-page URLs.
//
// Threads: one thread at a time (the main thread here). Holds no secret in its description.

#include <string>
#include <utility>
#include <vector>

#include "platform/foundation/Dictionary.h"
#include "platform/foundation/URL.h"

namespace zv {

inline constexpr const char* kFlickrAPIHost = "api.flickr.com";
inline constexpr const char* kFlickrWebHost = "www.flickr.com";
inline constexpr const char* kFlickrStaticHost = "static.flickr.com";
inline constexpr const char* kFlickrServiceErrorDomain = "com.flickr";

class FlickrAPIContext : public Object {
 public:
  using Component = std::pair<std::string, std::string>;

  static Ref<FlickrAPIContext> initWithAPIKey(std::string key, std::string sharedSecret);
  FlickrAPIContext(std::string key, std::string sharedSecret);

  const std::string& key() const { return key_; }
  const std::string& sharedSecret() const { return sharedSecret_; }
  const std::string& authToken() const { return authToken_; }
  void setAuthToken(std::string token) { authToken_ = std::move(token); }
  const std::string& RESTAPIEndpoint() const { return restEndpoint_; }
  void setRESTAPIEndpoint(std::string endpoint) { restEndpoint_ = std::move(endpoint); }
  const std::string& photoSource() const { return photoSource_; }
  // Ignores a value that is not an http or https address.
  void setPhotoSource(std::string source);
  const std::string& photoWebPageSource() const { return photoWebPageSource_; }
  void setPhotoWebPageSource(std::string source);
  const std::string& authEndpoint() const { return authEndpoint_; }
  void setAuthEndpoint(std::string endpoint) { authEndpoint_ = std::move(endpoint); }
  const std::string& uploadEndpoint() const { return uploadEndpoint_; }
  void setUploadEndpoint(std::string endpoint) { uploadEndpoint_ = std::move(endpoint); }
  const std::string& OAuthToken() const { return oauthToken_; }
  void setOAuthToken(std::string token) { oauthToken_ = std::move(token); }
  const std::string& OAuthTokenSecret() const { return oauthTokenSecret_; }
  void setOAuthTokenSecret(std::string secret) { oauthTokenSecret_ = std::move(secret); }
  bool hasOAuthCredentials() const { return !oauthToken_.empty() && !oauthTokenSecret_.empty(); }

  // The arguments plus "api_key" and "auth_token" in key order, then ["api_sig", MD5 signature
  // over the secret and every key and unescaped value]. Values escaped when `useURIEscape`.
  std::vector<Component> signedArgumentComponentsFromArguments(const Dictionary* arguments, bool useURIEscape) const;
  // The escaped components joined as name=value with "&".
  std::string signedQueryFromArguments(const Dictionary* arguments) const;
  // The arguments plus the OAuth parameters and "oauth_signature" (HMAC-SHA1 under the escaped
  // secret and token secret).
  Ref<MutableDictionary> signedOAuthHTTPQueryArguments(const Dictionary* arguments, const std::string& baseURL,
                                                       const std::string& method) const;
  std::string oauthURLFromBaseURL(const std::string& baseURL, const std::string& method,
                                  const Dictionary* arguments) const;
  Ref<URL> loginURLFromFrobDictionary(const Dictionary* frobDictionary, const std::string& permission) const;
  Ref<URL> userAuthorizationURLWithRequestToken(const std::string& token, const std::string& permission) const;
  Ref<URL> photoSourceURLFromDictionary(const Dictionary& photo, const std::string& size) const;
  Ref<URL> photoWebPageURLFromDictionary(const Dictionary& photo) const;

  // Never shows the secret or the tokens.
  std::string description() const override;

 private:
  std::string key_;
  std::string sharedSecret_;
  std::string authToken_;
  std::string restEndpoint_;
  std::string photoSource_;
  std::string photoWebPageSource_;
  std::string authEndpoint_;
  std::string uploadEndpoint_;
  std::string oauthToken_;
  std::string oauthTokenSecret_;
};

// OAuth's signing key: the secret and the token secret, each escaped, joined by "&".
std::string FKOAuthSigningKey(const std::string& consumerSecret, const std::string& tokenSecret);

}  // namespace zv

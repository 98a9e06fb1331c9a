#pragma once
// A URL request signed by OAuth 1.0a: it carries the consumer, token, realm and signature method,
// and `prepare` computes the signature and sets the "Authorization" header once. The timestamp and
// nonce are fixed at creation, so a re-sent request reuses them. Not thread-safe: build, prepare
// and send on one thread.

#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "platform/net/URLRequest.h"
#include "sharing/core/oauth/OCConsumer.h"
#include "sharing/core/oauth/OCSignatureProviding.h"
#include "sharing/core/oauth/OCToken.h"

namespace zv {

class OCMutableURLRequest : public net::MutableURLRequest {
 public:
  // Reloads ignoring cached data, times out after 10 s. No token means an empty one, no realm the
  // empty realm, no provider HMAC-SHA1. A fresh timestamp (seconds since 1970) and nonce (a UUID).
  static Ref<OCMutableURLRequest> make(Ref<URL> url, Ref<OCConsumer> consumer, Ref<OCToken> token = nullptr,
                                       std::optional<std::string> realm = std::nullopt,
                                       Ref<OCSignatureProviding> signatureProvider = nullptr);
  // The same with the given nonce and timestamp.
  static Ref<OCMutableURLRequest> make(Ref<URL> url, Ref<OCConsumer> consumer, Ref<OCToken> token,
                                       std::optional<std::string> realm, Ref<OCSignatureProviding> signatureProvider,
                                       std::string nonce, std::string timestamp);

  const Ref<OCConsumer>& consumer() const { return consumer_; }
  const Ref<OCToken>& token() const { return token_; }
  const std::string& realm() const { return realm_; }
  const Ref<OCSignatureProviding>& signatureProvider() const { return signatureProvider_; }
  // Empty until `prepare`.
  const std::string& signature() const { return signature_; }
  const std::string& nonce() const { return nonce_; }
  const std::string& timestamp() const { return timestamp_; }
  // Extra OAuth parameters by name (ascending), sent in the header and signed.
  const std::map<std::string, std::string>& extraOAuthParameters() const { return extraOAuthParameters_; }
  bool didPrepare() const { return didPrepare_; }

  // Stores the pair, replacing an earlier value of that name.
  void setOAuthParameterName(std::string_view name, std::string_view value);
  // Signs and sets "Authorization"; does nothing when already prepared, so a request changed
  // afterwards is not signed again.
  void prepare();
  // Method, the normalized URL without query (scheme and host lower-cased, default port dropped)
  // and the encoded, sorted parameter pairs; a subclass may replace it.
  virtual std::string _signatureBaseString() const;

  OCMutableURLRequest(Ref<URL> url, Ref<OCConsumer> consumer, Ref<OCToken> token, std::optional<std::string> realm,
                      Ref<OCSignatureProviding> signatureProvider, std::string nonce, std::string timestamp);

 private:
  Ref<OCConsumer> consumer_;
  Ref<OCToken> token_;
  std::string realm_;
  std::string signature_;
  Ref<OCSignatureProviding> signatureProvider_;
  std::string nonce_;
  std::string timestamp_;
  std::map<std::string, std::string> extraOAuthParameters_;
  bool didPrepare_ = false;
};

namespace oauth_signing {

// The base-string URI of RFC 5849 section 3.4.1.2: scheme and host lower-cased, the port only when
// it is not the scheme's default, the path as written ("/" when empty), no query or fragment.
std::string baseStringURI(const URL& url);
// The "scheme://host[:port]" start of it; nullopt when the URL has no scheme or host.
std::optional<std::string> baseStringAuthority(const URL& url);
// Seconds since 1970-01-01 UTC by the process clock, as decimal text.
std::string currentTimestamp();

}  // namespace oauth_signing
}  // namespace zv

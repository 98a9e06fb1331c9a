#pragma once
// An HTTP authentication object made from the challenge of a 401 (WWW-Authenticate) or 407
// (Proxy-Authenticate) answer: its scheme ("Basic", "Digest" or "NTLM"), realm, validity, and
// applying a credential dictionary (user name, password, account domain) to a request message.
//
// - Basic: "Authorization: Basic base64(user:password)".
// - Digest: MD5, MD5-sess and qop "auth" (or no qop); a new nonce count for each use of a nonce;
//   a challenge marked stale takes the new nonce and stays valid (the same credentials go again),
//   once: a stale challenge answering that retry counts as a refusal.
// - NTLM (NTLMv2): the first apply sends the negotiate message; the server's challenge message,
//   taken with updateFromResponse, lets the second apply send the authenticate message. The
//   handshake only works when both go over the same kept-alive connection.
//
// Validity: an answer that challenges again although the request that drew it carried this
// scheme's credentials (and is not a stale nonce or an NTLM challenge message) makes the object
// invalid with the reason kHTTPStreamErrorDomain / kHTTPAuthenticationBadPassword.
//
// Challenges that cannot be read (no challenge field, no supported scheme, a missing realm or
// nonce, broken quoting) make no object: fromResponse answers nullptr with an error.
//
// Threads: one thread at a time (the request's).

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Values.h"
#include "platform/net/HTTPMessage.h"

namespace zv::net {

inline constexpr const char* kHTTPAuthenticationSchemeBasic = "Basic";
inline constexpr const char* kHTTPAuthenticationSchemeDigest = "Digest";
inline constexpr const char* kHTTPAuthenticationSchemeNTLM = "NTLM";
// Keys of a credential dictionary.
inline constexpr const char* kHTTPAuthenticationUsername = "Username";
inline constexpr const char* kHTTPAuthenticationPassword = "Password";
inline constexpr const char* kHTTPAuthenticationAccountDomain = "AccountDomain";
// Reasons of an invalid object (kHTTPStreamErrorDomain).
inline constexpr std::int64_t kHTTPAuthenticationBadUsername = -1001;
inline constexpr std::int64_t kHTTPAuthenticationBadPassword = -1002;
inline constexpr std::int64_t kHTTPAuthenticationBadChallenge = -1000;

// One challenge of a challenge field.
struct HTTPChallenge {
  std::string scheme;                          // as sent
  std::map<std::string, std::string> params;  // names lower-cased
  std::optional<std::string> token;            // token68 form (NTLM messages)
};

// Every challenge in the text; nullopt for text that is not a challenge list.
std::optional<std::vector<HTTPChallenge>> parseChallenges(std::string_view text);

// The user name and password in a Basic credentials field ("Basic base64(user:password)");
// nullopt for another scheme or text that does not decode.
std::optional<std::pair<std::string, std::string>> basicCredentialsOfField(std::string_view field);

class HTTPAuthentication : public Object {
 public:
  // `sentRequest` is the request that drew `response` (may be nullptr).
  static Ref<HTTPAuthentication> fromResponse(const HTTPMessage& response, const HTTPMessage* sentRequest,
                                              Ref<Error>* error);
  // Takes the new challenge of this scheme from a later answer. False when the answer has none
  // (or one that cannot be read): the caller then makes a new object.
  bool updateFromResponse(const HTTPMessage& response, const HTTPMessage* sentRequest);

  const std::string& method() const { return scheme_; }
  const std::optional<std::string>& realm() const { return realm_; }
  bool requiresAccountDomain() const { return scheme_ == kHTTPAuthenticationSchemeNTLM; }
  bool requiresUsernameAndPassword() const { return true; }
  bool isProxy() const { return proxy_; }
  bool isValid(Ref<Error>* reason = nullptr) const;
  // Adds "Authorization" (or "Proxy-Authorization") to `request`. False (with an error) when the
  // credentials lack a user name or password or the object is not valid.
  bool applyCredentials(const Dictionary& credentials, HTTPMessage& request, Ref<Error>* error = nullptr);

 private:
  bool take(const HTTPChallenge& challenge, const HTTPMessage* sentRequest, Ref<Error>* error);

  bool proxy_ = false;
  std::string scheme_;
  std::optional<std::string> realm_;
  Ref<Error> invalidReason_;
  // Digest.
  std::string nonce_, opaque_, algorithm_, qop_;
  bool hasOpaque_ = false;
  unsigned nonceCount_ = 0;
  // The last challenge was a stale nonce answering this scheme's credentials.
  bool staleRetried_ = false;
  // NTLM: the server's challenge message, once it came.
  std::optional<std::vector<std::uint8_t>> ntlmChallenge_;
};

// NTLMv2 pieces, exposed for known-answer tests. Strings are UTF-8; NTLM takes them as UTF-16LE.
namespace ntlm {
std::optional<std::array<std::uint8_t, 16>> ntHash(std::string_view password);  // MD4
std::array<std::uint8_t, 16> hmacMD5(std::span<const std::uint8_t> key, std::span<const std::uint8_t> data);
std::array<std::uint8_t, 16> ntlmv2Hash(const std::array<std::uint8_t, 16>& ntHash, std::string_view user,
                                        std::string_view domain);
// The NTLMv2 response (proof and blob) for a server challenge, a client nonce, a timestamp
// (100 ns units since 1601) and the server's target information.
std::vector<std::uint8_t> ntlmv2Response(const std::array<std::uint8_t, 16>& v2Hash,
                                         std::span<const std::uint8_t> serverChallenge,
                                         std::span<const std::uint8_t> clientNonce, std::uint64_t timestamp,
                                         std::span<const std::uint8_t> targetInfo);
std::vector<std::uint8_t> utf16le(std::string_view text);
std::vector<std::uint8_t> negotiateMessage();
}  // namespace ntlm

}  // namespace zv::net

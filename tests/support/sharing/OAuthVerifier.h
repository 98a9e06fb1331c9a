#pragma once
// Checks OAuth 1.0a HMAC-SHA1 signatures the way a service does, written apart from the code
// under test (RFC 5849 rules, OpenSSL's HMAC): the loopback service stand-ins use it to refuse a
// request whose signature does not verify, so a wrongly signed request fails the test.
//
// Pure functions; any thread.

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/net/FaultServer.h"

namespace zv::testing::oauth_check {

// RFC 3986 unreserved characters kept, everything else "%XX" (upper case).
std::string encode(std::string_view text);
// "%XX" decoded; with `plusIsBlank` "+" becomes a blank (form bodies).
std::string decode(std::string_view text, bool plusIsBlank = false);
// "a=1&b=2" into decoded pairs, in order.
std::vector<std::pair<std::string, std::string>> decodePairs(std::string_view text, bool plusIsBlank = false);
// The pairs as a map (the last value of a repeated name wins).
std::map<std::string, std::string> decodeForm(std::string_view text);

// The parameters of an "Authorization: OAuth ..." value (decoded); nullopt when malformed.
std::optional<std::map<std::string, std::string>> authorizationParameters(std::string_view header);

// Base64 of HMAC-SHA1 over `text` keyed with `key`.
std::string hmacSHA1Base64(std::string_view key, std::string_view text);

struct Verdict {
  bool ok = false;
  std::string why;  // empty when ok
  std::map<std::string, std::string> oauth;  // the header's oauth_* values
};

// Verifies `authorization` for a request of `method` on `baseURL` ("https://host/path", no query)
// with `query` and a form `body` (pass an empty body for a multipart upload), the consumer key
// and secret, and `tokenSecretFor` the secret of the token named in the header ("" when the
// request carries no token). Unknown tokens fail.
Verdict verify(std::string_view method, std::string_view baseURL, std::string_view query, std::string_view formBody,
               std::string_view authorization, std::string_view consumerKey, std::string_view consumerSecret,
               const std::map<std::string, std::string>& tokenSecrets);

// The same for a recorded request: the base URL is "https://" + its Host field + its path, the
// query comes from its target, and its body counts when it is form-encoded.
Verdict verifyRequest(const RecordedRequest& request, std::string_view consumerKey, std::string_view consumerSecret,
                      const std::map<std::string, std::string>& tokenSecrets);

}  // namespace zv::testing::oauth_check

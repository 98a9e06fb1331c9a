#pragma once
// One cookie as RFC 6265 defines it, parsed from "Set-Cookie" fields. Immutable.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Date.h"
#include "platform/foundation/Dictionary.h"
#include "platform/foundation/Object.h"
#include "platform/foundation/URL.h"
#include "platform/net/HTTPMessage.h"

namespace zv::net {

class HTTPCookie : public Object {
 public:
  struct Fields {
    std::string name;
    std::string value;
    std::string domain;  // lower case, without a leading dot
    std::string path = "/";
    Ref<Date> expiresDate;  // nullptr: a session cookie
    bool hostOnly = true;   // no Domain attribute: only the setting host matches
    bool secure = false;
    bool httpOnly = false;
    std::optional<std::string> sameSite;
    double creationTime = 0;  // seconds since the reference date; orders "Cookie" fields
  };

  static Ref<HTTPCookie> make(Fields fields);

  // Cookies from every "Set-Cookie" field of a response for `url`, dropping those RFC 6265 tells a
  // user agent to ignore (no name-value pair, a Domain that does not domain-match the host or is a
  // public suffix, a "__Secure-"/"__Host-" prefix whose rules are broken).
  static std::vector<Ref<HTTPCookie>> cookiesWithResponseHeaderFields(const HeaderFields& headers, const URL& url);
  // One "Set-Cookie" value; nullptr when ignored.
  static Ref<HTTPCookie> parseSetCookie(std::string_view value, const URL& url);
  // {"Cookie": "a=1; b=2"} for the cookies in order; empty when there are none.
  static Ref<Dictionary> requestHeaderFieldsWithCookies(const std::vector<Ref<HTTPCookie>>& cookies);
  static std::string cookieHeaderValue(const std::vector<Ref<HTTPCookie>>& cookies);

  const std::string& name() const { return fields_.name; }
  const std::string& value() const { return fields_.value; }
  const std::string& domain() const { return fields_.domain; }
  const std::string& path() const { return fields_.path; }
  const Ref<Date>& expiresDate() const { return fields_.expiresDate; }
  bool isSessionOnly() const { return !fields_.expiresDate; }
  bool isHostOnly() const { return fields_.hostOnly; }
  bool isSecure() const { return fields_.secure; }
  bool isHTTPOnly() const { return fields_.httpOnly; }
  const Fields& fields() const { return fields_; }
  bool isExpired(double now) const;

  // Whether the cookie goes with a request to `url` (domain, path and secure rules).
  bool matchesURL(const URL& url) const;

  // Same name, domain and path: one replaces the other in a store.
  bool isEqual(const Object& other) const override;
  std::size_t hash() const override;
  std::string description() const override;

  explicit HTTPCookie(Fields fields) : fields_(std::move(fields)) {}

 private:
  Fields fields_;
};

// RFC 6265 section 5.1.3 and 5.1.4 helpers, exposed for tests.
bool domainMatches(std::string_view host, std::string_view domain);
bool pathMatches(std::string_view requestPath, std::string_view cookiePath);
std::string defaultCookiePath(std::string_view requestPath);
// RFC 6265 cookie-date parsing (section 5.1.1): seconds since the Unix epoch, nullopt if invalid.
std::optional<double> parseCookieDate(std::string_view text);
// YES when `domain` is a public suffix (libpsl), e.g. "com" or "co.uk".
bool isPublicSuffix(std::string_view domain);

}  // namespace zv::net

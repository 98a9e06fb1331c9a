#pragma once
// The process's shared cookie store (memory only): what responses set and requests send.
// Thread-safe: every operation takes the store's mutex; callbacks are never called under it.

#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

#include "platform/foundation/ForkHandlers.h"
#include "platform/foundation/Object.h"
#include "platform/foundation/URL.h"
#include "platform/net/HTTPCookie.h"

namespace zv::net {

class CookieStore : public Object {
 public:
  static Ref<CookieStore> sharedInstance();
  static Ref<CookieStore> make();

  // Stores one cookie, replacing one with the same name, domain and path; an expired cookie only
  // removes its predecessor.
  void setCookie(const Ref<HTTPCookie>& cookie);
  // Stores cookies that came with a response for `url`.
  void setCookies(const std::vector<Ref<HTTPCookie>>& cookies, const URL& url);
  // Parses the response's "Set-Cookie" fields for `url` and stores them; returns what was parsed.
  std::vector<Ref<HTTPCookie>> setCookiesFromResponseHeaders(const HeaderFields& headers, const URL& url);

  // The unexpired cookies to send to `url`, longest path first, then oldest first.
  std::vector<Ref<HTTPCookie>> cookiesForURL(const URL& url) const;
  // The "Cookie" field value for `url`, nullopt when no cookie applies.
  std::optional<std::string> requestHeaderFieldForURL(const URL& url) const;
  // Every stored cookie.
  std::vector<Ref<HTTPCookie>> cookies() const;

  // Removes the cookie with the same name, domain and path.
  void deleteCookie(const HTTPCookie& cookie);
  void removeAllCookies();
  std::size_t count() const;

  // Keeps at most this many cookies per domain and in all (oldest evicted first).
  static constexpr std::size_t kMaxCookiesPerDomain = 50;
  static constexpr std::size_t kMaxCookies = 3000;

 private:
  void removeExpiredLocked(double now) const;
  // Held across a fork (ForkHandlers.h).
  mutable ForkMutex mutex_{ForkLockLevel::Cookies};
  mutable std::vector<Ref<HTTPCookie>> cookies_;
};

}  // namespace zv::net

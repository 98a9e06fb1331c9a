#include "platform/net/CookieStore.h"

#include <algorithm>

#include "platform/foundation/Clock.h"

namespace zv::net {

Ref<CookieStore> CookieStore::sharedInstance() {
  static Ref<CookieStore>& shared = *new Ref<CookieStore>(make());
  return shared;
}

Ref<CookieStore> CookieStore::make() { return std::make_shared<CookieStore>(); }

void CookieStore::removeExpiredLocked(double now) const {
  std::erase_if(cookies_, [now](const Ref<HTTPCookie>& cookie) { return cookie->isExpired(now); });
}

void CookieStore::setCookie(const Ref<HTTPCookie>& cookie) {
  if (!cookie) return;
  double now = Clock::current()->now();
  std::lock_guard lock(mutex_);
  auto found = std::find_if(cookies_.begin(), cookies_.end(), [&](const Ref<HTTPCookie>& c) { return c->isEqual(*cookie); });
  double creation = cookie->fields().creationTime;
  if (found != cookies_.end()) {
    creation = (*found)->fields().creationTime;  // a replaced cookie keeps its place in the order
    cookies_.erase(found);
  }
  if (cookie->isExpired(now)) return;
  auto fields = cookie->fields();
  fields.creationTime = creation;
  cookies_.push_back(HTTPCookie::make(std::move(fields)));
  removeExpiredLocked(now);
  // Bounded: the oldest cookies of a crowded domain, then of the whole store, go first.
  auto oldestOf = [&](const std::string* domain) {
    auto oldest = cookies_.end();
    for (auto it = cookies_.begin(); it != cookies_.end(); ++it) {
      if (domain && (*it)->domain() != *domain) continue;
      if (oldest == cookies_.end() || (*it)->fields().creationTime < (*oldest)->fields().creationTime) oldest = it;
    }
    return oldest;
  };
  const std::string domain = cookie->domain();
  while (std::count_if(cookies_.begin(), cookies_.end(), [&](const Ref<HTTPCookie>& c) { return c->domain() == domain; }) >
         static_cast<long>(kMaxCookiesPerDomain)) {
    cookies_.erase(oldestOf(&domain));
  }
  while (cookies_.size() > kMaxCookies) cookies_.erase(oldestOf(nullptr));
}

void CookieStore::setCookies(const std::vector<Ref<HTTPCookie>>& cookies, const URL&) {
  for (const auto& cookie : cookies) setCookie(cookie);
}

std::vector<Ref<HTTPCookie>> CookieStore::setCookiesFromResponseHeaders(const HeaderFields& headers, const URL& url) {
  auto cookies = HTTPCookie::cookiesWithResponseHeaderFields(headers, url);
  setCookies(cookies, url);
  return cookies;
}

std::vector<Ref<HTTPCookie>> CookieStore::cookiesForURL(const URL& url) const {
  double now = Clock::current()->now();
  std::vector<Ref<HTTPCookie>> matching;
  {
    std::lock_guard lock(mutex_);
    removeExpiredLocked(now);
    for (const auto& cookie : cookies_) {
      if (cookie->matchesURL(url)) matching.push_back(cookie);
    }
  }
  std::stable_sort(matching.begin(), matching.end(), [](const Ref<HTTPCookie>& a, const Ref<HTTPCookie>& b) {
    if (a->path().size() != b->path().size()) return a->path().size() > b->path().size();
    return a->fields().creationTime < b->fields().creationTime;
  });
  return matching;
}

std::optional<std::string> CookieStore::requestHeaderFieldForURL(const URL& url) const {
  auto cookies = cookiesForURL(url);
  if (cookies.empty()) return std::nullopt;
  return HTTPCookie::cookieHeaderValue(cookies);
}

std::vector<Ref<HTTPCookie>> CookieStore::cookies() const {
  std::lock_guard lock(mutex_);
  removeExpiredLocked(Clock::current()->now());
  return cookies_;
}

void CookieStore::deleteCookie(const HTTPCookie& cookie) {
  std::lock_guard lock(mutex_);
  std::erase_if(cookies_, [&](const Ref<HTTPCookie>& c) { return c->isEqual(cookie); });
}

void CookieStore::removeAllCookies() {
  std::lock_guard lock(mutex_);
  cookies_.clear();
}

std::size_t CookieStore::count() const {
  std::lock_guard lock(mutex_);
  return cookies_.size();
}

namespace {
// Made with the process, before any thread can fork: a child made by fork never finds one half made
// (its guard held by a thread it does not have).
[[maybe_unused]] const bool gSharedStoreMade = (CookieStore::sharedInstance(), true);
}  // namespace

}  // namespace zv::net

#include "platform/net/HTTPCookie.h"

#include <libpsl.h>

#include <algorithm>
#include <cctype>
#include <ctime>
#include <mutex>

#include "platform/foundation/AsciiText.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Values.h"

namespace zv::net {

namespace {

// Cookie fields are padded with blanks only.
std::string trim(std::string_view text) { return std::string(ascii::trim(text, ascii::kBlanks)); }

bool isIPAddress(std::string_view host) {
  if (host.find(':') != std::string_view::npos) return true;
  return !host.empty() && std::all_of(host.begin(), host.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)) || c == '.'; });
}

const psl_ctx_t* publicSuffixList() {
  static const psl_ctx_t* list = [] {
    const psl_ctx_t* latest = psl_latest(nullptr);
    return latest ? latest : psl_builtin();
  }();
  return list;
}

bool isDelimiter(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  return u == 0x09 || (u >= 0x20 && u <= 0x2F) || (u >= 0x3B && u <= 0x40) || (u >= 0x5B && u <= 0x60) ||
         (u >= 0x7B && u <= 0x7E);
}

// Reads 1..max digits at the start of `token`; the rest must be non-digits.
std::optional<int> leadingDigits(std::string_view token, std::size_t min, std::size_t max, std::size_t* used = nullptr) {
  std::size_t count = 0;
  while (count < token.size() && std::isdigit(static_cast<unsigned char>(token[count]))) ++count;
  if (count < min || count > max) return std::nullopt;
  if (used) *used = count;
  return std::stoi(std::string(token.substr(0, count)));
}

}  // namespace

bool isPublicSuffix(std::string_view domain) {
  std::string text = ascii::lowercase(domain);
  if (text.empty()) return false;
  if (const psl_ctx_t* list = publicSuffixList()) return psl_is_public_suffix(list, text.c_str()) != 0;
  return text.find('.') == std::string::npos;
}

bool domainMatches(std::string_view host, std::string_view domain) {
  std::string h = ascii::lowercase(host), d = ascii::lowercase(domain);
  if (h == d) return true;
  return h.size() > d.size() && h.ends_with(d) && h[h.size() - d.size() - 1] == '.' && !isIPAddress(h);
}

bool pathMatches(std::string_view requestPath, std::string_view cookiePath) {
  if (requestPath == cookiePath) return true;
  if (!requestPath.starts_with(cookiePath)) return false;
  return cookiePath.ends_with('/') || requestPath[cookiePath.size()] == '/';
}

std::string defaultCookiePath(std::string_view requestPath) {
  if (requestPath.empty() || requestPath.front() != '/') return "/";
  auto last = requestPath.rfind('/');
  if (last == 0) return "/";
  return std::string(requestPath.substr(0, last));
}

std::optional<double> parseCookieDate(std::string_view text) {
  std::optional<int> hour, minute, second, day, month, year;
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && isDelimiter(text[i])) ++i;
    std::size_t start = i;
    while (i < text.size() && !isDelimiter(text[i])) ++i;
    std::string_view token = text.substr(start, i - start);
    if (token.empty()) continue;
    if (!hour) {
      // hms-time: 1*2DIGIT ":" 1*2DIGIT ":" 1*2DIGIT
      std::size_t a = 0, b = 0, c = 0;
      auto h = leadingDigits(token, 1, 2, &a);
      if (h && a < token.size() && token[a] == ':') {
        auto m = leadingDigits(token.substr(a + 1), 1, 2, &b);
        if (m && a + 1 + b < token.size() && token[a + 1 + b] == ':') {
          auto s = leadingDigits(token.substr(a + 2 + b), 1, 2, &c);
          if (s) {
            hour = h;
            minute = m;
            second = s;
            continue;
          }
        }
      }
    }
    if (!day) {
      if (auto d = leadingDigits(token, 1, 2)) {
        day = d;
        continue;
      }
    }
    if (!month && token.size() >= 3) {
      static const char* names[] = {"jan", "feb", "mar", "apr", "may", "jun", "jul", "aug", "sep", "oct", "nov", "dec"};
      std::string prefix = ascii::lowercase(token.substr(0, 3));
      bool found = false;
      for (int m = 0; m < 12; ++m) {
        if (prefix == names[m]) {
          month = m + 1;
          found = true;
        }
      }
      if (found) continue;
    }
    if (!year) {
      if (auto y = leadingDigits(token, 2, 4)) {
        year = y;
        continue;
      }
    }
  }
  if (!hour || !day || !month || !year) return std::nullopt;
  int y = *year;
  if (y >= 70 && y <= 99) y += 1900;
  if (y >= 0 && y <= 69) y += 2000;
  if (*day < 1 || *day > 31 || y < 1601 || *hour > 23 || *minute > 59 || *second > 59) return std::nullopt;
  std::tm tm{};
  tm.tm_year = y - 1900;
  tm.tm_mon = *month - 1;
  tm.tm_mday = *day;
  tm.tm_hour = *hour;
  tm.tm_min = *minute;
  tm.tm_sec = *second;
  return static_cast<double>(timegm(&tm));
}

Ref<HTTPCookie> HTTPCookie::make(Fields fields) { return std::make_shared<HTTPCookie>(std::move(fields)); }

Ref<HTTPCookie> HTTPCookie::parseSetCookie(std::string_view value, const URL& url) {
  auto host = url.lowercaseHost();
  if (!host || host->empty()) return nullptr;
  auto semicolon = value.find(';');
  std::string_view pair = value.substr(0, semicolon);
  auto equals = pair.find('=');
  if (equals == std::string_view::npos) return nullptr;
  Fields fields;
  fields.name = trim(pair.substr(0, equals));
  fields.value = trim(pair.substr(equals + 1));
  if (fields.name.empty()) return nullptr;
  for (char c : fields.name + fields.value) {
    if (static_cast<unsigned char>(c) < 0x20 && c != '\t') return nullptr;  // no control bytes
  }

  double now = Clock::current()->now() + kReferenceDateOffset;  // Unix seconds
  std::optional<double> expires, maxAge;
  std::optional<std::string> domainAttribute;
  std::optional<std::string> pathAttribute;
  std::string_view rest = semicolon == std::string_view::npos ? std::string_view() : value.substr(semicolon + 1);
  while (!rest.empty()) {
    auto next = rest.find(';');
    std::string_view attribute = rest.substr(0, next);
    rest = next == std::string_view::npos ? std::string_view() : rest.substr(next + 1);
    auto attributeEquals = attribute.find('=');
    std::string name = ascii::lowercase(trim(attribute.substr(0, attributeEquals)));
    std::string attributeValue =
        attributeEquals == std::string_view::npos ? std::string() : trim(attribute.substr(attributeEquals + 1));
    if (name == "expires") {
      if (auto date = parseCookieDate(attributeValue)) expires = date;
    } else if (name == "max-age") {
      std::string_view digits = attributeValue;
      bool negative = !digits.empty() && digits.front() == '-';
      if (negative) digits.remove_prefix(1);
      if (!digits.empty() && std::all_of(digits.begin(), digits.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); })) {
        double seconds = digits.size() > 12 ? 1e12 : std::stod(std::string(digits));
        maxAge = negative ? -1e12 : now + seconds;
        if (!negative && seconds == 0) maxAge = -1e12;
      }
    } else if (name == "domain") {
      std::string domain = ascii::lowercase(attributeValue);
      if (!domain.empty() && domain.front() == '.') domain.erase(0, 1);
      if (!domain.empty()) domainAttribute = domain;
    } else if (name == "path") {
      // The last Path wins; an empty or relative one stands for the default path.
      pathAttribute = !attributeValue.empty() && attributeValue.front() == '/' ? attributeValue
                                                                              : defaultCookiePath(url.path());
    } else if (name == "secure") {
      fields.secure = true;
    } else if (name == "httponly") {
      fields.httpOnly = true;
    } else if (name == "samesite") {
      fields.sameSite = attributeValue;
    }
  }

  // Max-Age wins over Expires.
  if (maxAge) {
    fields.expiresDate = Date::fromUnixTime(*maxAge);
  } else if (expires) {
    fields.expiresDate = Date::fromUnixTime(*expires);
  }

  if (domainAttribute) {
    if (isPublicSuffix(*domainAttribute)) {
      // A cookie for a public suffix is only acceptable from that very host, and only for it.
      if (*domainAttribute != *host) return nullptr;
      domainAttribute.reset();
    }
  }
  if (domainAttribute) {
    if (!domainMatches(*host, *domainAttribute)) return nullptr;
    fields.domain = *domainAttribute;
    fields.hostOnly = false;
  } else {
    fields.domain = *host;
    fields.hostOnly = true;
  }
  fields.path = pathAttribute ? *pathAttribute : defaultCookiePath(url.path());

  bool secureScheme = url.lowercaseScheme() == std::optional<std::string>("https");
  if (fields.name.rfind("__Secure-", 0) == 0 && !(fields.secure && secureScheme)) return nullptr;
  if (fields.name.rfind("__Host-", 0) == 0 &&
      !(fields.secure && secureScheme && fields.hostOnly && fields.path == "/")) {
    return nullptr;
  }
  fields.creationTime = Clock::current()->now();
  return make(std::move(fields));
}

std::vector<Ref<HTTPCookie>> HTTPCookie::cookiesWithResponseHeaderFields(const HeaderFields& headers, const URL& url) {
  std::vector<Ref<HTTPCookie>> cookies;
  for (const auto& value : headers.getAll("Set-Cookie")) {
    if (auto cookie = parseSetCookie(value, url)) cookies.push_back(std::move(cookie));
  }
  return cookies;
}

std::string HTTPCookie::cookieHeaderValue(const std::vector<Ref<HTTPCookie>>& cookies) {
  std::string value;
  for (const auto& cookie : cookies) {
    if (!value.empty()) value += "; ";
    value += cookie->name() + "=" + cookie->value();
  }
  return value;
}

Ref<Dictionary> HTTPCookie::requestHeaderFieldsWithCookies(const std::vector<Ref<HTTPCookie>>& cookies) {
  auto fields = MutableDictionary::make();
  if (!cookies.empty()) fields->setObject(String::make(cookieHeaderValue(cookies)), "Cookie");
  return fields;
}

bool HTTPCookie::isExpired(double now) const {
  return fields_.expiresDate && fields_.expiresDate->timeIntervalSinceReferenceDate() <= now;
}

bool HTTPCookie::matchesURL(const URL& url) const {
  auto host = url.lowercaseHost();
  if (!host) return false;
  if (fields_.hostOnly ? *host != fields_.domain : !domainMatches(*host, fields_.domain)) return false;
  std::string path = url.path().empty() ? "/" : url.path();
  if (!pathMatches(path, fields_.path)) return false;
  if (fields_.secure && url.lowercaseScheme() != std::optional<std::string>("https")) return false;
  return true;
}

bool HTTPCookie::isEqual(const Object& other) const {
  auto* cookie = dynamic_cast<const HTTPCookie*>(&other);
  return cookie && cookie->fields_.name == fields_.name && cookie->fields_.domain == fields_.domain &&
         cookie->fields_.path == fields_.path && cookie->fields_.hostOnly == fields_.hostOnly;
}

std::size_t HTTPCookie::hash() const { return std::hash<std::string>()(fields_.name + ";" + fields_.domain + ";" + fields_.path); }

std::string HTTPCookie::description() const {
  // The value may be a session secret: it stays out of logs.
  return "<HTTPCookie " + fields_.name + " domain=" + fields_.domain + " path=" + fields_.path +
         (isSessionOnly() ? " session" : "") + ">";
}

}  // namespace zv::net

// Class-level services of the HTTP request: defaults, the session cookie list, the User-Agent
// text, proxy lists from auto-configuration scripts, MIME types, Content-Type and date parsing,
// base64 and the network-activity indicator.

#include <sys/stat.h>
#include <sys/utsname.h>

#include <algorithm>
#include <cctype>
#include <ctime>
#include <locale>

#include "http/HTTPRequest.h"
#include "http/HTTPRequestShared.h"
#include "http/StringEncodings.h"
#include "platform/foundation/Format.h"
#include "platform/net/CookieStore.h"
#include "platform/net/MIMETypes.h"
#include "platform/net/ProxyAutoConfig.h"
#include "platform/runloop/Perform.h"
#include "platform/system/ApplicationEnvironment.h"
#include "platform/system/Bundle.h"
#include "platform/system/NetworkActivityIndicator.h"

namespace zv {

using httpdetail::requestClassState;

double HTTPRequest::defaultTimeOutSeconds() {
  auto& shared = requestClassState();
  std::lock_guard<std::mutex> guard(shared.defaultsLock);
  return shared.defaultTimeOutSeconds;
}

void HTTPRequest::setDefaultTimeOutSeconds(double seconds) {
  auto& shared = requestClassState();
  std::lock_guard<std::mutex> guard(shared.defaultsLock);
  shared.defaultTimeOutSeconds = seconds;
}

Ref<HTTPCacheDelegate> HTTPRequest::defaultCache() {
  auto& shared = requestClassState();
  std::lock_guard<std::mutex> guard(shared.defaultsLock);
  return shared.defaultCache;
}

void HTTPRequest::setDefaultCache(const Ref<HTTPCacheDelegate>& cache) {
  auto& shared = requestClassState();
  std::lock_guard<std::mutex> guard(shared.defaultsLock);
  shared.defaultCache = cache;
}

std::vector<Ref<net::HTTPCookie>> HTTPRequest::sessionCookies() {
  auto& shared = requestClassState();
  std::lock_guard<std::recursive_mutex> guard(shared.sessionCookieLock);
  if (!shared.sessionCookies) shared.sessionCookies.emplace();
  return *shared.sessionCookies;
}

void HTTPRequest::setSessionCookies(std::optional<std::vector<Ref<net::HTTPCookie>>> cookies) {
  auto& shared = requestClassState();
  std::lock_guard<std::recursive_mutex> guard(shared.sessionCookieLock);
  if (shared.sessionCookies) {
    auto store = net::CookieStore::sharedInstance();
    for (const auto& cookie : *shared.sessionCookies) store->deleteCookie(*cookie);
  }
  shared.sessionCookies = std::move(cookies);
}

void HTTPRequest::addSessionCookie(const Ref<net::HTTPCookie>& cookie) {
  auto& shared = requestClassState();
  std::lock_guard<std::recursive_mutex> guard(shared.sessionCookieLock);
  if (!shared.sessionCookies) shared.sessionCookies.emplace();
  auto& list = *shared.sessionCookies;
  auto same = std::find_if(list.begin(), list.end(), [&](const Ref<net::HTTPCookie>& c) {
    return c->domain() == cookie->domain() && c->path() == cookie->path() && c->name() == cookie->name();
  });
  if (same != list.end()) list.erase(same);
  list.push_back(cookie);
}

void HTTPRequest::clearSession() {
  clearSessionCredentials();
  setSessionCookies(std::nullopt);
  if (auto cache = defaultCache()) cache->clearCachedResponsesForStoragePolicy(CacheStorageSession);
}

std::optional<std::string> HTTPRequest::defaultUserAgentString() {
  auto bundle = Bundle::mainBundle();
  if (!bundle) return std::nullopt;
  auto text = [&](const char* key) -> std::optional<std::string> {
    auto value = dyn<String>(bundle->objectForInfoDictionaryKey(key));
    if (!value) return std::nullopt;
    return value->utf8();
  };
  auto name = text(kBundleDisplayNameKey);
  if (!name) name = text(kBundleNameKey);
  if (!name) return std::nullopt;
  auto marketing = text(kBundleShortVersionKey);
  auto build = text(kBundleVersionKey);
  std::optional<std::string> version;
  if (marketing && build) {
    version = *marketing == *build ? *marketing : format("%s rv:%s", marketing->c_str(), build->c_str());
  } else {
    version = marketing ? marketing : build;
  }
  auto& environment = ApplicationEnvironment::shared();
  // The locale identifier: language and country ("en_US").
  auto languages = environment.preferredLanguages();
  std::string language = languages.empty() ? "en" : languages.front();
  language = language.substr(0, language.find_first_of("-_"));
  std::string locale = language + "_" + environment.countryCode();
  // The kernel's name does not change while the process runs: asked once.
  static const std::string& system = *new std::string([] {
    struct utsname names {};
    return std::string(::uname(&names) == 0 && names.sysname[0] != '\0' ? names.sysname : "Linux");
  }());
  return format("%s %s (%s; %s %s; %s)", name->c_str(), version ? version->c_str() : "(null)",
                environment.deviceModel().c_str(), system.c_str(), environment.systemVersion().c_str(),
                locale.c_str());
}

std::optional<std::vector<net::ProxyServer>> HTTPRequest::proxiesForURL(const Ref<URL>& url,
                                                                         const std::string& script) {
  if (!url) return std::vector<net::ProxyServer>{};
  return net::ProxyAutoConfig::proxiesForURL(script, *url);
}

std::optional<std::string> HTTPRequest::mimeTypeForFileAtPath(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return std::nullopt;
  return net::MIMETypes::shared().typeForPath(path).value_or("application/octet-stream");
}

void HTTPRequest::parseMimeType(std::optional<std::string>* mimeType, unsigned* encoding,
                                const std::optional<std::string>& contentType) {
  if (!contentType) return;
  auto trim = [](std::string text) {
    auto notSpace = [](unsigned char c) { return !std::isspace(c); };
    text.erase(text.begin(), std::find_if(text.begin(), text.end(), notSpace));
    text.erase(std::find_if(text.rbegin(), text.rend(), notSpace).base(), text.end());
    return text;
  };
  const std::string& text = *contentType;
  auto semicolon = text.find(';');
  if (semicolon == std::string::npos || semicolon == 0) {
    if (mimeType) *mimeType = trim(text);
    return;
  }
  if (mimeType) *mimeType = trim(text.substr(0, semicolon));
  auto charsetAt = text.find("charset=", semicolon);
  if (charsetAt == std::string::npos) return;
  std::string charset = text.substr(charsetAt + 8);
  charset = trim(charset.substr(0, charset.find(';')));
  std::transform(charset.begin(), charset.end(), charset.begin(), [](unsigned char c) { return std::tolower(c); });
  if (charset.size() > 1 && charset.front() == '"' && charset.back() == '"') charset = charset.substr(1, charset.size() - 2);
  if (auto known = stringEncodingForCharsetName(charset); known && encoding) *encoding = *known;
}

Ref<Date> HTTPRequest::dateFromRFC1123String(const std::string& text) {
  bool weekday = text.find(',') != std::string::npos;
  std::size_t colons = static_cast<std::size_t>(std::count(text.begin(), text.end(), ':'));
  std::string pattern = std::string(weekday ? "%a, " : "") + "%d %b %Y %H:%M" + (colons == 2 ? ":%S" : "");
  std::tm fields{};
  std::istringstream input(text);
  input.imbue(std::locale::classic());
  input >> std::get_time(&fields, pattern.c_str());
  if (input.fail()) return nullptr;
  std::string zone;
  input >> zone;
  if (zone.empty()) return nullptr;
  long offset = 0;
  std::transform(zone.begin(), zone.end(), zone.begin(), [](unsigned char c) { return std::toupper(c); });
  // The North American zone names of RFC 822.
  static const std::pair<const char*, long> kNamedZones[] = {{"EST", -5}, {"EDT", -4}, {"CST", -6}, {"CDT", -5},
                                                             {"MST", -7}, {"MDT", -6}, {"PST", -8}, {"PDT", -7}};
  auto named = std::find_if(std::begin(kNamedZones), std::end(kNamedZones),
                            [&](const auto& entry) { return zone == entry.first; });
  if (zone == "GMT" || zone == "UTC" || zone == "UT" || zone == "Z") {
    offset = 0;
  } else if (named != std::end(kNamedZones)) {
    offset = named->second * 3600;
  } else if (zone.size() == 1 && zone[0] >= 'A' && zone[0] <= 'Y' && zone[0] != 'J') {
    // RFC 822 got the signs of the military letters backwards, so (as RFC 5322 says) they tell
    // nothing reliable: read as UTC.
    offset = 0;
  } else if ((zone[0] == '+' || zone[0] == '-') && zone.size() == 5 &&
             std::all_of(zone.begin() + 1, zone.end(), [](unsigned char c) { return std::isdigit(c); })) {
    long hours = std::stol(zone.substr(1, 2));
    long minutes = std::stol(zone.substr(3, 2));
    offset = (zone[0] == '-' ? -1 : 1) * (hours * 3600 + minutes * 60);
  } else {
    return nullptr;
  }
  time_t seconds = timegm(&fields);
  return Date::fromUnixTime(static_cast<double>(seconds - offset));
}

std::string HTTPRequest::base64forData(const Ref<Data>& data) {
  static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  if (!data) return out;
  const auto& bytes = data->bytes();
  out.reserve((bytes.size() + 2) / 3 * 4);
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    std::uint32_t chunk = static_cast<std::uint32_t>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) chunk |= static_cast<std::uint32_t>(bytes[i + 1]) << 8;
    if (i + 2 < bytes.size()) chunk |= bytes[i + 2];
    out.push_back(alphabet[(chunk >> 18) & 63]);
    out.push_back(alphabet[(chunk >> 12) & 63]);
    out.push_back(i + 1 < bytes.size() ? alphabet[(chunk >> 6) & 63] : '=');
    out.push_back(i + 2 < bytes.size() ? alphabet[chunk & 63] : '=');
  }
  return out;
}

bool HTTPRequest::isNetworkInUse() {
  auto& shared = requestClassState();
  std::lock_guard<std::recursive_mutex> pool(shared.connectionPoolLock);
  return shared.activeStreamCount != 0;
}

void HTTPRequest::setShouldUpdateNetworkActivityIndicator(bool flag) {
  auto& shared = requestClassState();
  std::lock_guard<std::recursive_mutex> pool(shared.connectionPoolLock);
  shared.shouldUpdateNetworkActivityIndicator = flag;
}

bool HTTPRequest::isNetworkActivityIndicatorVisible() { return NetworkActivityIndicator::shared().isVisible(); }

void HTTPRequest::showNetworkActivityIndicator() { NetworkActivityIndicator::shared().setVisible(true); }

void HTTPRequest::hideNetworkActivityIndicator() { NetworkActivityIndicator::shared().setVisible(false); }

void HTTPRequest::hideNetworkActivityIndicatorAfterDelay() {
  auto& shared = requestClassState();
  {
    // One pending hide is enough: it checks the count when it fires, and the next time the count
    // drops to zero after that schedules another.
    std::lock_guard<std::recursive_mutex> pool(shared.connectionPoolLock);
    if (shared.hidePending) return;
    shared.hidePending = true;
  }
  performAfterDelay(0.5, [] { hideNetworkActivityIndicatorIfNeeeded(); });
}

void HTTPRequest::hideNetworkActivityIndicatorIfNeeeded() {
  auto& shared = requestClassState();
  std::lock_guard<std::recursive_mutex> pool(shared.connectionPoolLock);
  shared.hidePending = false;
  if (shared.activeStreamCount == 0) hideNetworkActivityIndicator();
}

}  // namespace zv

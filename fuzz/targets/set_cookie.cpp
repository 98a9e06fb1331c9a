// "Set-Cookie" fields from a server: no input crashes the parser, every cookie it keeps obeys the
// rules a store relies on, and a kept cookie written back as a field reads back the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/foundation/AsciiText.h"
#include "platform/net/HTTPCookie.h"

namespace {

std::string writeBack(const zv::net::HTTPCookie& cookie) {
  std::string text = cookie.name() + "=" + cookie.value() + "; Path=" + cookie.path();
  if (!cookie.isHostOnly()) text += "; Domain=" + cookie.domain();
  if (cookie.isSecure()) text += "; Secure";
  if (cookie.isHTTPOnly()) text += "; HttpOnly";
  return text;
}

void check(const zv::net::HTTPCookie& cookie, const zv::URL& url) {
  auto host = url.lowercaseHost();
  if (cookie.name().empty() || cookie.path().empty() || cookie.path().front() != '/') std::abort();
  for (char c : cookie.name() + cookie.value()) {
    if (static_cast<unsigned char>(c) < 0x20 && c != '\t') std::abort();
  }
  if (cookie.isHostOnly() ? cookie.domain() != *host : !zv::net::domainMatches(*host, cookie.domain())) std::abort();
  // A default path comes from the URL and may hold what a Path attribute cannot say.
  const std::string& path = cookie.path();
  if (path.find(';') != std::string::npos || path.find_last_not_of(zv::ascii::kBlanks) != path.size() - 1) return;
  auto again = zv::net::HTTPCookie::parseSetCookie(writeBack(cookie), url);
  if (!again || again->name() != cookie.name() || again->value() != cookie.value() ||
      again->domain() != cookie.domain() || again->path() != cookie.path() ||
      again->isHostOnly() != cookie.isHostOnly() || again->isSecure() != cookie.isSecure() ||
      again->isHTTPOnly() != cookie.isHTTPOnly()) {
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The first line is the URL that answered; every further line is one "Set-Cookie" value.
  std::string_view input(reinterpret_cast<const char*>(data), size);
  auto newline = input.find('\n');
  if (newline == std::string_view::npos) return 0;
  auto url = zv::URL::make(input.substr(0, newline));
  if (!url || !url->lowercaseHost() || url->lowercaseHost()->empty()) return 0;
  zv::net::HeaderFields fields;
  std::string_view rest = input.substr(newline + 1);
  while (!rest.empty()) {
    auto end = rest.find('\n');
    fields.add("Set-Cookie", rest.substr(0, end));
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
  }
  for (const auto& cookie : zv::net::HTTPCookie::cookiesWithResponseHeaderFields(fields, *url)) check(*cookie, *url);
  return 0;
}

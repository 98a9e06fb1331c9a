// URL parsing and resolution of arbitrary text: a URL that parses writes back from its components
// to text that parses to the same components, and so does every resolution against it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/foundation/URL.h"

namespace {

std::string recompose(const zv::URL& url) {
  std::string text;
  if (url.scheme()) text += *url.scheme() + ":";
  if (url.host()) {
    text += "//";
    // User information as written: between "//" and the last "@" of the authority.
    const std::string& written = url.absoluteString();
    auto start = written.find("//") + 2;
    auto end = written.find_first_of("/?#", start);
    std::string authority = written.substr(start, end == std::string::npos ? end : end - start);
    if (auto at = authority.rfind('@'); at != std::string::npos) text += authority.substr(0, at + 1);
    text += *url.host();
    if (url.port()) text += ":" + std::to_string(*url.port());
  }
  text += url.encodedPath();
  if (url.query()) text += "?" + *url.query();
  if (url.fragment()) text += "#" + *url.fragment();
  return text;
}

bool sameComponents(const zv::URL& a, const zv::URL& b) {
  return a.scheme() == b.scheme() && a.host() == b.host() && a.port() == b.port() &&
         a.encodedPath() == b.encodedPath() && a.query() == b.query() && a.fragment() == b.fragment() &&
         a.user() == b.user() && a.password() == b.password();
}

void checkRoundTrip(const zv::Ref<zv::URL>& url) {
  if (!url) return;
  auto again = zv::URL::make(recompose(*url));
  if (!again || !sameComponents(*url, *again)) std::abort();
  auto reread = zv::URL::make(url->absoluteString());
  if (!reread || !sameComponents(*url, *reread)) std::abort();
  // An authority-less path never starts with "//": it would read back as a host.
  if (!url->host() && url->encodedPath().starts_with("//")) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  // "base\nreference": the first line is the base, the rest the reference.
  auto newline = input.find('\n');
  std::string_view first = input.substr(0, newline);
  auto url = zv::URL::make(first);
  checkRoundTrip(url);
  if (newline == std::string_view::npos || !url) return 0;
  std::string_view reference = input.substr(newline + 1);
  auto resolved = zv::URL::make(reference, url);
  checkRoundTrip(resolved);
  if (resolved && url->scheme() && !resolved->scheme()) std::abort();
  if (resolved && url) {
    (void)resolved->URLByAppendingPathComponent("a/b c");
    checkRoundTrip(url->URLByAppendingPathComponent(reference));
  }
  return 0;
}

#include "sharing/core/SXText.h"

#include <mutex>

#include "platform/crypto/Digest.h"
#include "platform/net/CookieStore.h"
#include "platform/system/Bundle.h"
#include "sharing/core/SX.h"

namespace zv {

std::string SXBundleText(std::string_view key) {
  static std::mutex lock;
  static Ref<Bundle>& bundle = *new Ref<Bundle>;
  static std::string& bundlePath = *new std::string;
  Ref<Bundle> current;
  {
    std::lock_guard guard(lock);
    auto path = SX::sharingLibraryBundlePath();
    if (path && (!bundle || bundlePath != *path)) {
      bundle = Bundle::bundleWithPath(*path);
      bundlePath = *path;
    }
    current = bundle;
  }
  if (!current) return std::string(key);
  return current->localizedStringForKey(key);
}

std::string SXFormatText(std::string_view format, const std::vector<std::string>& arguments) {
  std::string out;
  std::size_t next = 0;
  for (std::size_t i = 0; i < format.size(); ++i) {
    char c = format[i];
    if (c != '%' || i + 1 >= format.size()) {
      out += c;
      continue;
    }
    if (format[i + 1] == '%') {
      out += '%';
      ++i;
      continue;
    }
    std::size_t j = i + 1;
    while (j < format.size() && format[j] == 'l') ++j;
    if (j < format.size() && std::string_view("@sdiu").find(format[j]) != std::string_view::npos) {
      out += next < arguments.size() ? arguments[next] : std::string("(null)");
      ++next;
      i = j;
    } else {
      out += c;
    }
  }
  return out;
}

std::string SXFormEscape(const std::optional<std::string>& text) {
  if (!text) return "";
  // What the escaping routine kept for URLs, less the five that would break a form body.
  return percentEncode(*text, "-._~*'();:=$,/?[]");
}

std::string SXURLEscape(const Ref<URL>& url) {
  if (!url) return "";
  return percentEncode(url->absoluteString(), "-._~");
}

std::string SXStripHTML(std::string_view input, bool keepLineBreaks) {
  // One pass: each tag ("<" up to the next ">") becomes one blank; a "<" with no ">" after it
  // starts plain text to the end.
  std::string text;
  text.reserve(input.size());
  std::size_t from = 0;
  while (from < input.size()) {
    const std::size_t open = input.find('<', from);
    const std::size_t close = open == std::string_view::npos ? open : input.find('>', open);
    if (close == std::string_view::npos) break;
    text.append(input, from, open - from);
    text += ' ';
    from = close + 1;
  }
  if (from < input.size()) text.append(input, from, std::string_view::npos);
  if (!keepLineBreaks) std::erase(text, '\n');
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  const auto last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

std::string SXMD5(const Data& data) { return crypto::hex(crypto::md5(data.span())); }

void convertNullsToEmptyStrings(MutableDictionary& dictionary) {
  for (const auto& key : dictionary.allKeys()->objects()) {
    ObjectPtr value = dictionary.objectForKey(key);
    if (dyn<Null>(value)) {
      dictionary.setObject(box(""), key);
    } else if (auto nested = dyn<MutableDictionary>(value)) {
      convertNullsToEmptyStrings(*nested);
    } else if (auto fixed = dyn<Dictionary>(value)) {
      auto copy = dyn<MutableDictionary>(fixed->mutableCopy());
      convertNullsToEmptyStrings(*copy);
      dictionary.setObject(copy, key);
    }
  }
}

void deleteCookiesForURL(const Ref<URL>& url) {
  if (!url) return;
  auto store = net::CookieStore::sharedInstance();
  for (const auto& cookie : store->cookiesForURL(*url)) store->deleteCookie(*cookie);
}

}  // namespace zv

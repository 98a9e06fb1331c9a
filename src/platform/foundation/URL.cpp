#include "platform/foundation/URL.h"

#include <cctype>

#include "platform/foundation/AsciiText.h"
#include "platform/foundation/String.h"
#include "platform/foundation/Unicode.h"

namespace zv {

namespace {

bool isAllowedURLCharacter(unsigned char c) {
  if (std::isalnum(c)) return true;
  switch (c) {
    case '-': case '.': case '_': case '~': case ':': case '/': case '?': case '#': case '[': case ']':
    case '@': case '!': case '$': case '&': case '\'': case '(': case ')': case '*': case '+': case ',':
    case ';': case '=': case '%':
      return true;
    default:
      return false;
  }
}

std::string removeDotSegments(std::string_view input) {
  std::string in(input);
  std::string out;
  while (!in.empty()) {
    if (in.starts_with("../")) {
      in.erase(0, 3);
    } else if (in.starts_with("./")) {
      in.erase(0, 2);
    } else if (in.starts_with("/./")) {
      in.erase(0, 2);
    } else if (in == "/.") {
      in = "/";
    } else if (in.starts_with("/../") || in == "/..") {
      in = in == "/.." ? "/" : in.substr(3);
      auto slash = out.rfind('/');
      out.erase(slash == std::string::npos ? 0 : slash);
    } else if (in == "." || in == "..") {
      in.clear();
    } else {
      std::size_t start = in[0] == '/' ? 1 : 0;
      std::size_t next = in.find('/', start);
      if (next == std::string::npos) next = in.size();
      out += in.substr(0, next);
      in.erase(0, next);
    }
  }
  return out;
}

}  // namespace

std::string loggableURLString(const URL& url) {
  std::string text = url.scheme().value_or("");
  if (!url.host()) return text + ":...";
  text += "://";
  const auto& host = *url.host();
  text += host.find(':') != std::string::npos && host.front() != '[' ? "[" + host + "]" : host;
  if (url.port()) text += ":" + std::to_string(*url.port());
  text += url.encodedPath();
  if (url.query()) text += "?...";
  if (url.fragment()) text += "#...";
  return text;
}

std::string loggableURLString(const URL* url) { return url ? loggableURLString(*url) : std::string("(null)"); }

std::string percentEncode(std::string_view text, std::string_view keep) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (unsigned char c : text) {
    if ((c < 0x80 && std::isalnum(c)) || keep.find(static_cast<char>(c)) != std::string_view::npos) {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back('%');
      out.push_back(hex[c >> 4]);
      out.push_back(hex[c & 15]);
    }
  }
  return out;
}

std::optional<std::string> percentDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out.push_back(text[i]);
      continue;
    }
    if (i + 2 >= text.size()) return std::nullopt;
    int hi = ascii::hexDigitValue(text[i + 1]), lo = ascii::hexDigitValue(text[i + 2]);
    if (hi < 0 || lo < 0) return std::nullopt;
    out.push_back(static_cast<char>(hi * 16 + lo));
    i += 2;
  }
  if (!unicode::isValidUTF8(out)) return std::nullopt;
  return out;
}

bool URL::parse(std::string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (!isAllowedURLCharacter(c)) return false;
    if (c == '%' && (i + 2 >= text.size() || ascii::hexDigitValue(text[i + 1]) < 0 || ascii::hexDigitValue(text[i + 2]) < 0)) return false;
  }
  text_ = std::string(text);
  std::string_view rest = text;
  // Scheme.
  std::size_t colon = rest.find(':');
  if (colon != std::string_view::npos && colon > 0 && std::isalpha(static_cast<unsigned char>(rest[0]))) {
    bool valid = true;
    for (std::size_t i = 0; i < colon; ++i) {
      unsigned char c = static_cast<unsigned char>(rest[i]);
      if (!(std::isalnum(c) || c == '+' || c == '-' || c == '.')) valid = false;
    }
    if (valid) {
      scheme_ = std::string(rest.substr(0, colon));
      rest.remove_prefix(colon + 1);
    }
  }
  // Fragment and query.
  if (auto hash = rest.find('#'); hash != std::string_view::npos) {
    fragment_ = std::string(rest.substr(hash + 1));
    rest = rest.substr(0, hash);
  }
  if (auto question = rest.find('?'); question != std::string_view::npos) {
    query_ = std::string(rest.substr(question + 1));
    rest = rest.substr(0, question);
  }
  // Authority.
  if (rest.starts_with("//")) {
    hasAuthority_ = true;
    rest.remove_prefix(2);
    std::size_t end = rest.find('/');
    std::string_view authority = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end);
    if (auto at = authority.rfind('@'); at != std::string_view::npos) {
      userInfo_ = std::string(authority.substr(0, at));
      authority.remove_prefix(at + 1);
    }
    std::string_view hostPart = authority;
    std::string_view portPart;
    if (authority.starts_with("[")) {
      auto close = authority.find(']');
      if (close == std::string_view::npos) return false;
      hostPart = authority.substr(0, close + 1);
      std::string_view after = authority.substr(close + 1);
      if (!after.empty()) {
        if (after[0] != ':') return false;
        portPart = after.substr(1);
      }
    } else if (auto c = authority.find(':'); c != std::string_view::npos) {
      // A registered name holds no colon: "h::" is not host "h:" with an empty port.
      hostPart = authority.substr(0, c);
      portPart = authority.substr(c + 1);
    }
    if (!hostPart.starts_with("[") && hostPart.find_first_of("[]") != std::string_view::npos) return false;
    if (userInfo_ && userInfo_->find_first_of("[]") != std::string::npos) return false;
    host_ = std::string(hostPart);
    if (!portPart.empty()) {
      int port = 0;
      for (char c : portPart) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
        port = port * 10 + (c - '0');
        if (port > 65535) return false;
      }
      port_ = port;
    }
  }
  path_ = std::string(rest);
  return true;
}

Ref<URL> URL::make(std::string_view text) {
  auto url = std::make_shared<URL>();
  if (!url->parse(text)) return nullptr;
  return url;
}

Ref<URL> URL::make(std::string_view text, const Ref<URL>& base) {
  auto reference = make(text);
  if (!reference || !base) return reference;
  std::string target;
  std::string path;
  std::optional<std::string> query;
  bool hasAuthority = false;
  if (reference->scheme_) {
    target = *reference->scheme_ + ":";
    hasAuthority = reference->hasAuthority_;
    if (hasAuthority) target += reference->authority();
    path = removeDotSegments(reference->path_);
    query = reference->query_;
  } else if (reference->hasAuthority_) {
    target = base->scheme_ ? *base->scheme_ + ":" : "";
    hasAuthority = true;
    target += reference->authority();
    path = removeDotSegments(reference->path_);
    query = reference->query_;
  } else {
    target = base->scheme_ ? *base->scheme_ + ":" : "";
    hasAuthority = base->hasAuthority_;
    if (hasAuthority) target += base->authority();
    if (reference->path_.empty()) {
      path = base->path_;
      query = reference->query_ ? reference->query_ : base->query_;
    } else {
      if (reference->path_[0] == '/') {
        path = removeDotSegments(reference->path_);
      } else {
        std::string merged;
        if (base->hasAuthority_ && base->path_.empty()) {
          merged = "/" + reference->path_;
        } else {
          auto slash = base->path_.rfind('/');
          merged = (slash == std::string::npos ? "" : base->path_.substr(0, slash + 1)) + reference->path_;
        }
        path = removeDotSegments(merged);
      }
      query = reference->query_;
    }
  }
  if (!hasAuthority && path.starts_with("//")) {
    // Written as it is, the path would read back as an authority: "/." keeps it a path.
    path.insert(0, "/.");
  } else if (!hasAuthority && target.empty() && !path.starts_with("/") &&
             path.substr(0, path.find('/')).find(':') != std::string::npos) {
    // Without a scheme, a colon in the first segment would read back as one.
    path.insert(0, "./");
  }
  target += path;
  if (query) target += "?" + *query;
  if (reference->fragment_) target += "#" + *reference->fragment_;
  return make(target);
}

Ref<URL> URL::fileURL(std::string_view path) { return make("file://" + percentEncode(path, kURLPathKeptCharacters)); }

std::optional<std::string> URL::user() const {
  if (!userInfo_) return std::nullopt;
  auto colon = userInfo_->find(':');
  return percentDecode(userInfo_->substr(0, colon));
}

std::optional<std::string> URL::password() const {
  if (!userInfo_) return std::nullopt;
  auto colon = userInfo_->find(':');
  if (colon == std::string::npos) return std::nullopt;
  return percentDecode(userInfo_->substr(colon + 1));
}

std::string URL::authority() const {
  // Appended piece by piece: GCC 12 warns falsely about overlapping copies in `a + "@"` forms.
  std::string text = "//";
  if (userInfo_) {
    text += *userInfo_;
    text += '@';
  }
  text += host_.value_or("");
  if (port_) {
    text += ':';
    text += std::to_string(*port_);
  }
  return text;
}

std::string URL::path() const { return percentDecode(path_).value_or(path_); }

std::string URL::resourceSpecifier() const {
  if (!scheme_) return text_;
  return text_.substr(scheme_->size() + 1);
}

bool URL::isFileURL() const { return lowercaseScheme() == "file"; }

std::vector<std::string> URL::pathComponents() const {
  std::vector<std::string> parts;
  std::string p = path();
  if (p.starts_with("/")) parts.emplace_back("/");
  std::size_t i = 0;
  while (i < p.size()) {
    std::size_t next = p.find('/', i);
    if (next == std::string::npos) next = p.size();
    if (next > i) parts.push_back(p.substr(i, next - i));
    i = next + 1;
  }
  return parts;
}

std::string URL::lastPathComponent() const {
  auto parts = pathComponents();
  return parts.empty() ? "" : parts.back();
}

std::string URL::pathExtension() const {
  std::string last = lastPathComponent();
  auto dot = last.rfind('.');
  if (dot == std::string::npos || dot == 0) return "";
  return last.substr(dot + 1);
}

Ref<URL> URL::URLByAppendingPathComponent(std::string_view component) const {
  std::string base;
  if (scheme_) base = *scheme_ + ":";
  if (hasAuthority_) base += authority();
  std::string newPath = path_;
  if (newPath.empty() || newPath.back() != '/') newPath += "/";
  newPath += percentEncode(component, kURLPathSegmentKeptCharacters);
  std::string text = base + newPath;
  if (query_) text += "?" + *query_;
  if (fragment_) text += "#" + *fragment_;
  return make(text);
}

std::optional<std::string> URL::lowercaseScheme() const {
  if (!scheme_) return std::nullopt;
  return ascii::lowercase(*scheme_);
}

std::optional<std::string> URL::lowercaseHost() const {
  if (!host_) return std::nullopt;
  return ascii::lowercase(*host_);
}

namespace {
std::optional<int> effectivePort(const URL& url, const std::optional<std::string>& scheme) {
  if (url.port()) return url.port();
  if (scheme == "http") return 80;
  if (scheme == "https") return 443;
  return std::nullopt;
}
}  // namespace

bool isSameOrigin(const URL& a, const URL& b) {
  auto scheme = a.lowercaseScheme();
  return scheme == b.lowercaseScheme() && a.lowercaseHost() == b.lowercaseHost() &&
         effectivePort(a, scheme) == effectivePort(b, scheme);
}

bool URL::isEqual(const Object& other) const {
  auto* u = dynamic_cast<const URL*>(&other);
  return u != nullptr && u->text_ == text_;
}

std::size_t URL::hash() const { return hashText(text_); }

}  // namespace zv

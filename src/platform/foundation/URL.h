#pragma once
// URLs as RFC 3986 parses them. make() refuses text that is not a URL (spaces, non-ASCII,
// stray "%"), as the platform's URL constructor answered nil; callers percent-encode first.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Object.h"

namespace zv {

class URL : public Object {
 public:
  // nullptr when `text` is not a valid URL reference.
  static Ref<URL> make(std::string_view text);
  // `text` resolved against `base` (RFC 3986 section 5.2); nullptr when invalid.
  static Ref<URL> make(std::string_view text, const Ref<URL>& base);
  // A "file://" URL for an absolute path (percent-encoding what needs it).
  static Ref<URL> fileURL(std::string_view path);

  const std::string& absoluteString() const { return text_; }
  // Components as written; nullopt when absent.
  const std::optional<std::string>& scheme() const { return scheme_; }
  const std::optional<std::string>& host() const { return host_; }
  std::optional<int> port() const { return port_; }
  // User and password percent-decoded.
  std::optional<std::string> user() const;
  std::optional<std::string> password() const;
  // The path percent-decoded (empty when none).
  std::string path() const;
  const std::string& encodedPath() const { return path_; }
  const std::optional<std::string>& query() const { return query_; }
  const std::optional<std::string>& fragment() const { return fragment_; }
  // Everything after "scheme:".
  std::string resourceSpecifier() const;

  bool isFileURL() const;
  std::string lastPathComponent() const;
  std::string pathExtension() const;
  std::vector<std::string> pathComponents() const;
  Ref<URL> URLByAppendingPathComponent(std::string_view component) const;
  // The scheme and host lower-cased (nullopt when absent).
  std::optional<std::string> lowercaseScheme() const;
  std::optional<std::string> lowercaseHost() const;

  std::string description() const override { return text_; }
  bool isEqual(const Object& other) const override;
  std::size_t hash() const override;

  URL() = default;

 private:
  bool parse(std::string_view text);
  // "//user@host:port" as written.
  std::string authority() const;
  std::string text_;
  std::optional<std::string> scheme_;
  std::optional<std::string> userInfo_;
  std::optional<std::string> host_;
  std::optional<int> port_;
  std::string path_;
  std::optional<std::string> query_;
  std::optional<std::string> fragment_;
  bool hasAuthority_ = false;
};

// Whether both name the same origin: scheme and host (compared without case) and port, a missing
// port standing for 80 with http and 443 with https.
bool isSameOrigin(const URL& a, const URL& b);

// An address as a log line may show it: scheme, host, port and path; the user information, the
// query and the fragment (where passwords and tokens travel) are left out, a left-out query or
// fragment marked "?..." or "#...". An address without a host shows only its scheme. Every log
// line that names an address writes it through this.
std::string loggableURLString(const URL& url);
// "(null)" for nullptr.
std::string loggableURLString(const URL* url);

// What a path segment, and a whole path, keep unescaped besides letters and digits (RFC 3986).
inline constexpr std::string_view kURLPathSegmentKeptCharacters = "-._~!$&'()*+,;=:@";
inline constexpr std::string_view kURLPathKeptCharacters = "-._~!$&'()*+,;=:@/";

// Percent-encodes every byte of `text` except ASCII letters, digits and the bytes in `keep`.
std::string percentEncode(std::string_view text, std::string_view keep = "-._~");
// Decodes "%XX" escapes; nullopt when an escape is malformed or the result is not UTF-8.
std::optional<std::string> percentDecode(std::string_view text);

}  // namespace zv

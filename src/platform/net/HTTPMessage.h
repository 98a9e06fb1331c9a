#pragma once
// An HTTP message, request or response side. A request carries a method, a URL, a version and
// headers, with its body either in memory or as a pull stream handed to the read stream; a response
// message is built by the read stream as the head arrives and is complete once the whole head has
// been parsed. Header names keep their first spelling and order; lookups ignore case.
//
// Not thread-safe: a message is filled by one thread and read afterwards; the read stream hands out
// a response message only once it is complete (or a copy of the partial one).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/foundation/Data.h"
#include "platform/foundation/Dictionary.h"
#include "platform/foundation/Object.h"
#include "platform/foundation/URL.h"

namespace zv::net {

inline constexpr const char* kHTTPVersion1_0 = "HTTP/1.0";
inline constexpr const char* kHTTPVersion1_1 = "HTTP/1.1";

// Ordered header fields with case-insensitive names. Setting a name replaces every field of that
// name in place (the first keeps its position); adding appends (response heads may repeat a name,
// e.g. "Set-Cookie").
class HeaderFields {
 public:
  using Field = std::pair<std::string, std::string>;

  void set(std::string_view name, std::string_view value);
  void add(std::string_view name, std::string_view value);
  void remove(std::string_view name);
  void clear() { fields_.clear(); }
  // The first value of `name`, nullopt when absent.
  std::optional<std::string> get(std::string_view name) const;
  // Every value of `name` in order.
  std::vector<std::string> getAll(std::string_view name) const;
  bool contains(std::string_view name) const { return get(name).has_value(); }
  const std::vector<Field>& fields() const { return fields_; }
  std::size_t size() const { return fields_.size(); }
  bool empty() const { return fields_.empty(); }

  // One dictionary entry per name (the name as first spelled); repeated fields are joined with
  // ", " as the platform's header dictionaries did.
  Ref<Dictionary> dictionary() const;

 private:
  std::vector<Field> fields_;
};

bool equalsIgnoringCase(std::string_view a, std::string_view b);

class HTTPMessage : public Object {
 public:
  // A request message; `version` is kHTTPVersion1_0 or kHTTPVersion1_1 (anything else is taken
  // as 1.1). Returns nullptr when the method is empty or contains white space, or the URL is null.
  static Ref<HTTPMessage> makeRequest(std::string_view method, Ref<URL> url,
                                      std::string_view version = kHTTPVersion1_1);
  // An empty response message that the read stream fills (also useful to tests and caches).
  static Ref<HTTPMessage> makeResponse(int statusCode, std::string_view statusLine = {},
                                       std::string_view version = kHTTPVersion1_1);

  bool isRequest() const { return isRequest_; }

  // Request side.
  const std::string& method() const { return method_; }
  void setMethod(std::string_view method) { method_ = method; }
  const Ref<URL>& url() const { return url_; }
  void setURL(Ref<URL> url) { url_ = std::move(url); }

  // Both sides: "HTTP/1.0" or "HTTP/1.1".
  const std::string& version() const { return version_; }
  void setVersion(std::string_view version) { version_ = version; }

  // Headers. Setting a value to nullopt removes the field.
  const HeaderFields& headers() const { return headers_; }
  HeaderFields& mutableHeaders() { return headers_; }
  std::optional<std::string> headerField(std::string_view name) const { return headers_.get(name); }
  void setHeaderField(std::string_view name, std::optional<std::string_view> value);
  // Every field as a dictionary (see HeaderFields::dictionary).
  Ref<Dictionary> allHeaderFields() const { return headers_.dictionary(); }

  // An in-memory body (request side; the read stream keeps the response body to itself).
  const Ref<Data>& body() const { return body_; }
  void setBody(Ref<Data> body) { body_ = std::move(body); }

  // Response side.
  int statusCode() const { return statusCode_; }
  void setStatusCode(int code) { statusCode_ = code; }
  // The whole status line as received, e.g. "HTTP/1.1 200 OK".
  const std::string& statusLine() const { return statusLine_; }
  void setStatusLine(std::string_view line) { statusLine_ = line; }
  // The reason phrase, e.g. "OK".
  std::string reasonPhrase() const;
  // YES once the whole response head has been parsed.
  bool isHeaderComplete() const { return headerComplete_; }
  void setHeaderComplete(bool complete) { headerComplete_ = complete; }

  // A deep copy (headers, body reference, status); `copy()` returns the same kind.
  Ref<HTTPMessage> clone() const;
  ObjectPtr copy() const override { return clone(); }
  std::string description() const override;

  // The request head as sent on the wire: request line (origin form, or absolute form when
  // `absoluteForm`, as HTTP proxies want it), the fields, and the blank line. A "Host" field is
  // added when the message has none.
  std::string serializeRequestHead(bool absoluteForm) const;

  HTTPMessage() = default;

 private:
  bool isRequest_ = true;
  std::string method_;
  Ref<URL> url_;
  std::string version_ = kHTTPVersion1_1;
  HeaderFields headers_;
  Ref<Data> body_;
  int statusCode_ = 0;
  std::string statusLine_;
  bool headerComplete_ = false;
};

}  // namespace zv::net

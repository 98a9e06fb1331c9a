#pragma once
// The head of a URL load's answer. HTTPURLResponse adds the status code and header fields.
// Immutable; any thread.

#include <cstdint>
#include <optional>
#include <string>

#include "platform/foundation/Dictionary.h"
#include "platform/foundation/Object.h"
#include "platform/foundation/URL.h"
#include "platform/net/HTTPMessage.h"

namespace zv::net {

class URLResponse : public Object {
 public:
  static Ref<URLResponse> make(Ref<zv::URL> url, std::optional<std::string> MIMEType, std::int64_t expectedContentLength,
                               std::optional<std::string> textEncodingName);

  const Ref<zv::URL>& url() const { return url_; }
  const std::optional<std::string>& MIMEType() const { return mimeType_; }
  // -1 when unknown.
  std::int64_t expectedContentLength() const { return expectedContentLength_; }
  const std::optional<std::string>& textEncodingName() const { return textEncodingName_; }
  // The file name from "Content-Disposition", else the URL's last path component, else "index".
  virtual std::string suggestedFilename() const;

  URLResponse(Ref<zv::URL> url, std::optional<std::string> mimeType, std::int64_t expectedContentLength,
              std::optional<std::string> textEncodingName);

 private:
  Ref<zv::URL> url_;
  std::optional<std::string> mimeType_;
  std::int64_t expectedContentLength_;
  std::optional<std::string> textEncodingName_;
};

class HTTPURLResponse : public URLResponse {
 public:
  // From a complete response head; MIME type and encoding come from "Content-Type", the length
  // from "Content-Length" (-1 when absent or when the body is content-encoded and got inflated).
  static Ref<HTTPURLResponse> make(Ref<zv::URL> url, const HTTPMessage& responseHead);

  int statusCode() const { return statusCode_; }
  const HeaderFields& headerFields() const { return headers_; }
  Ref<Dictionary> allHeaderFields() const { return headers_.dictionary(); }
  std::string suggestedFilename() const override;
  // "no error", "not found", ... as the platform worded the status codes (lower case).
  static std::string localizedStringForStatusCode(int statusCode);

  HTTPURLResponse(Ref<zv::URL> url, int statusCode, HeaderFields headers, std::optional<std::string> mimeType,
                  std::int64_t expectedContentLength, std::optional<std::string> textEncodingName);

 private:
  int statusCode_;
  HeaderFields headers_;
};

}  // namespace zv::net

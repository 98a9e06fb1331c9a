#pragma once
// An HTTP request that carries an HTML-form body: named text fields and named file or data
// fields, sent URL-encoded ("application/x-www-form-urlencoded") or as multipart form data.
// Fields are collected on one thread before the request starts; the body is built when it starts.
// File fields always make the body multipart and stream it from a temporary file.

#include <optional>
#include <string>

#include "http/HTTPRequest.h"

namespace zv {

inline constexpr int kHTTPFormPostFormatMultipart = 0;
inline constexpr int kHTTPFormPostFormatURLEncoded = 1;

// Text for a quoted multipart header parameter (a field name, file name or type): quotes and line
// breaks, which would end the quoted text or the header line early, become %22, %0D and %0A.
std::string escapeQuotedMultipartParameter(const std::string& text);

class HTTPFormDataRequest : public HTTPRequest {
 public:
  static Ref<HTTPFormDataRequest> requestWithURL(Ref<URL> url);
  explicit HTTPFormDataRequest(Ref<URL> url);

  // Text fields: any value; its description is sent (a number as its decimal text).
  void addPostValue(const ObjectPtr& value, const std::string& key);
  // Removes every field named `key`, then adds this one at the end.
  void setPostValue(const ObjectPtr& value, const std::string& key);

  // File fields. A path that is missing or a directory makes the request fail with code 6 when it
  // starts (through the normal failure path, so callbacks set later still run).
  void addFile(const std::string& path, const std::string& key);
  void addFile(const ObjectPtr& data, const std::optional<std::string>& fileName,
               const std::optional<std::string>& contentType, const std::string& key);
  void addData(const Ref<Data>& data, const std::string& key);
  void addData(const Ref<Data>& data, const std::optional<std::string>& fileName,
               const std::optional<std::string>& contentType, const std::string& key);
  void setFile(const std::string& path, const std::string& key);
  void setFile(const ObjectPtr& data, const std::optional<std::string>& fileName,
               const std::optional<std::string>& contentType, const std::string& key);
  void setData(const Ref<Data>& data, const std::string& key);
  void setData(const Ref<Data>& data, const std::optional<std::string>& fileName,
               const std::optional<std::string>& contentType, const std::string& key);

  void buildPostBody() override;
  void buildURLEncodedPostBody();
  void buildMultipartFormDataPostBody();
  // The text in stringEncoding (a character it cannot hold as "?"), appended to the body.
  void appendPostString(const std::string& text);
  // The text in stringEncoding, every byte but ASCII letters, digits, "-", "." and "_" as "%XX".
  std::string encodeURL(const std::string& text) const;

  Ref<HTTPRequest> copyRequest() const override;
  bool canRebuildPostBody() const override;

  ZV_HTTP_PROPERTY(Ref<MutableArray>, postData, setPostData, nullptr)
  ZV_HTTP_PROPERTY(Ref<MutableArray>, fileData, setFileData, nullptr)
  ZV_HTTP_PROPERTY(int, postFormat, setPostFormat, kHTTPFormPostFormatURLEncoded)
  ZV_HTTP_PROPERTY(unsigned, stringEncoding, setStringEncoding, kUTF8StringEncoding)

 public:
  // The boundary the multipart body uses: the fixed one unless a part's content holds it.
  std::string multipartBoundary() const;

 private:
  Ref<Error> pendingFileError_;
};

}  // namespace zv

#include "http/HTTPFormDataRequest.h"

#include "http/StringEncodings.h"

#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "platform/crypto/Digest.h"
#include "platform/foundation/Format.h"
#include "platform/storage/AtomicFile.h"

namespace zv {

namespace {

constexpr const char* kFixedBoundary = "0xKhTmLbOuNdArY";

// Removes every entry whose "key" is `key`.
void removeEntriesForKey(const Ref<MutableArray>& entries, const std::string& key) {
  if (!entries) return;
  for (std::size_t i = 0; i < entries->count();) {
    auto entry = entries->objectAtIndexAs<Dictionary>(i);
    if (entry && entry->stringForKey("key") == key) {
      entries->removeObjectAtIndex(i);
    } else {
      ++i;
    }
  }
}

// Only a regular file is sent as a part: a pipe or a device has no end the body could wait for.
bool isReadableFile(const std::string& path) {
  std::error_code ignored;
  return std::filesystem::is_regular_file(path, ignored) && ::access(path.c_str(), R_OK) == 0;
}

bool fileContains(const std::string& path, const std::string& needle) {
  int fd = storage::openFileForReading(path);
  if (fd < 0) return false;
  std::string window;
  std::vector<char> chunk(262144);
  bool found = false;
  while (!found) {
    ssize_t n = ::read(fd, chunk.data(), chunk.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    window.append(chunk.data(), static_cast<std::size_t>(n));
    found = window.find(needle) != std::string::npos;
    if (window.size() > needle.size()) window.erase(0, window.size() - needle.size());
  }
  ::close(fd);
  return found;
}

// An encoding without a known name is written as UTF-8, so the header always names what is sent.
std::string charsetName(unsigned encoding) { return charsetNameForStringEncoding(encoding).value_or("utf-8"); }

std::string encodedText(const std::string& text, unsigned encoding) {
  return encodeString(text, encoding).value_or(text);
}

}  // namespace

std::string escapeQuotedMultipartParameter(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '"') {
      out += "%22";
    } else if (c == '\r') {
      out += "%0D";
    } else if (c == '\n') {
      out += "%0A";
    } else {
      out.push_back(c);
    }
  }
  return out;
}

Ref<HTTPFormDataRequest> HTTPFormDataRequest::requestWithURL(Ref<URL> url) {
  return std::make_shared<HTTPFormDataRequest>(std::move(url));
}

HTTPFormDataRequest::HTTPFormDataRequest(Ref<URL> url) : HTTPRequest(std::move(url)) {}

void HTTPFormDataRequest::addPostValue(const ObjectPtr& value, const std::string& key) {
  if (!value) return;
  std::lock_guard<std::recursive_mutex> guard(propertyLock_);
  if (!postData_) postData_ = MutableArray::make();
  postData_->addObject(Dictionary::make({{"value", box(describe(value))}, {"key", box(key)}}));
}

void HTTPFormDataRequest::setPostValue(const ObjectPtr& value, const std::string& key) {
  removeEntriesForKey(postData(), key);
  addPostValue(value, key);
}

void HTTPFormDataRequest::addFile(const std::string& path, const std::string& key) {
  addFile(box(path), std::nullopt, std::nullopt, key);
}

void HTTPFormDataRequest::addFile(const ObjectPtr& data, const std::optional<std::string>& fileName,
                                  const std::optional<std::string>& contentType, const std::string& key) {
  if (!data) return;
  std::optional<std::string> name = fileName;
  std::optional<std::string> type = contentType;
  if (auto path = dyn<String>(data)) {
    if (!isReadableFile(path->utf8())) {
      if (!pendingFileError_) {
        pendingFileError_ = makeRequestError(RequestErrorBuildingRequest, format("No file exists at %s", path->utf8().c_str()));
      }
    }
    if (!name) name = std::filesystem::path(path->utf8()).filename().string();
    if (!type) type = mimeTypeForFileAtPath(path->utf8());
  }
  std::lock_guard<std::recursive_mutex> guard(propertyLock_);
  if (!fileData_) fileData_ = MutableArray::make();
  auto entry = MutableDictionary::make();
  entry->setObject(data, "data");
  entry->setObject(box(type.value_or("application/octet-stream")), "contentType");
  entry->setObject(box(name.value_or("file")), "fileName");
  entry->setObject(box(key), "key");
  fileData_->addObject(entry);
}

void HTTPFormDataRequest::addData(const Ref<Data>& data, const std::string& key) {
  addData(data, std::string("file"), std::nullopt, key);
}

void HTTPFormDataRequest::addData(const Ref<Data>& data, const std::optional<std::string>& fileName,
                                  const std::optional<std::string>& contentType, const std::string& key) {
  if (!data) return;
  std::lock_guard<std::recursive_mutex> guard(propertyLock_);
  if (!fileData_) fileData_ = MutableArray::make();
  auto entry = MutableDictionary::make();
  entry->setObject(data, "data");
  entry->setObject(box(contentType.value_or("application/octet-stream")), "contentType");
  entry->setObject(box(fileName.value_or("file")), "fileName");
  entry->setObject(box(key), "key");
  fileData_->addObject(entry);
}

void HTTPFormDataRequest::setFile(const std::string& path, const std::string& key) {
  removeEntriesForKey(fileData(), key);
  addFile(path, key);
}
void HTTPFormDataRequest::setFile(const ObjectPtr& data, const std::optional<std::string>& fileName,
                                  const std::optional<std::string>& contentType, const std::string& key) {
  removeEntriesForKey(fileData(), key);
  addFile(data, fileName, contentType, key);
}
void HTTPFormDataRequest::setData(const Ref<Data>& data, const std::string& key) {
  removeEntriesForKey(fileData(), key);
  addData(data, std::string("file"), std::nullopt, key);
}
void HTTPFormDataRequest::setData(const Ref<Data>& data, const std::optional<std::string>& fileName,
                                  const std::optional<std::string>& contentType, const std::string& key) {
  removeEntriesForKey(fileData(), key);
  addData(data, fileName, contentType, key);
}

void HTTPFormDataRequest::buildPostBody() {
  if (haveBuiltPostBody()) return;
  if (pendingFileError_) {
    failWithError(pendingFileError_);
    return;
  }
  auto texts = postData();
  auto files = fileData();
  if (!texts && !files) {
    HTTPRequest::buildPostBody();
    return;
  }
  if (files && files->count() > 0) setShouldStreamPostDataFromDisk(true);
  if (postFormat() == kHTTPFormPostFormatURLEncoded) {
    buildURLEncodedPostBody();
  } else {
    buildMultipartFormDataPostBody();
  }
  HTTPRequest::buildPostBody();
}

void HTTPFormDataRequest::buildURLEncodedPostBody() {
  auto files = fileData();
  if (files && files->count() > 0) {
    setPostFormat(kHTTPFormPostFormatMultipart);
    buildMultipartFormDataPostBody();
    return;
  }
  addRequestHeader("Content-Type",
                   format("application/x-www-form-urlencoded; charset=%s", charsetName(stringEncoding()).c_str()));
  auto texts = postData();
  std::size_t count = texts ? texts->count() : 0;
  for (std::size_t i = 0; i < count; ++i) {
    auto entry = texts->objectAtIndexAs<Dictionary>(i);
    appendPostString(format("%s=%s%s", encodeURL(entry->stringForKey("key").value_or("")).c_str(),
                            encodeURL(entry->stringForKey("value").value_or("")).c_str(), i + 1 < count ? "&" : ""));
  }
}

std::string HTTPFormDataRequest::multipartBoundary() const {
  auto texts = postData();
  auto files = fileData();
  auto containedAnywhere = [&](const std::string& boundary) {
    if (texts) {
      for (const auto& object : *texts) {
        auto entry = dyn<Dictionary>(object);
        if (entry->stringForKey("value").value_or("").find(boundary) != std::string::npos) return true;
      }
    }
    if (files) {
      for (const auto& object : *files) {
        auto data = dyn<Dictionary>(object)->objectForKey("data");
        if (auto path = dyn<String>(data)) {
          if (fileContains(path->utf8(), boundary)) return true;
        } else if (auto bytes = dyn<Data>(data)) {
          if (bytes->view().find(boundary) != std::string_view::npos) return true;
        }
      }
    }
    return false;
  };
  std::string boundary = kFixedBoundary;
  // A part holding the boundary would end early; pick one that no part contains.
  while (containedAnywhere(boundary)) {
    boundary = std::string(kFixedBoundary) + "-" + crypto::hex(crypto::randomBytes(12));
  }
  return boundary;
}

void HTTPFormDataRequest::buildMultipartFormDataPostBody() {
  std::string boundary = multipartBoundary();
  addRequestHeader("Content-Type", format("multipart/form-data; charset=%s; boundary=%s",
                                          charsetName(stringEncoding()).c_str(), boundary.c_str()));
  appendPostString(format("--%s\r\n", boundary.c_str()));
  std::string separator = format("\r\n--%s\r\n", boundary.c_str());
  auto texts = postData();
  auto files = fileData();
  std::size_t textCount = texts ? texts->count() : 0;
  std::size_t fileCount = files ? files->count() : 0;
  for (std::size_t i = 0; i < textCount; ++i) {
    auto entry = texts->objectAtIndexAs<Dictionary>(i);
    appendPostString(format("Content-Disposition: form-data; name=\"%s\"\r\n\r\n",
                            escapeQuotedMultipartParameter(entry->stringForKey("key").value_or("")).c_str()));
    appendPostString(entry->stringForKey("value").value_or(""));
    if (i + 1 < textCount || fileCount > 0) appendPostString(separator);
  }
  for (std::size_t j = 0; j < fileCount; ++j) {
    auto entry = files->objectAtIndexAs<Dictionary>(j);
    appendPostString(format("Content-Disposition: form-data; name=\"%s\"; filename=\"%s\"\r\n",
                            escapeQuotedMultipartParameter(entry->stringForKey("key").value_or("")).c_str(),
                            escapeQuotedMultipartParameter(entry->stringForKey("fileName").value_or("")).c_str()));
    appendPostString(format("Content-Type: %s\r\n\r\n",
                            escapeQuotedMultipartParameter(entry->stringForKey("contentType").value_or("")).c_str()));
    auto data = entry->objectForKey("data");
    if (auto path = dyn<String>(data)) {
      // A file that went away since it was added must not be sent as an empty part.
      if (!isReadableFile(path->utf8())) {
        failWithError(makeRequestError(RequestErrorBuildingRequest, format("No file exists at %s", path->utf8().c_str())));
        return;
      }
      appendPostDataFromFile(path->utf8());
    } else {
      appendPostData(dyn<Data>(data));
    }
    if (j + 1 < fileCount) appendPostString(separator);
  }
  appendPostString(format("\r\n--%s--\r\n", boundary.c_str()));
}

void HTTPFormDataRequest::appendPostString(const std::string& text) {
  appendPostData(Data::make(encodedText(text, stringEncoding())));
}

std::string HTTPFormDataRequest::encodeURL(const std::string& text) const {
  return percentEncode(encodedText(text, stringEncoding()), "-._");
}

Ref<HTTPRequest> HTTPFormDataRequest::copyRequest() const {
  auto copy = std::make_shared<HTTPFormDataRequest>(url());
  copySettingsTo(*copy);
  if (auto texts = postData()) copy->setPostData(dyn<MutableArray>(texts->mutableCopy()));
  if (auto files = fileData()) copy->setFileData(dyn<MutableArray>(files->mutableCopy()));
  copy->setPostFormat(postFormat());
  copy->setStringEncoding(stringEncoding());
  copy->setRequestMethod(requestMethod());
  copy->pendingFileError_ = pendingFileError_;
  // A body streamed from a temporary file is built afresh from the fields: the file goes when
  // this request ends, the fields stay.
  if (canRebuildPostBody() && shouldStreamPostDataFromDisk()) copy->discardBuiltPostBody();
  return copy;
}

bool HTTPFormDataRequest::canRebuildPostBody() const {
  auto texts = postData();
  auto files = fileData();
  return (texts && texts->count() > 0) || (files && files->count() > 0);
}

}  // namespace zv

// Sending a request: the body (in memory or streamed from a temporary file), the headers and
// cookies, and opening the read stream of one attempt with its proxy and persistent connection.

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <filesystem>

#include "http/ChunkedFileCopy.h"
#include "http/HTTPDataCompressor.h"
#include "http/HTTPInputStream.h"
#include "http/HTTPRequest.h"
#include "http/HTTPRequestShared.h"
#include "platform/crypto/Digest.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Format.h"
#include "platform/net/CookieStore.h"
#include "platform/net/InputStream.h"
#include "platform/net/ProxyAutoConfig.h"
#include "platform/net/ProxySettings.h"
#include "platform/storage/AtomicFile.h"
#include "platform/system/ApplicationEnvironment.h"

namespace zv {

using httpdetail::requestClassState;

namespace {


// Owns a temporary file: it is removed when the last owner lets go.
std::shared_ptr<const std::string> temporaryFileOwner(const std::string& path) {
  return std::shared_ptr<const std::string>(new std::string(path), [](const std::string* owned) {
    std::error_code ignored;
    std::filesystem::remove(*owned, ignored);
    delete owned;
  });
}

Ref<Error> fileAttributesError(const std::string& path, int errnoValue) {
  return makeRequestError(RequestErrorFileManagement, format("Failed to get attributes for file at path '%s'", path.c_str()),
                          Error::posix(errnoValue));
}

std::optional<std::uint64_t> fileSize(const std::string& path, int* errnoValue) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    *errnoValue = errno;
    return std::nullopt;
  }
  return static_cast<std::uint64_t>(info.st_size);
}

bool fileExists(const std::optional<std::string>& path) {
  std::error_code ignored;
  return path && std::filesystem::is_regular_file(*path, ignored);
}

}  // namespace

// --- Body. ---

void HTTPRequest::setupPostBody() {
  if (shouldStreamPostDataFromDisk()) {
    if (!postBodyFilePath()) {
      setPostBodyFilePath(httpdetail::newTemporaryFilePath());
      std::lock_guard<std::recursive_mutex> guard(propertyLock_);
      bodyFileOwner_ = temporaryFileOwner(*postBodyFilePath());
      setDidCreateTemporaryPostDataFile(true);
      postBodyBuildError_ = nullptr;
    }
    if (!postBodyWriteStream_ && !postBodyBuildError_) {
      postBodyWriteStream_ = httpdetail::openPrivateFile(*postBodyFilePath(), false);
      if (!postBodyWriteStream_) noteBodyBuildFailure("write the request body to", *postBodyFilePath(), errno);
    }
  } else if (!postBody()) {
    setPostBody(MutableData::make());
  }
}

void HTTPRequest::noteBodyBuildFailure(const char* action, const std::string& path, int errnoValue) {
  // The first failure is the one to report; what follows it is its consequence.
  if (postBodyBuildError_) return;
  postBodyBuildError_ = makeRequestError(RequestErrorFileManagement, format("Failed to %s '%s'", action, path.c_str()),
                                         Error::posix(errnoValue != 0 ? errnoValue : EIO));
}

bool HTTPRequest::writePostBodyBytes(const void* bytes, std::size_t length) {
  if (!postBodyWriteStream_) return false;
  if (std::fwrite(bytes, 1, length, postBodyWriteStream_) == length) return true;
  noteBodyBuildFailure("write the request body to", postBodyFilePath().value_or(""), errno);
  return false;
}

void HTTPRequest::appendPostData(const Ref<Data>& data) {
  setupPostBody();
  if (!data || data->length() == 0) return;
  if (shouldStreamPostDataFromDisk()) {
    writePostBodyBytes(data->data(), data->length());
  } else {
    postBody()->append(data->data(), data->length());
  }
}

void HTTPRequest::appendPostDataFromFile(const std::string& path) {
  setupPostBody();
  Ref<Error> openError;
  int fd = storage::openFileForReading(path, &openError);
  std::FILE* input = fd < 0 ? nullptr : ::fdopen(fd, "rb");
  if (!input) {
    int code = fd < 0 ? (openError ? static_cast<int>(openError->code()) : EIO) : errno;
    if (fd >= 0) ::close(fd);
    noteBodyBuildFailure("read the file at", path, code);
    return;
  }
  std::vector<std::uint8_t> chunk(262144);
  while (true) {
    std::size_t n = std::fread(chunk.data(), 1, chunk.size(), input);
    if (n == 0) break;
    if (shouldStreamPostDataFromDisk()) {
      if (!writePostBodyBytes(chunk.data(), n)) break;
    } else {
      postBody()->append(chunk.data(), n);
    }
  }
  if (std::ferror(input)) noteBodyBuildFailure("read the file at", path, errno);
  std::fclose(input);
}

void HTTPRequest::buildPostBody() {
  if (haveBuiltPostBody()) return;
  if (postBodyWriteStream_) {
    // Buffered bytes reach the file here: a full disk may show only now.
    if (std::fclose(postBodyWriteStream_) != 0) {
      noteBodyBuildFailure("write the request body to", postBodyFilePath().value_or(""), errno);
    }
    postBodyWriteStream_ = nullptr;
  }
  if (postBodyBuildError_) {
    // A body that could not be built whole is never sent, nor announced with a length it lacks.
    failWithError(postBodyBuildError_);
    return;
  }
  if (auto bodyPath = postBodyFilePath()) {
    std::string measured = *bodyPath;
    if (shouldCompressRequestBody()) {
      if (!compressedPostBodyFilePath()) {
        setCompressedPostBodyFilePath(httpdetail::newTemporaryFilePath());
        std::lock_guard<std::recursive_mutex> guard(propertyLock_);
        compressedBodyFileOwner_ = temporaryFileOwner(*compressedPostBodyFilePath());
        Ref<Error> failure;
        if (!HTTPDataCompressor::compressDataFromFile(*bodyPath, *compressedPostBodyFilePath(), &failure)) {
          failWithError(failure);
          return;
        }
      }
      measured = *compressedPostBodyFilePath();
    }
    int errnoValue = 0;
    auto size = fileSize(measured, &errnoValue);
    if (!size) {
      failWithError(fileAttributesError(measured, errnoValue));
      return;
    }
    setPostLength(*size);
  } else if (shouldCompressRequestBody() && postBody() && postBody()->length() > 0) {
    Ref<Error> failure;
    auto compressed = HTTPDataCompressor::compressData(postBody(), &failure);
    if (failure) {
      failWithError(failure);
      return;
    }
    setCompressedPostBody(compressed);
    setPostLength(compressed ? compressed->length() : 0);
  } else {
    setPostLength(postBody() ? postBody()->length() : 0);
  }
  if (postLength() != 0) {
    std::string method = requestMethod();
    if (method == "GET" || method == "DELETE" || method == "HEAD") setRequestMethod("POST");
    addRequestHeader("Content-Length", format("%llu", static_cast<unsigned long long>(postLength())));
  }
  setHaveBuiltPostBody(true);
}

// --- Headers. ---

void HTTPRequest::addRequestHeader(const std::string& name, const std::string& value) {
  std::lock_guard<std::recursive_mutex> guard(propertyLock_);
  if (!requestHeaders_) requestHeaders_ = MutableDictionary::make();
  requestHeaders_->setObject(box(value), name);
}

void HTTPRequest::buildRequestHeaders() {
  if (haveBuiltRequestHeaders()) return;
  setHaveBuiltRequestHeaders(true);
  // A HEAD copy starts from what its request asks, and from there is built like any request: its
  // cookies are those for its own address, and a redirect rebuilds them (and judges credentials)
  // for the copy's new address, never its request's.
  if (auto main = mainRequest().lock(); main && redirectCount() == 0) takeCallerFieldsOf(*main);
  applyCookieHeader();
  auto headers = requestHeaders();
  if (!headers || !headers->objectForKey("User-Agent")) {
    if (auto agent = defaultUserAgentString()) addRequestHeader("User-Agent", *agent);
  }
  if (allowCompressedResponse()) addRequestHeader("Accept-Encoding", "gzip");
  if (shouldCompressRequestBody()) addRequestHeader("Content-Encoding", "gzip");
  updatePartialDownloadSize();
  if (partialDownloadSize() != 0) {
    addRequestHeader("Range", format("bytes=%llu-", static_cast<unsigned long long>(partialDownloadSize())));
  }
}

void HTTPRequest::applyCookieHeader() {
  // The caller's own cookies stay as given; the store's cookies for the current address are added
  // at sending time only, so a copy or a redirect never carries them twice or to the wrong host.
  std::vector<Ref<net::HTTPCookie>> cookies = requestCookies();
  auto target = url();
  if (useCookiePersistence() && target) {
    for (const auto& stored : net::CookieStore::sharedInstance()->cookiesForURL(*target)) {
      bool present = std::any_of(cookies.begin(), cookies.end(),
                                 [&](const Ref<net::HTTPCookie>& c) { return c->isEqual(*stored); });
      if (!present) cookies.push_back(stored);
    }
  }
  std::lock_guard<std::recursive_mutex> guard(propertyLock_);
  if (cookies.empty()) {
    // Only a header made here from cookies goes; one the caller set stays as given.
    if (requestHeaders_ && madeCookieHeader_ && requestHeaders_->stringForKey("Cookie") == madeCookieHeader_) {
      requestHeaders_->removeObjectForKey("Cookie");
    }
    madeCookieHeader_.reset();
    return;
  }
  std::string value = format("%s=%s", cookies[0]->name().c_str(), cookies[0]->value().c_str());
  for (std::size_t i = 1; i < cookies.size(); ++i) {
    value = format("%s; %s=%s", value.c_str(), cookies[i]->name().c_str(), cookies[i]->value().c_str());
  }
  addRequestHeader("Cookie", value);
  madeCookieHeader_ = value;
}

void HTTPRequest::updatePartialDownloadSize() {
  auto temporary = temporaryFileDownloadPath();
  if (!allowResumeForFileDownloads() || !downloadDestinationPath() || !temporary || !fileExists(temporary)) return;
  int errnoValue = 0;
  auto size = fileSize(*temporary, &errnoValue);
  if (!size) {
    failWithError(fileAttributesError(*temporary, errnoValue));
    return;
  }
  setPartialDownloadSize(*size);
}

// --- Opening the stream of one attempt. ---

void HTTPRequest::startRequest() {
  if (isCancelled()) return;
  ++attemptGeneration_;
  requestStartedEvent();
  setDownloadComplete(false);
  setComplete(false);
  setTotalBytesRead(0);
  setLastBytesRead(0);
  if (redirectCount() == 0) setOriginalURL(url());
  if (lastBytesSent() != 0) removeUploadProgressSoFar();
  setLastBytesSent(0);
  setContentLength(0);
  setResponseHeaders(nullptr);
  headersReceived_ = false;
  passedOnBodyBytes_ = false;
  // Cookies an abandoned attempt was sent are not kept.
  pendingResponseCookies_.clear();
  pendingResponseCookiesURL_ = nullptr;
  {
    std::lock_guard<std::recursive_mutex> guard(propertyLock_);
    inflatedResponse_ = nullptr;
  }
  setDataDecompressor(nullptr);
  // A new attempt starts its download file afresh (unless it resumes with a range).
  closeDownloadFiles();
  if (!downloadDestinationPath()) setRawResponseData(MutableData::make());
  setReadStreamIsScheduled(false);

  Ref<net::InputStream> body;
  if (shouldStreamPostDataFromDisk() && fileExists(postBodyFilePath())) {
    auto compressedPath = compressedPostBodyFilePath();
    body = HTTPInputStream::inputStreamWithFileAtPath(fileExists(compressedPath) ? *compressedPath : *postBodyFilePath(),
                                                      selfAs<HTTPRequest>());
  } else if (postBody() && postBody()->length() > 0) {
    auto compressed = compressedPostBody();
    body = HTTPInputStream::inputStreamWithData(
        shouldCompressRequestBody() && compressed ? compressed : Ref<Data>(postBody()), selfAs<HTTPRequest>());
  }
  if (!body && postLength() > 0) {
    // The body this request announces is gone (a copy of a request whose own body file was
    // removed): fail now rather than announce bytes that will never come.
    failWithError(makeRequestError(RequestErrorBuildingRequest, "The request body is no longer available"));
    return;
  }
  postBodyReadStream_ = body;
  readStream_ = body ? net::HTTPReadStream::makeStreamed(request_, body) : net::HTTPReadStream::make(request_);
  if (!readStream_) {
    failWithError(makeRequestError(RequestErrorBuildingRequest, "Unable to create read stream"));
    return;
  }

  auto target = url();
  if (target->lowercaseScheme() == "https") {
    net::TLSSettings settings;
    settings.validatesCertificateChain = validatesSecureCertificate();
    if (auto identity = clientCertificateIdentity()) {
      settings.identity = identity;
      settings.chain = clientCertificates();
    }
    readStream_->setTLSSettings(settings);
  }

  if (!proxyHost() && proxyPort() == 0) {
    Ref<URL> script = PACurl();
    if (!script) {
      auto list = net::ProxySettings::proxiesForURL(*target);
      if (list.empty() || list[0].type != net::kProxyTypeAutoConfigurationURL) {
        continueStartRequest(list);
        return;
      }
      script = list[0].autoConfigurationURL;
    }
    // The script is fetched without blocking the loop; the attempt goes on when it arrives.
    auto self = selfAs<HTTPRequest>();
    auto generation = attemptGeneration_;
    auto arrived = std::make_shared<bool>(false);
    net::ProxyAutoConfig::fetchScript(
        script,
        [self, generation, arrived, target](std::optional<std::string> text) {
          *arrived = true;
          std::lock_guard<std::recursive_mutex> lock(self->cancelledLock_);
          if (generation != self->attemptGeneration_ || self->complete() || self->isCancelled()) return;
          if (!text) return self->continueStartRequest(std::vector<net::ProxyServer>{});
          self->continueStartRequest(HTTPRequest::proxiesForURL(target, *text));
        },
        timeOutSeconds());
    // A synchronous request serves only its private mode, where the script's delivery does not
    // come; it waits for it here instead.
    if (runLoopMode() != kDefaultRunLoopMode) {
      auto loop = RunLoop::current();
      double limit = std::max(1.0, timeOutSeconds());
      auto clock = Clock::current();
      double started = clock->monotonic();
      while (!*arrived && clock->monotonic() - started < limit) loop->runMode(kDefaultRunLoopMode, 0.05, true);
    }
    return;
  }
  continueStartRequest(std::vector<net::ProxyServer>{});
}

void HTTPRequest::continueStartRequest(std::optional<std::vector<net::ProxyServer>> proxies) {
  if (!configureProxy(proxies)) return;
  configurePersistentConnection();
  // A paused process opens new streams unscheduled; the status timer resumes them.
  if (!readStreamIsScheduled() && !isThrottlePausing()) scheduleReadStream();
  WeakRef<HTTPRequest> weak = selfAs<HTTPRequest>();
  auto stream = readStream_;
  bool registered = stream->setClient(26, [weak](net::HTTPReadStream& source, net::StreamEvent event) {
    auto self = weak.lock();
    if (!self || self->readStream_.get() != &source) return;
    self->handleNetworkEvent(event);
  });
  bool opened = registered && stream->open();
  if (oldStreamToClose_) {
    oldStreamToClose_->close();
    oldStreamToClose_ = nullptr;
  }
  if (!opened) {
    setConnectionCanBeReused(false);
    destroyReadStream();
    failWithError(makeRequestError(RequestErrorBuildingRequest, "Unable to start HTTP connection"));
    return;
  }
  if (!mainRequest().lock()) {
    if (shouldResetUploadProgress()) {
      incrementUploadSizeBy(showAccurateProgress() ? static_cast<std::int64_t>(postLength()) : 1);
      updateProgressIndicator(ProgressReceiver::Upload, 0, 1);
    }
    if (shouldResetDownloadProgress() && partialDownloadSize() == 0) {
      updateProgressIndicator(ProgressReceiver::Download, 0, 1);
    }
  }
  touchActivity();
  startStatusTimer();
}

bool HTTPRequest::configureProxy(const std::optional<std::vector<net::ProxyServer>>& proxies) {
  if (!proxies) {
    readStream_ = nullptr;
    failWithError(makeRequestError(RequestErrorBuildingRequest,
                                   "Unable to obtain information on proxy servers needed for request"));
    return false;
  }
  if (!proxies->empty() && !proxies->front().isDirect()) {
    const auto& first = proxies->front();
    setProxyHost(first.host);
    setProxyPort(first.port);
    setProxyType(first.type);
  }
  if (proxyHost() && proxyPort() != 0) {
    std::string type = proxyType().value_or(net::kProxyTypeHTTP);
    streamProxy_ = net::ProxyServer::make(type == net::kProxyTypeSOCKS ? net::kProxyTypeSOCKS : net::kProxyTypeHTTP,
                                          *proxyHost(), proxyPort());
    readStream_->setProxy(*streamProxy_);
  } else {
    streamProxy_.reset();
  }
  return true;
}

// --- Scheduling and tearing down. ---

void HTTPRequest::scheduleReadStream() {
  if (!readStream_ || readStreamIsScheduled()) return;
  auto& shared = requestClassState();
  {
    std::lock_guard<std::recursive_mutex> pool(shared.connectionPoolLock);
    ++shared.activeStreamCount;
    if (shared.shouldUpdateNetworkActivityIndicator) showNetworkActivityIndicator();
  }
  touchActivity();
  {
    std::lock_guard<std::recursive_mutex> guard(propertyLock_);
    requestRunLoop_ = RunLoop::current();
  }
  readStream_->scheduleInRunLoop(RunLoop::current(), runLoopMode());
  setReadStreamIsScheduled(true);
}

void HTTPRequest::unscheduleReadStream(bool keepClient) {
  if (!readStream_ || !readStreamIsScheduled()) return;
  auto& shared = requestClassState();
  {
    std::lock_guard<std::recursive_mutex> pool(shared.connectionPoolLock);
    --shared.activeStreamCount;
    if (shared.shouldUpdateNetworkActivityIndicator && shared.activeStreamCount == 0) {
      performOnMain([] { hideNetworkActivityIndicatorAfterDelay(); });
    }
  }
  if (!keepClient) readStream_->setClient(0, nullptr);
  Ref<RunLoop> loop;
  {
    std::lock_guard<std::recursive_mutex> guard(propertyLock_);
    loop = requestRunLoop_;
  }
  if (loop) readStream_->unscheduleFromRunLoop(loop, runLoopMode());
  setReadStreamIsScheduled(false);
}

void HTTPRequest::destroyReadStream() {
  if (!readStream_) return;
  unscheduleReadStream();
  // A reusable stream stays open in its connection record for the next request.
  if (!connectionCanBeReused()) readStream_->close();
  readStream_ = nullptr;
}

void HTTPRequest::closeDownloadFiles() {
  if (fileDownloadOutputStream_) std::fclose(fileDownloadOutputStream_);
  if (inflatedFileDownloadOutputStream_) std::fclose(inflatedFileDownloadOutputStream_);
  fileDownloadOutputStream_ = nullptr;
  inflatedFileDownloadOutputStream_ = nullptr;
}

void HTTPRequest::cancelLoad() {
  destroyReadStream();
  if (postBodyReadStream_) postBodyReadStream_->close();
  postBodyReadStream_ = nullptr;
  if (rawResponseData()) {
    setRawResponseData(nullptr);
  } else if (temporaryFileDownloadPath()) {
    closeDownloadFiles();
    if (!allowResumeForFileDownloads()) removeTemporaryDownloadFile();
    removeTemporaryUncompressedDownloadFile();
  }
  if (authenticationNeeded() == 0 && didCreateTemporaryPostDataFile() && canRebuildPostBody()) {
    removeTemporaryUploadFile();
    removeTemporaryCompressedUploadFile();
    setDidCreateTemporaryPostDataFile(false);
  }
  setResponseHeaders(nullptr);
}

bool HTTPRequest::removeFileAtPath(const std::string& path, Ref<Error>* error) {
  std::error_code failure;
  std::filesystem::remove(path, failure);
  if (!failure) return true;
  if (error) {
    *error = makeRequestError(RequestErrorFileManagement, format("Failed to delete file at path '%s'", path.c_str()),
                              Error::posix(failure.value()));
  }
  return false;
}

#define ZV_HTTP_REMOVE_FILE(Function, getter, setter) \
  bool HTTPRequest::Function() {                      \
    auto path = getter();                             \
    if (!path) return true;                           \
    Ref<Error> failure;                               \
    bool removed = removeFileAtPath(*path, &failure); \
    if (!removed) failWithError(failure);             \
    setter(std::nullopt);                             \
    return removed;                                   \
  }
ZV_HTTP_REMOVE_FILE(removeTemporaryDownloadFile, temporaryFileDownloadPath, setTemporaryFileDownloadPath)
ZV_HTTP_REMOVE_FILE(removeTemporaryUncompressedDownloadFile, temporaryUncompressedDataDownloadPath,
                    setTemporaryUncompressedDataDownloadPath)
ZV_HTTP_REMOVE_FILE(removeTemporaryUploadFile, postBodyFilePath, setPostBodyFilePath)
ZV_HTTP_REMOVE_FILE(removeTemporaryCompressedUploadFile, compressedPostBodyFilePath, setCompressedPostBodyFilePath)
#undef ZV_HTTP_REMOVE_FILE

void HTTPRequest::touchActivity() { setLastActivityTime(Clock::current()->monotonic()); }

bool HTTPRequest::shouldTimeOut() {
  auto last = lastActivityTime();
  double limit = timeOutSeconds();
  if (!readStream_ || !readStreamIsScheduled() || !last || limit <= 0) return false;
  double idle = Clock::current()->monotonic() - *last;
  if (idle <= limit) return false;
  if (postLength() == 0) return true;
  if (uploadBufferSize() != 0 && totalBytesSent() > uploadBufferSize()) return true;
  // A body still in the upload buffer gets half as long again.
  return idle > 1.5 * limit;
}

}  // namespace zv

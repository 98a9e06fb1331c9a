// Reading the response of one attempt: the header with its cookies, redirects and keep-alive
// decision, the body into memory or a file (inflated on arrival or afterwards), stream errors and
// the end of the request.

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <filesystem>

#include <zlib.h>

#include "http/ChunkedFileCopy.h"
#include "http/HTTPDataDecompressor.h"
#include "http/HTTPRequest.h"
#include "http/HTTPRequestShared.h"
#include "http/StringEncodings.h"
#include "platform/crypto/Digest.h"
#include "platform/foundation/Format.h"
#include "platform/net/CookieStore.h"
#include "platform/net/NetErrors.h"
#include "platform/storage/AtomicFile.h"
#include "platform/system/ApplicationEnvironment.h"

namespace zv {

using httpdetail::requestClassState;

namespace {

std::string lowercase(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

// Content-Length is a decimal number and nothing else ("010" is ten).
std::optional<std::uint64_t> parseContentLength(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
  if (text.empty() || text.size() > 19) return std::nullopt;
  std::uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return value;
}

// The int after `key` in a Keep-Alive value (0 when missing).
int keepAliveNumber(const std::string& value, const std::string& key) {
  auto at = value.find(key);
  if (at == std::string::npos) return 0;
  return std::atoi(value.c_str() + at + key.size());
}


Ref<Error> moveFileError(const std::string& from, const std::string& to, int errnoValue, const char* verb = "move") {
  return makeRequestError(RequestErrorFileManagement,
                          format("Failed to %s file from '%s' to '%s'", verb, from.c_str(), to.c_str()),
                          Error::posix(errnoValue));
}

}  // namespace

// --- Response accessors. ---

bool HTTPRequest::sentCredentials() const {
  // Every source of credentials ends up as a field of the message sent.
  return request_ && (request_->headerField("Authorization") || request_->headerField("Proxy-Authorization"));
}

bool HTTPRequest::isResponseCompressed() const {
  auto headers = responseHeaders();
  if (!headers) return false;
  std::optional<std::string> encoding;
  headers->enumerate([&](const ObjectPtr& key, const ObjectPtr& value) {
    if (net::equalsIgnoringCase(describe(key), "Content-Encoding")) {
      encoding = describe(value);
      return false;
    }
    return true;
  });
  return encoding && lowercase(*encoding).find("gzip") != std::string::npos;
}

Ref<Data> HTTPRequest::responseData() const {
  Ref<Data> raw;
  {
    std::lock_guard<std::recursive_mutex> guard(propertyLock_);
    if (inflatedResponse_) return inflatedResponse_;
    // Until the end the request's thread appends to the body (under this lock): a copy of what
    // has arrived so far, never the buffer that is growing.
    raw = rawResponseData_ && !complete_ ? Data::make(rawResponseData_->bytes()) : rawResponseData_;
  }
  if (raw && isResponseCompressed() && shouldWaitToInflateCompressedResponses()) {
    return HTTPDataDecompressor::uncompressData(raw, maximumInflatedResponseSize(), nullptr);
  }
  return raw;
}

std::optional<std::string> HTTPRequest::responseString() const {
  auto data = responseData();
  if (!data) return std::nullopt;
  unsigned encoding = responseEncoding();
  // An encoding this system has no name for is read as UTF-8.
  if (!charsetNameForStringEncoding(encoding)) encoding = kUTF8StringEncoding;
  return decodeString(data->view(), encoding);
}

void HTTPRequest::parseStringEncodingFromHeaders() {
  unsigned encoding = defaultResponseEncoding();
  std::optional<std::string> contentType;
  if (auto headers = responseHeaders()) {
    headers->enumerate([&](const ObjectPtr& key, const ObjectPtr& value) {
      if (net::equalsIgnoringCase(describe(key), "Content-Type")) contentType = describe(value);
      return !contentType;
    });
  }
  std::optional<std::string> mime;
  parseMimeType(&mime, &encoding, contentType);
  setResponseEncoding(encoding);
}

// --- Stream events. ---

void HTTPRequest::handleNetworkEvent(net::StreamEvent event) {
  auto self = selfAs<HTTPRequest>();
  std::unique_lock<std::recursive_mutex> lock(cancelledLock_);
  if (complete() || isCancelled()) return;
  if (event == net::kStreamEventHasBytesAvailable) {
    handleBytesAvailable();
  } else if (event == net::kStreamEventEndEncountered) {
    handleStreamComplete();
  } else if (event == net::kStreamEventErrorOccurred) {
    handleStreamError();
  }
  performThrottling();
  lock.unlock();

  if (error() || !complete()) return;
  if (needsRedirect()) {
    // A HEAD copy's owner is its request's: where that owner decides redirects, the copy cannot
    // ask (it reports nothing itself) and does not follow unasked; the request will ask.
    auto main = mainRequest().lock();
    const HTTPRequest& owned = main ? *main : *this;
    auto theDelegate = owned.delegate();
    auto theQueue = owned.queue();
    bool asks = (theDelegate && theDelegate->respondsToSelector(owned.willRedirectSelector())) ||
                (theQueue && theQueue->respondsToSelector("requestWillRedirectToURL"));
    if (asks && main) {
      std::lock_guard<std::recursive_mutex> again(cancelledLock_);
      setNeedsRedirect(false);
      setRedirectURL(nullptr);
      if (showAccurateProgress() && shouldResetDownloadProgress()) main->noteUnknownDownloadSize();
      markAsFinished();
    } else if (asks) {
      auto target = redirectURL();
      setRedirectURL(nullptr);
      requestWillRedirectToURL(target);
    } else {
      std::lock_guard<std::recursive_mutex> again(cancelledLock_);
      performRedirect();
    }
  } else if (authenticationNeeded() != 0) {
    std::lock_guard<std::recursive_mutex> again(cancelledLock_);
    attemptToApplyCredentialsAndResume();
  }
}

void HTTPRequest::readResponseHeaders() {
  setAuthenticationNeeded(0);
  auto message = readStream_ ? readStream_->responseHeader() : nullptr;
  if (!message || !message->isHeaderComplete()) return;
  auto self = selfAs<HTTPRequest>();
  headersReceived_ = true;
  auto headers = message->allHeaderFields();
  setResponseHeaders(headers);
  setResponseStatusCode(message->statusCode());
  setResponseStatusMessage(message->statusLine());
  auto target = url();

  if (auto cache = downloadCache(); cache && cache->canUseCachedDataForRequest(self)) {
    useDataFromCache();
    cache->storeResponseForRequest(self, secondsToCache());
    return;
  }
  int status = message->statusCode();
  if (status == 401) setAuthenticationNeeded(1);
  if (status == 407) setAuthenticationNeeded(2);
  if (status != 401 && status != 407) rememberPresentedCredentials();
  parseStringEncodingFromHeaders();

  auto cookies = net::HTTPCookie::cookiesWithResponseHeaderFields(message->headers(), *target);
  setResponseCookies(cookies);
  // Stored once this attempt is known not to be repeated (its end, or the request's failure).
  pendingResponseCookies_.clear();
  if (useCookiePersistence() && !cookies.empty()) {
    pendingResponseCookies_ = cookies;
    pendingResponseCookiesURL_ = target;
  }

  auto location = message->headerField("Location");
  if (shouldRedirect() && location && ((status > 300 && status < 304) || status == 307)) {
    requestRedirectedEvent();
    bool keepMethod = status == 307 || ((status == 301 || status == 302) && shouldUseRFC2616RedirectBehaviour());
    if (keepMethod) {
      // The cookies for the new address are attached once it is the request's URL.
      std::lock_guard<std::recursive_mutex> guard(propertyLock_);
      if (requestHeaders_) requestHeaders_->removeObjectForKey("Cookie");
      cookieHeaderStale_ = true;
    } else {
      setRequestMethod("GET");
      setPostBody(nullptr);
      setCompressedPostBody(nullptr);
      setPostLength(0);
      // A body streamed from disk must not follow a redirect that turned into GET either.
      setShouldStreamPostDataFromDisk(false);
      auto kept = MutableDictionary::make();
      if (auto old = requestHeaders()) {
        for (const char* name : {"User-Agent", "Accept"}) {
          if (auto value = old->objectForKey(name)) kept->setObject(value, name);
        }
      }
      setRequestHeaders(kept);
      setHaveBuiltRequestHeaders(false);
    }
    setRedirectURL(URL::make(*location, target));
    setNeedsRedirect(true);
    setRequestCookies({});
  }

  if (!needsRedirect()) {
    auto sizeTarget = mainRequest().lock();
    if (!sizeTarget) sizeTarget = self;
    auto lengthText = message->headerField("Content-Length");
    std::uint64_t length = 0;
    bool known = false;
    if (lengthText) {
      if (auto parsed = parseContentLength(*lengthText)) {
        length = *parsed;
        known = true;
      }
    }
    bool track = showAccurateProgress() && shouldResetDownloadProgress();
    if (known && sizeTarget != self && allowCompressedResponse() && length == 20 && track) {
      // A HEAD answer of exactly 20 bytes is what servers give for a compressed body they have
      // not produced yet (an empty gzip stream): the real size is unknown.
      sizeTarget->noteUnknownDownloadSize();
    } else if (known) {
      // The announced length is a claim: room for the body grows with what arrives (never past
      // the claim), not before a byte has come.
      sizeTarget->setContentLength(length);
      if (track) sizeTarget->incrementDownloadSizeBy(static_cast<std::int64_t>(length + sizeTarget->partialDownloadSize()));
    } else if (track) {
      sizeTarget->noteUnknownDownloadSize();
    }
    if (sizeTarget != self) {
      sizedMainRequest_ = true;
      // A copy that became a GET (a 301, 302 or 303 on the way) stops at the head of the answer
      // it ends on; a HEAD answer ends by itself.
      if (authenticationNeeded() == 0 && requestMethod() != "HEAD") {
        finishHEADCopyAtHead();
        return;
      }
    }
  }

  if (shouldAttemptPersistentConnection()) {
    std::string connection = lowercase(message->headerField("Connection").value_or(""));
    if (connection == "close") {
      setConnectionCanBeReused(false);
    } else if (message->version() != net::kHTTPVersion1_0 || connection == "keep-alive") {
      if (auto keepAlive = message->headerField("Keep-Alive")) {
        int timeout = keepAliveNumber(*keepAlive, "timeout=");
        int max = keepAliveNumber(*keepAlive, "max=");
        if (max >= 6) {
          setConnectionCanBeReused(true);
          setPersistentConnectionTimeoutSeconds(timeout);
        }
      } else {
        setConnectionCanBeReused(true);
      }
    }
  }
  requestReceivedResponseHeaders(dyn<Dictionary>(headers->copy()));
}

void HTTPRequest::finishHEADCopyAtHead() {
  storeResponseCookies();
  // The body is still coming: the connection goes with it.
  setConnectionCanBeReused(false);
  stopStatusTimer();
  releaseConnectionRecord(false);
  destroyReadStream();
  setDownloadComplete(true);
  setComplete(true);
  markAsFinished();
}

void HTTPRequest::noteUnknownDownloadSize() {
  // Counted as one unit, like a request without accurate progress.
  setShowAccurateProgress(false);
  incrementDownloadSizeBy(1);
}

void HTTPRequest::handleBytesAvailable() {
  if (!headersReceived_) readResponseHeaders();
  if (complete() || !readStream_) return;
  std::uint64_t expected = contentLength();
  std::size_t size = throttledReadSize(expected > 262144 ? 262144 : expected > 65536 ? 65536 : 16384);
  if (readBuffer_.size() < size) readBuffer_.resize(size);
  long n = readStream_->read(readBuffer_.data(), size);
  if (n < 0) {
    handleStreamError();
    return;
  }
  if (n == 0) return;
  if (!headersReceived_) readResponseHeaders();
  if (complete() || !readStream_) return;

  setTotalBytesRead(totalBytesRead() + static_cast<std::uint64_t>(n));
  touchActivity();
  incrementBandwidthUsedInLastSecond(static_cast<unsigned long>(n));
  // The body of a redirect answer is nobody's business, nor any body a HEAD copy is sent (a
  // challenge's, on its way to the answer it ends on).
  if (needsRedirect() || mainRequest().lock()) return;

  const std::uint8_t* bytes = readBuffer_.data();
  auto length = static_cast<std::size_t>(n);
  auto theDelegate = delegate();
  // A challenge's body is followed by the body of the answered attempt: it never reaches the data
  // callbacks or the download file (memory keeps it for a request that ends with the challenge).
  bool challenged = authenticationNeeded() != 0;
  bool toCallbacks = !challenged && (callback(&Callbacks::dataReceived) ||
                                     (theDelegate && theDelegate->respondsToSelector(didReceiveDataSelector())));
  bool toFile = !challenged && !toCallbacks && downloadDestinationPath();
  auto raw = rawResponseData();
  if (!isResponseCompressed() || shouldWaitToInflateCompressedResponses()) {
    if (toCallbacks) {
      passedOnBodyBytes_ = true;
      passOnReceivedData(Data::make(bytes, length));
    } else if (toFile) {
      writeDownloadBytes(bytes, length);
    } else if (raw) {
      // What is kept in memory, compressed or not, is held to the same bound as an inflated body.
      std::uint64_t limit = maximumInflatedResponseSize();
      if (limit != 0 && raw->length() + length > limit) {
        failWithError(makeRequestError(RequestErrorCompression,
                                       format("The response body is larger than the most kept in memory (%llu bytes)",
                                              static_cast<unsigned long long>(limit))));
        return;
      }
      std::uint64_t announced = isResponseCompressed() ? 0 : contentLength();
      std::lock_guard<std::recursive_mutex> guard(propertyLock_);
      HTTPDataDecompressor::reserveWithin(raw->mutableBytes(), raw->length() + length, announced);
      raw->append(bytes, length);
    }
    return;
  }

  // Inflated on arrival, window by window, straight to where the body goes.
  auto decompressor = dataDecompressor();
  if (!decompressor) {
    decompressor = HTTPDataDecompressor::decompressor();
    setDataDecompressor(decompressor);
  }
  if (toFile && !writeDownloadBytes(bytes, length)) return;
  std::uint64_t limit = maximumInflatedResponseSize();
  bool tooLong = false;
  bool writeFailed = false;
  HTTPDataDecompressor::Sink sink = [&](const std::uint8_t* window, std::size_t size) {
    if (toCallbacks) {
      passedOnBodyBytes_ = true;
      passOnReceivedData(Data::make(window, size));
    } else if (toFile) {
      if (!writeInflatedDownloadBytes(window, size)) {
        writeFailed = true;
        return false;
      }
    } else if (raw) {
      if (limit != 0 && raw->length() + size > limit) {
        tooLong = true;
        return false;
      }
      std::lock_guard<std::recursive_mutex> guard(propertyLock_);
      HTTPDataDecompressor::reserveWithin(raw->mutableBytes(), raw->length() + size, limit);
      raw->append(window, size);
    }
    return true;
  };
  Ref<Error> failure;
  if (!decompressor->inflateBytes(bytes, length, sink, &failure) && !writeFailed) {
    failWithError(tooLong ? HTTPDataDecompressor::inflateErrorWithCode(Z_MEM_ERROR) : failure);
  }
}

std::FILE* HTTPRequest::openDownloadFile(std::optional<std::string> path,
                                         const std::function<void(const std::string&)>& setPath) {
  bool append = false;
  if (path) {
    bool resumed = allowResumeForFileDownloads() && request_ && request_->headerField("Range") && readStream_ &&
                   readStream_->responseHeader() && readStream_->responseHeader()->headerField("Content-Range");
    if (resumed) {
      append = true;
    } else if (partialDownloadSize() != 0) {
      // The server ignored the range: start over.
      incrementDownloadSizeBy(-static_cast<std::int64_t>(partialDownloadSize()));
      setPartialDownloadSize(0);
    }
  } else {
    path = httpdetail::newTemporaryFilePath();
    setPath(*path);
  }
  std::FILE* file = httpdetail::openPrivateFile(*path, append);
  // Unbuffered, so that a failed write (a full disk) shows at once rather than at the close.
  if (file) std::setvbuf(file, nullptr, _IONBF, 0);
  return file;
}

bool HTTPRequest::writeDownloadBytes(const std::uint8_t* bytes, std::size_t length) {
  if (!fileDownloadOutputStream_) {
    fileDownloadOutputStream_ =
        openDownloadFile(temporaryFileDownloadPath(), [this](const std::string& p) { setTemporaryFileDownloadPath(p); });
  }
  if (fileDownloadOutputStream_ && std::fwrite(bytes, 1, length, fileDownloadOutputStream_) == length) return true;
  const int failure = errno;
  failDownloadWrite(temporaryFileDownloadPath(), failure);
  return false;
}

bool HTTPRequest::writeInflatedDownloadBytes(const std::uint8_t* bytes, std::size_t length) {
  if (!inflatedFileDownloadOutputStream_) {
    inflatedFileDownloadOutputStream_ = openDownloadFile(
        temporaryUncompressedDataDownloadPath(), [this](const std::string& p) { setTemporaryUncompressedDataDownloadPath(p); });
  }
  if (inflatedFileDownloadOutputStream_ && std::fwrite(bytes, 1, length, inflatedFileDownloadOutputStream_) == length)
    return true;
  const int failure = errno;
  failDownloadWrite(temporaryUncompressedDataDownloadPath(), failure);
  return false;
}

// A download that could not be written whole is worth nothing, resumable or not: the request fails
// and both temporary files go.
void HTTPRequest::failDownloadWrite(const std::optional<std::string>& path, int errnoValue) {
  closeDownloadFiles();
  failWithError(makeRequestError(RequestErrorFileManagement,
                                 format("Failed to write to file at path '%s'", path ? path->c_str() : ""),
                                 Error::posix(errnoValue != 0 ? errnoValue : EIO)));
  removeTemporaryDownloadFile();
  removeTemporaryUncompressedDownloadFile();
}

void HTTPRequest::storeResponseCookies() {
  if (pendingResponseCookies_.empty() || !pendingResponseCookiesURL_) return;
  auto cookies = std::move(pendingResponseCookies_);
  pendingResponseCookies_.clear();
  net::CookieStore::sharedInstance()->setCookies(cookies, *pendingResponseCookiesURL_);
  for (const auto& cookie : cookies) addSessionCookie(cookie);
  pendingResponseCookiesURL_ = nullptr;
}

void HTTPRequest::handleStreamComplete() {
  auto self = selfAs<HTTPRequest>();
  stopStatusTimer();
  setDownloadComplete(true);
  if (!headersReceived_) readResponseHeaders();
  if (complete()) return;  // answered from the cache
  storeResponseCookies();
  // A server that stops before sending a head has not answered.
  if (!headersReceived_) {
    setConnectionCanBeReused(false);
    cancelLoad();
    failWithError(makeRequestError(RequestErrorConnectionFailure, "A connection failure occurred",
                                   net::makeURLError(net::kURLErrorNetworkConnectionLost,
                                                     "The connection ended before a response arrived")));
    return;
  }
  auto& shared = requestClassState();
  Ref<Error> fileError;
  {
    std::lock_guard<std::recursive_mutex> progress(shared.progressDeliveryLock);
    setLastBytesSent(totalBytesSent());
    if (readStream_) setTotalBytesSent(readStream_->requestBodyBytesWritten());
    setComplete(true);
    if (contentLength() == 0) setContentLength(totalBytesRead());
    updateProgressIndicators();
    if (postBodyReadStream_) postBodyReadStream_->close();
    postBodyReadStream_ = nullptr;
    auto decompressor = dataDecompressor();
    setDataDecompressor(nullptr);
    // A body that cannot be built again keeps its file for copies of this request, and a redirect
    // that keeps the method sends the file again.
    bool resendsBody = needsRedirect() && shouldStreamPostDataFromDisk();
    if (didCreateTemporaryPostDataFile() && authenticationNeeded() == 0 && canRebuildPostBody() && !resendsBody) {
      removeTemporaryUploadFile();
      removeTemporaryCompressedUploadFile();
      setDidCreateTemporaryPostDataFile(false);
    }
    bool compressed = isResponseCompressed();
    bool redirecting = needsRedirect();
    // Inflation errors fail the request rather than hand out a damaged body.
    if (!redirecting && compressed && decompressor && totalBytesRead() > 0 && !decompressor->streamEnded()) {
      fileError = HTTPDataDecompressor::inflateErrorWithCode(-5);
    }
    if (!redirecting && compressed && shouldWaitToInflateCompressedResponses() && !downloadDestinationPath()) {
      auto raw = rawResponseData();
      if (raw && raw->length() > 0) {
        Ref<Error> failure;
        auto inflated = HTTPDataDecompressor::uncompressData(raw, maximumInflatedResponseSize(), &failure);
        if (failure) {
          fileError = failure;
        } else {
          std::lock_guard<std::recursive_mutex> guard(propertyLock_);
          inflatedResponse_ = inflated;
        }
      }
    }
    if (auto temporary = temporaryFileDownloadPath()) {
      closeDownloadFiles();
      if (!redirecting && !fileError) {
        std::string destination = *downloadDestinationPath();
        // The destination is replaced whole, never left half written (a rename over it, also
        // from another file system).
        if (compressed) {
          if (shouldWaitToInflateCompressedResponses()) {
            std::string staging = httpdetail::siblingTemporaryPath(destination);
            Ref<Error> failure;
            if (!HTTPDataDecompressor::uncompressDataFromFile(*temporary, staging, &failure)) {
              fileError = failure;
            } else if (int failed = httpdetail::moveFile(staging, destination)) {
              fileError = moveFileError(staging, destination, failed);
            }
            std::error_code ignored;
            std::filesystem::remove(staging, ignored);
          } else if (auto inflatedPath = temporaryUncompressedDataDownloadPath()) {
            if (int failed = httpdetail::moveFile(*inflatedPath, destination)) {
              fileError = moveFileError(*inflatedPath, destination, failed);
            }
            removeTemporaryUncompressedDownloadFile();
          }
          removeTemporaryDownloadFile();
        } else {
          if (int failed = httpdetail::moveFile(*temporary, destination)) {
            fileError = moveFileError(*temporary, destination, failed);
            if (!allowResumeForFileDownloads()) removeTemporaryDownloadFile();
          }
          setTemporaryFileDownloadPath(std::nullopt);
        }
      } else if (redirecting) {
        // The redirect's own body never lands in the destination.
        removeTemporaryDownloadFile();
        removeTemporaryUncompressedDownloadFile();
      }
    }
    if (auto cache = downloadCache(); cache && !didUseCachedResponse() && !fileError && !redirecting) {
      cache->storeResponseForRequest(self, secondsToCache());
    }
  }
  // Only a connection the stream can actually hand on is kept.
  if (readStream_ && !readStream_->connectionAllowsReuse()) setConnectionCanBeReused(false);
  {
    std::lock_guard<std::recursive_mutex> pool(shared.connectionPoolLock);
    if (!connectionCanBeReused()) unscheduleReadStream();
    if (connectionCanBeReused()) {
      releaseConnectionRecord(true);
    } else {
      releaseConnectionRecord(false);
    }
  }
  if (authenticationNeeded() == 0) destroyReadStream();
  if (!needsRedirect() && authenticationNeeded() == 0 && !didUseCachedResponse()) {
    if (fileError) {
      failWithError(fileError);
    } else {
      requestFinished();
    }
    markAsFinished();
  } else if (authenticationNeeded() != 0) {
    RunLoop::current()->stop();
  }
}

void HTTPRequest::handleStreamError() {
  auto streamError = readStream_ ? readStream_->streamError() : nullptr;
  // Only a connection that sat idle in the pool and died before the server said anything is
  // assumed never to have reached the server; anything else may have been acted on.
  bool reusedIdleConnection = readStream_ && readStream_->isOnReusedConnection();
  // Any byte of an answer (an interim head, half a status line) shows the request arrived.
  bool answered = headersReceived_ || totalBytesRead() > 0 ||
                  (readStream_ && (readStream_->responseHeader() || readStream_->receivedAnyResponseBytes()));
  // A failed stream's socket is never offered again.
  setConnectionCanBeReused(false);
  if (!error() && streamError && net::isConnectionLostError(*streamError) && reusedIdleConnection && !answered &&
      !passedOnBodyBytes_ && retryCount() == 0) {
    // The body (in memory or in its temporary file) is kept: the retry sends all of it again.
    destroyReadStream();
    if (postBodyReadStream_) postBodyReadStream_->close();
    postBodyReadStream_ = nullptr;
    if (retryUsingNewConnection()) return;
  }
  cancelLoad();
  if (!error()) {
    std::string description = "A connection failure occurred";
    if (streamError && net::isTLSError(*streamError)) {
      description = format("%s: SSL problem (possibly a bad/expired/self-signed certificate)", description.c_str());
    }
    failWithError(makeRequestError(RequestErrorConnectionFailure, description, streamError));
  }
  checkRequestStatus();
}

void HTTPRequest::performRedirect(bool ownerAgreed) {
  auto target = redirectURL();
  auto scheme = target ? target->lowercaseScheme() : std::nullopt;
  if (scheme != "http" && scheme != "https") {
    // Refused before it is taken on: url() stays the last address actually loaded.
    setNeedsRedirect(false);
    setRedirectURL(nullptr);
    failWithError(cannotCreateRequestError());
    return;
  }
  auto current = url();
  if (!ownerAgreed && postLength() > 0 && current && !isSameOrigin(*current, *target)) {
    // A body (a signed call, a form with a password) never goes to another origin, nor leaves a
    // secure connection for a plain one, unless the request's owner chose to follow.
    setNeedsRedirect(false);
    setRedirectURL(nullptr);
    failWithError(makeRequestError(RequestErrorTooManyRedirects,
                                   "The request was not redirected: its body would have gone to another site"));
    return;
  }
  setURL(target);
  setComplete(true);
  setNeedsRedirect(false);
  setRedirectCount(redirectCount() + 1);
  if (redirectCount() < 6) {
    main();
  } else {
    failWithError(tooManyRedirectsError());
    setComplete(true);
  }
}

bool HTTPCacheDelegate::cachedAnswerForRequest(const Ref<HTTPRequest>& request, CachedAnswer& answer) {
  if (!canUseCachedDataForRequest(request)) return false;
  answer.headers = cachedResponseHeadersForURL(request->url());
  answer.bodyPath = pathToCachedResponseDataForURL(request->url());
  return true;
}

void HTTPRequest::useDataFromCache(const HTTPCacheDelegate::CachedAnswer* stored) {
  auto self = selfAs<HTTPRequest>();
  auto target = mainRequest().lock();
  if (!target) target = self;
  // The stream of an answer the cache replaces is finished with, like that of any finished
  // request: it leaves the active-stream count and its connection record.
  if (readStream_) {
    setConnectionCanBeReused(false);
    releaseConnectionRecord(false);
    destroyReadStream();
  }
  Ref<Dictionary> headers;
  std::optional<std::string> path;
  if (stored) {
    headers = stored->headers;
    path = stored->bodyPath;
  } else if (auto cache = downloadCache()) {
    headers = cache->cachedResponseHeadersForURL(url());
    path = cache->pathToCachedResponseDataForURL(url());
  }
  Ref<MutableData> body;
  Ref<Error> failure;
  auto destination = target->downloadDestinationPath();
  if (headers && path && destination) {
    // The caller's file is a copy of the stored one, made in pieces: the stored answer stays the
    // cache's whatever the caller does with its file.
    if (int failed = httpdetail::copyFile(*path, *destination, 0600)) {
      failure = moveFileError(*path, *destination, failed, "copy");
    }
  } else if (headers && path) {
    if (auto bytes = storage::readFile(*path)) {
      body = MutableData::make();
      body->append(*bytes);
    }
  }
  if (!headers || !path || (!destination && !body) || failure) {
    // Nothing usable is stored: that is a failure, not an empty success.
    setCachePolicy(cachePolicy() & ~CachePolicyFallbackToCache);
    target->setCachePolicy(target->cachePolicy() & ~CachePolicyFallbackToCache);
    if (!failure) {
      failure = makeRequestError(RequestErrorConnectionFailure, "No cached response is available for this request");
    }
    if (target != self) markAsFinished();
    target->failWithError(failure);
    return;
  }
  setResponseStatusCode(200);
  setDidUseCachedResponse(true);
  target->setResponseStatusCode(200);
  target->setResponseHeaders(headers);
  if (body) target->setRawResponseData(body);
  auto length = headers->stringForKey("Content-Length");
  std::uint64_t size = length ? parseContentLength(*length).value_or(0) : 0;
  target->setContentLength(size);
  target->setTotalBytesRead(size);
  target->parseStringEncodingFromHeaders();
  net::HeaderFields fields;
  headers->enumerate([&](const ObjectPtr& key, const ObjectPtr& value) {
    fields.add(describe(key), describe(value));
    return true;
  });
  target->setResponseCookies(net::HTTPCookie::cookiesWithResponseHeaderFields(fields, *url()));
  target->setComplete(true);
  target->setDownloadComplete(true);
  if (target->redirectCount() == 0) target->setOriginalURL(target->url());
  target->updateProgressIndicators();
  target->requestFinished();
  target->markAsFinished();
  if (target != self) markAsFinished();
}

}  // namespace zv

#pragma once
// One HTTP or HTTPS request as a concurrent operation.
//
// Threads: a caller configures a request on one thread and starts it with startAsynchronous (it
// joins the shared queue of at most four running requests, and its network work runs on the one
// long-lived network thread) or startSynchronous (the work runs on the caller's thread in the
// private run-loop mode "HTTPRequestRunLoopMode"). Events reach the delegate, then the queue,
// then the callbacks, always on the main thread. cancel and clearDelegatesAndCancel may be called
// from any thread. Properties may be read from any thread; each read or write is atomic. The body
// buffer (rawResponseData) is the request's own and grows on the request's thread until the
// request is complete: read its bytes after the end, or take responseData(), a copy while it runs.
//
// Ownership: the delegate and the progress receivers are not retained; the queue and callbacks
// are. While it runs, a request is kept alive by its operation queue (asynchronous) or its caller
// (synchronous), and each entry point on the request's thread holds a reference to it for its
// whole run, so a callback that drops the last outside reference cannot free it half-way.
//
// Background: a request with shouldContinueWhenAppEntersBackground holds a background task from
// its start until it is finished; when the task's time runs out the request is cancelled (code 4).
//
// Sending again: a request goes out a second time on its own only when it went out on a pooled
// connection that had sat idle and that connection was lost before any byte of an answer came,
// an interim head or part of a status line included (the server most likely closed it while idle
// and never saw the request). That holds for every
// method, POST included, as other clients do; a fresh connection, or one lost after the answer
// began, is never retried, since the server may already have acted on the request. The retry
// opens a new connection (never another idle pooled one, which may be just as dead) and sends the
// whole body again (from memory or from its file). Cookies set by an answer count only
// once its attempt is not repeated. Timeout retries are separate: only as many as
// numberOfTimesToRetryOnTimeout asks for.

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "http/HTTPDataDecompressor.h"
#include "http/HTTPRequestDelegate.h"
#include "http/HTTPRequestErrors.h"
#include "platform/foundation/Values.h"
#include "platform/net/HTTPAuthentication.h"
#include "platform/net/HTTPCookie.h"
#include "platform/net/HTTPMessage.h"
#include "platform/net/HTTPReadStream.h"
#include "platform/net/TLSSettings.h"
#include "platform/runloop/Operation.h"
#include "platform/runloop/OperationQueue.h"
#include "platform/runloop/RunLoop.h"
#include "platform/runloop/Thread.h"
#include "platform/runloop/Timer.h"
#include "platform/system/BackgroundTasks.h"

namespace zv {

inline constexpr const char* kHTTPRequestRunLoopMode = "HTTPRequestRunLoopMode";
// The string encodings the request names (the platform's numbers).
inline constexpr unsigned kUTF8StringEncoding = 4;
inline constexpr unsigned kISOLatin1StringEncoding = 5;
inline constexpr std::uint64_t kDefaultMaximumInflatedResponseSize = net::kDefaultMaximumInflatedLength;

// An atomic property: the value is read and written whole under the request's property lock.
#define ZV_HTTP_PROPERTY(Type, name, Setter, initial)           \
 public:                                                        \
  Type name() const {                                           \
    std::lock_guard<std::recursive_mutex> guard(propertyLock_); \
    return name##_;                                             \
  }                                                             \
  void Setter(Type value) {                                     \
    std::lock_guard<std::recursive_mutex> guard(propertyLock_); \
    name##_ = std::move(value);                                 \
  }                                                             \
                                                                \
 private:                                                       \
  Type name##_ = initial;

class HTTPRequest : public Operation {
 public:
  using Block = std::function<void()>;
  using HeadersBlock = std::function<void(const Ref<Dictionary>&)>;
  using ProgressBlock = std::function<void(std::uint64_t size, std::uint64_t total)>;
  using SizeBlock = std::function<void(std::int64_t amount)>;
  using DataBlock = std::function<void(const Ref<Data>&)>;

  // --- Creation. ---
  static Ref<HTTPRequest> requestWithURL(Ref<URL> url);
  static Ref<HTTPRequest> requestWithURL(Ref<URL> url, Ref<HTTPCacheDelegate> cache, int cachePolicy = 0);
  explicit HTTPRequest(Ref<URL> url);
  ~HTTPRequest() override;

  // --- Starting and stopping. ---
  void startAsynchronous();
  void startSynchronous();
  void start() override;
  void main() override;
  bool isConcurrent() const override { return true; }
  // start() only hands the request to its thread.
  bool startsOnAnyThread() const override { return true; }
  bool isExecuting() const override;
  bool isFinished() const override;
  bool isCancelled() const override;
  // Returns at once; the request fails with code 4 on the run loop that owns it.
  void cancel() override;
  // Nothing more reaches the delegate, queue, progress receivers or callbacks, then cancel.
  void clearDelegatesAndCancel();

  // The shared queue of at most four running requests, and the network thread.
  static Ref<OperationQueue> sharedQueue();
  static Ref<Thread> threadForRequest(const Ref<HTTPRequest>& request);

  // --- Ending (the request's thread). ---
  void failWithError(const Ref<Error>& error);
  void requestFinished();
  void markAsFinished();
  // Continues after a redirect that the delegate was asked about.
  void redirectToURL(const Ref<URL>& url);

  // --- Body and headers (before start). ---
  void appendPostData(const Ref<Data>& data);
  void appendPostDataFromFile(const std::string& path);
  void addRequestHeader(const std::string& name, const std::string& value);
  virtual void buildPostBody();
  void buildRequestHeaders();
  void applyCookieHeader();

  // --- Response (after the end). ---
  // The body, inflated when it came compressed (nullptr when it would pass
  // maximumInflatedResponseSize). Any thread; while the request runs, a copy of what has arrived.
  Ref<Data> responseData() const;
  // The body as text read in responseEncoding (an encoding without a name reads as UTF-8);
  // nullopt when the bytes are not valid in it.
  std::optional<std::string> responseString() const;
  bool isResponseCompressed() const;
  // Whether the request as last sent carried credentials for the server or a proxy, whatever
  // supplied them (read on the request's network thread, or after the end).
  bool sentCredentials() const;

  // --- Copying: a fresh request with the caller's settings, not its state. ---
  ObjectPtr copy() const override;
  virtual Ref<HTTPRequest> copyRequest() const;

  // --- Delegates and callbacks. ---
  ObjectPtr delegate() const;
  void setDelegate(const ObjectPtr& delegate);
  Ref<HTTPRequestQueueDelegate> queue() const;
  void setQueue(const Ref<HTTPRequestQueueDelegate>& queue);
  ObjectPtr uploadProgressDelegate() const;
  void setUploadProgressDelegate(const ObjectPtr& receiver);
  ObjectPtr downloadProgressDelegate() const;
  void setDownloadProgressDelegate(const ObjectPtr& receiver);
  void setStartedBlock(Block block);
  void setHeadersReceivedBlock(HeadersBlock block);
  void setCompletionBlock(Block block);
  void setFailedBlock(Block block);
  void setBytesReceivedBlock(ProgressBlock block);
  void setBytesSentBlock(ProgressBlock block);
  void setDownloadSizeIncrementedBlock(SizeBlock block);
  void setUploadSizeIncrementedBlock(SizeBlock block);
  void setDataReceivedBlock(DataBlock block);
  void setAuthenticationNeededBlock(Block block);
  void setProxyAuthenticationNeededBlock(Block block);
  void setRequestRedirectedBlock(Block block);

  Ref<URL> url() const;
  void setURL(const Ref<URL>& url);
  void setClientCertificateIdentity(const Ref<net::ClientIdentity>& identity);
  Ref<net::ClientIdentity> clientCertificateIdentity() const;
  // The "id" of the connection record in use.
  std::optional<std::int64_t> connectionID() const;

  // --- Class-level utilities. ---
  static double defaultTimeOutSeconds();
  static void setDefaultTimeOutSeconds(double seconds);
  static Ref<HTTPCacheDelegate> defaultCache();
  static void setDefaultCache(const Ref<HTTPCacheDelegate>& cache);
  static std::vector<Ref<net::HTTPCookie>> sessionCookies();
  static void setSessionCookies(std::optional<std::vector<Ref<net::HTTPCookie>>> cookies);
  static void addSessionCookie(const Ref<net::HTTPCookie>& cookie);
  static void clearSession();
  static std::optional<std::string> defaultUserAgentString();
  // nullopt for a script that cannot be evaluated; an empty list goes direct.
  static std::optional<std::vector<net::ProxyServer>> proxiesForURL(const Ref<URL>& url, const std::string& script);
  static std::optional<std::string> mimeTypeForFileAtPath(const std::string& path);
  static void parseMimeType(std::optional<std::string>* mimeType, unsigned* encoding,
                            const std::optional<std::string>& contentType);
  static Ref<Date> dateFromRFC1123String(const std::string& text);
  static std::string base64forData(const Ref<Data>& data);
  static bool isNetworkInUse();
  static void setShouldUpdateNetworkActivityIndicator(bool flag);
  static bool isNetworkActivityIndicatorVisible();
  static void showNetworkActivityIndicator();
  static void hideNetworkActivityIndicator();
  static void hideNetworkActivityIndicatorAfterDelay();
  static void hideNetworkActivityIndicatorIfNeeeded();
  static bool removeFileAtPath(const std::string& path, Ref<Error>* error);
  // Closes free persistent connections whose time is up.
  static void expirePersistentConnections();
  // Connection records in the pool (tests).
  static std::size_t persistentConnectionCount();

  // The shared errors of codes 2, 3, 4, 5 and 9.
  static Ref<Error> timedOutError();
  static Ref<Error> authenticationError();
  static Ref<Error> cancelledError();
  static Ref<Error> cannotCreateRequestError();
  static Ref<Error> tooManyRedirectsError();

  // --- Properties. ---
  ZV_HTTP_PROPERTY(std::optional<std::string>, username, setUsername, std::nullopt)
  ZV_HTTP_PROPERTY(std::optional<std::string>, password, setPassword, std::nullopt)
  ZV_HTTP_PROPERTY(std::optional<std::string>, domain, setDomain, std::nullopt)
  ZV_HTTP_PROPERTY(std::optional<std::string>, proxyUsername, setProxyUsername, std::nullopt)
  ZV_HTTP_PROPERTY(std::optional<std::string>, proxyPassword, setProxyPassword, std::nullopt)
  ZV_HTTP_PROPERTY(std::optional<std::string>, proxyDomain, setProxyDomain, std::nullopt)
  ZV_HTTP_PROPERTY(std::optional<std::string>, proxyHost, setProxyHost, std::nullopt)
  ZV_HTTP_PROPERTY(int, proxyPort, setProxyPort, 0)
  ZV_HTTP_PROPERTY(std::optional<std::string>, proxyType, setProxyType, std::nullopt)
  ZV_HTTP_PROPERTY(Ref<URL>, originalURL, setOriginalURL, nullptr)
  ZV_HTTP_PROPERTY(bool, useKeychainPersistence, setUseKeychainPersistence, false)
  ZV_HTTP_PROPERTY(bool, useSessionPersistence, setUseSessionPersistence, true)
  ZV_HTTP_PROPERTY(std::optional<std::string>, downloadDestinationPath, setDownloadDestinationPath, std::nullopt)
  ZV_HTTP_PROPERTY(std::optional<std::string>, temporaryFileDownloadPath, setTemporaryFileDownloadPath, std::nullopt)
  ZV_HTTP_PROPERTY(std::optional<std::string>, temporaryUncompressedDataDownloadPath,
                   setTemporaryUncompressedDataDownloadPath, std::nullopt)
  ZV_HTTP_PROPERTY(std::string, didStartSelector, setDidStartSelector, "requestStarted")
  ZV_HTTP_PROPERTY(std::string, didReceiveResponseHeadersSelector, setDidReceiveResponseHeadersSelector,
                   "requestDidReceiveResponseHeaders")
  ZV_HTTP_PROPERTY(std::string, willRedirectSelector, setWillRedirectSelector, "requestWillRedirectToURL")
  ZV_HTTP_PROPERTY(std::string, didFinishSelector, setDidFinishSelector, "requestFinished")
  ZV_HTTP_PROPERTY(std::string, didFailSelector, setDidFailSelector, "requestFailed")
  ZV_HTTP_PROPERTY(std::string, didReceiveDataSelector, setDidReceiveDataSelector, "requestDidReceiveData")
  ZV_HTTP_PROPERTY(std::optional<std::string>, authenticationRealm, setAuthenticationRealm, std::nullopt)
  ZV_HTTP_PROPERTY(std::optional<std::string>, proxyAuthenticationRealm, setProxyAuthenticationRealm, std::nullopt)
  ZV_HTTP_PROPERTY(Ref<Error>, error, setError, nullptr)
  ZV_HTTP_PROPERTY(bool, complete, setComplete, false)
  ZV_HTTP_PROPERTY(Ref<Dictionary>, responseHeaders, setResponseHeaders, nullptr)
  ZV_HTTP_PROPERTY(Ref<MutableDictionary>, requestHeaders, setRequestHeaders, nullptr)
  ZV_HTTP_PROPERTY(std::vector<Ref<net::HTTPCookie>>, requestCookies, setRequestCookies, {})
  ZV_HTTP_PROPERTY(std::vector<Ref<net::HTTPCookie>>, responseCookies, setResponseCookies, {})
  ZV_HTTP_PROPERTY(bool, useCookiePersistence, setUseCookiePersistence, true)
  ZV_HTTP_PROPERTY(Ref<Dictionary>, requestCredentials, setRequestCredentials, nullptr)
  ZV_HTTP_PROPERTY(Ref<Dictionary>, proxyCredentials, setProxyCredentials, nullptr)
  ZV_HTTP_PROPERTY(int, responseStatusCode, setResponseStatusCode, 0)
  ZV_HTTP_PROPERTY(std::optional<std::string>, responseStatusMessage, setResponseStatusMessage, std::nullopt)
  ZV_HTTP_PROPERTY(Ref<MutableData>, rawResponseData, setRawResponseData, nullptr)
  ZV_HTTP_PROPERTY(double, timeOutSeconds, setTimeOutSeconds, 10.0)
  ZV_HTTP_PROPERTY(std::string, requestMethod, setRequestMethod, "GET")
  ZV_HTTP_PROPERTY(Ref<MutableData>, postBody, setPostBody, nullptr)
  ZV_HTTP_PROPERTY(std::uint64_t, contentLength, setContentLength, 0)
  ZV_HTTP_PROPERTY(std::uint64_t, postLength, setPostLength, 0)
  ZV_HTTP_PROPERTY(bool, shouldResetDownloadProgress, setShouldResetDownloadProgress, true)
  ZV_HTTP_PROPERTY(bool, shouldResetUploadProgress, setShouldResetUploadProgress, true)
  ZV_HTTP_PROPERTY(WeakRef<HTTPRequest>, mainRequest, setMainRequest, {})
  ZV_HTTP_PROPERTY(bool, showAccurateProgress, setShowAccurateProgress, true)
  ZV_HTTP_PROPERTY(std::uint64_t, totalBytesRead, setTotalBytesRead, 0)
  ZV_HTTP_PROPERTY(std::uint64_t, totalBytesSent, setTotalBytesSent, 0)
  ZV_HTTP_PROPERTY(unsigned, defaultResponseEncoding, setDefaultResponseEncoding, kISOLatin1StringEncoding)
  ZV_HTTP_PROPERTY(unsigned, responseEncoding, setResponseEncoding, 0)
  ZV_HTTP_PROPERTY(bool, allowCompressedResponse, setAllowCompressedResponse, true)
  ZV_HTTP_PROPERTY(bool, allowResumeForFileDownloads, setAllowResumeForFileDownloads, false)
  ZV_HTTP_PROPERTY(Ref<Dictionary>, userInfo, setUserInfo, nullptr)
  ZV_HTTP_PROPERTY(std::optional<std::string>, postBodyFilePath, setPostBodyFilePath, std::nullopt)
  ZV_HTTP_PROPERTY(bool, shouldStreamPostDataFromDisk, setShouldStreamPostDataFromDisk, false)
  ZV_HTTP_PROPERTY(bool, didCreateTemporaryPostDataFile, setDidCreateTemporaryPostDataFile, false)
  ZV_HTTP_PROPERTY(bool, useHTTPVersionOne, setUseHTTPVersionOne, false)
  ZV_HTTP_PROPERTY(std::uint64_t, partialDownloadSize, setPartialDownloadSize, 0)
  ZV_HTTP_PROPERTY(bool, shouldRedirect, setShouldRedirect, true)
  ZV_HTTP_PROPERTY(bool, validatesSecureCertificate, setValidatesSecureCertificate, true)
  ZV_HTTP_PROPERTY(bool, shouldCompressRequestBody, setShouldCompressRequestBody, false)
  ZV_HTTP_PROPERTY(Ref<URL>, PACurl, setPACurl, nullptr)
  ZV_HTTP_PROPERTY(std::optional<std::string>, authenticationScheme, setAuthenticationScheme, std::nullopt)
  ZV_HTTP_PROPERTY(std::optional<std::string>, proxyAuthenticationScheme, setProxyAuthenticationScheme, std::nullopt)
  // The login dialog appears only where one is registered (HTTPAuthenticationPresenter) and the
  // application has a window; otherwise the request fails as when nobody can be asked.
  ZV_HTTP_PROPERTY(bool, shouldPresentAuthenticationDialog, setShouldPresentAuthenticationDialog, false)
  ZV_HTTP_PROPERTY(bool, shouldPresentProxyAuthenticationDialog, setShouldPresentProxyAuthenticationDialog, true)
  ZV_HTTP_PROPERTY(int, authenticationNeeded, setAuthenticationNeeded, 0)
  ZV_HTTP_PROPERTY(bool, shouldPresentCredentialsBeforeChallenge, setShouldPresentCredentialsBeforeChallenge, true)
  ZV_HTTP_PROPERTY(int, authenticationRetryCount, setAuthenticationRetryCount, 0)
  ZV_HTTP_PROPERTY(int, proxyAuthenticationRetryCount, setProxyAuthenticationRetryCount, 0)
  ZV_HTTP_PROPERTY(bool, haveBuiltRequestHeaders, setHaveBuiltRequestHeaders, false)
  ZV_HTTP_PROPERTY(bool, haveBuiltPostBody, setHaveBuiltPostBody, false)
  ZV_HTTP_PROPERTY(bool, inProgress, setInProgress, false)
  ZV_HTTP_PROPERTY(int, numberOfTimesToRetryOnTimeout, setNumberOfTimesToRetryOnTimeout, 0)
  ZV_HTTP_PROPERTY(int, retryCount, setRetryCount, 0)
  ZV_HTTP_PROPERTY(bool, shouldAttemptPersistentConnection, setShouldAttemptPersistentConnection, true)
  ZV_HTTP_PROPERTY(double, persistentConnectionTimeoutSeconds, setPersistentConnectionTimeoutSeconds, 60.0)
  ZV_HTTP_PROPERTY(bool, shouldUseRFC2616RedirectBehaviour, setShouldUseRFC2616RedirectBehaviour, false)
  ZV_HTTP_PROPERTY(bool, connectionCanBeReused, setConnectionCanBeReused, false)
  ZV_HTTP_PROPERTY(Ref<Number>, requestID, setRequestID, nullptr)
  ZV_HTTP_PROPERTY(Ref<HTTPCacheDelegate>, downloadCache, setDownloadCache, nullptr)
  ZV_HTTP_PROPERTY(int, cachePolicy, setCachePolicy, 0)
  ZV_HTTP_PROPERTY(int, cacheStoragePolicy, setCacheStoragePolicy, 0)
  ZV_HTTP_PROPERTY(bool, didUseCachedResponse, setDidUseCachedResponse, false)
  ZV_HTTP_PROPERTY(double, secondsToCache, setSecondsToCache, 0)
  ZV_HTTP_PROPERTY(std::vector<Ref<net::Certificate>>, clientCertificates, setClientCertificates, {})
  ZV_HTTP_PROPERTY(bool, shouldContinueWhenAppEntersBackground, setShouldContinueWhenAppEntersBackground, false)
  ZV_HTTP_PROPERTY(Ref<HTTPDataDecompressor>, dataDecompressor, setDataDecompressor, nullptr)
  ZV_HTTP_PROPERTY(bool, shouldWaitToInflateCompressedResponses, setShouldWaitToInflateCompressedResponses, true)
  // The most a body kept in memory may hold, inflated or as it came (0: no limit); beyond it the
  // request fails with code 11 at once. A fixed figure rather than a multiple of the compressed
  // size, as deflate itself allows a thousandfold; bodies that go to a file or to data callbacks
  // are not limited.
  ZV_HTTP_PROPERTY(std::uint64_t, maximumInflatedResponseSize, setMaximumInflatedResponseSize,
                   kDefaultMaximumInflatedResponseSize)
  ZV_HTTP_PROPERTY(Ref<Data>, compressedPostBody, setCompressedPostBody, nullptr)
  ZV_HTTP_PROPERTY(std::optional<std::string>, compressedPostBodyFilePath, setCompressedPostBodyFilePath, std::nullopt)
  ZV_HTTP_PROPERTY(bool, downloadComplete, setDownloadComplete, false)
  ZV_HTTP_PROPERTY(bool, needsRedirect, setNeedsRedirect, false)
  ZV_HTTP_PROPERTY(int, redirectCount, setRedirectCount, 0)
  ZV_HTTP_PROPERTY(Ref<URL>, redirectURL, setRedirectURL, nullptr)
  ZV_HTTP_PROPERTY(std::string, runLoopMode, setRunLoopMode, kDefaultRunLoopMode)
  // When the attempt last moved (bytes sent or read), in seconds of the monotonic clock
  // (Clock::current()->monotonic()), so that the time-out ignores changes of the wall clock;
  // nullopt while nothing is timed (waiting for credentials).
  ZV_HTTP_PROPERTY(std::optional<double>, lastActivityTime, setLastActivityTime, std::nullopt)
  ZV_HTTP_PROPERTY(std::uint64_t, uploadBufferSize, setUploadBufferSize, 0)

 public:
  // Stops the time-out clock (same as nullopt).
  void setLastActivityTime(std::nullptr_t) { setLastActivityTime(std::optional<double>()); }
  // Marks activity now.
  void touchActivity();

 private:
  ZV_HTTP_PROPERTY(std::uint64_t, lastBytesRead, setLastBytesRead, 0)
  ZV_HTTP_PROPERTY(std::uint64_t, lastBytesSent, setLastBytesSent, 0)
  ZV_HTTP_PROPERTY(bool, updatedProgress, setUpdatedProgress, false)
  ZV_HTTP_PROPERTY(bool, readStreamIsScheduled, setReadStreamIsScheduled, false)

 public:
  // --- Seams for request behaviour that lives beside this class (authentication, throttling,
  // progress accounting). The defaults keep a request working without them. ---
  // Adds the "Authorization" headers a request should send before any challenge.
  virtual void applyAuthorizationHeader();
  // After a 401 or 407: find or ask for credentials and run the attempt again.
  virtual void attemptToApplyCredentialsAndResume();
  // Pauses or resumes reading to keep within a bandwidth budget.
  virtual void performThrottling();
  virtual void updateProgressIndicators();
  virtual void incrementDownloadSizeBy(std::int64_t amount);
  virtual void incrementUploadSizeBy(std::int64_t amount);
  virtual void removeUploadProgressSoFar();

  // --- Progress accounting (HTTPRequestProgress.cpp). ---
  void updateUploadProgress();
  void updateDownloadProgress();
  // Sets a receiver's fraction to done / total on the main thread (when it has setProgress).
  // `which` names the receiver: the request's upload or download progress delegate.
  enum class ProgressReceiver { Upload, Download };
  void updateProgressIndicator(ProgressReceiver which, std::uint64_t done, std::uint64_t total);
  static void updateProgressIndicator(const ObjectPtr& receiver, std::uint64_t done, std::uint64_t total);
  // A HEAD copy that learns the sizes for this request and reports nothing itself.
  Ref<HTTPRequest> HEADRequest() const;

  // --- Bandwidth throttling (HTTPRequestThrottling.cpp). Class-wide, any thread. ---
  static bool isBandwidthThrottled();
  static unsigned long maxBandwidthPerSecond();
  static void setMaxBandwidthPerSecond(unsigned long bytes);
  static void incrementBandwidthUsedInLastSecond(unsigned long bytes);
  static unsigned long averageBandwidthUsedPerSecond();
  static unsigned long bandwidthUsedInLastSecond();
  static void measureBandwidthUsage();
  static unsigned long maxUploadReadLength();
  // Seconds of the monotonic clock (Clock::current()->monotonic()) until which streams stay
  // paused; nullopt when none.
  static std::optional<double> throttleResumeTime();
  static std::vector<unsigned long> bandwidthHistory();
  static void setShouldThrottleBandwidthForWWAN(bool flag);
  static void throttleBandwidthForWWANUsingLimit(unsigned long bytes);
  static bool isNetworkReachableViaWWAN();
  static void reachabilityChanged();
  // Forgets every bandwidth value (tests).
  static void resetBandwidthState();

  // --- Authentication (HTTPRequestAuthentication.cpp). ---
  void addBasicAuthenticationHeader(const std::string& username, const std::string& password);
  // Answers from the delegate or the dialog (any thread).
  void retryUsingSuppliedCredentials();
  void cancelAuthentication();
  Ref<net::HTTPAuthentication> requestAuthentication() const;
  Ref<net::HTTPAuthentication> proxyAuthentication() const;
  static std::vector<Ref<Dictionary>> sessionCredentialsStore();
  static std::vector<Ref<Dictionary>> sessionProxyCredentialsStore();
  static void storeAuthenticationCredentialsInSessionStore(const Ref<Dictionary>& record);
  static void storeProxyAuthenticationCredentialsInSessionStore(const Ref<Dictionary>& record);
  static void removeAuthenticationCredentialsFromSessionStore(const Ref<Dictionary>& credentials);
  static void removeProxyAuthenticationCredentialsFromSessionStore(const Ref<Dictionary>& credentials);
  static void clearSessionCredentials();
  static void clearProxySessionCredentials();
  static void saveCredentials(const Ref<Dictionary>& credentials, const std::string& host, int port,
                              const std::string& protocol, const std::optional<std::string>& realm);
  static void saveCredentialsForProxy(const Ref<Dictionary>& credentials, const std::string& host, int port,
                                      const std::optional<std::string>& realm);
  static Ref<Dictionary> savedCredentials(const std::string& host, int port, const std::string& protocol,
                                          const std::optional<std::string>& realm);
  static Ref<Dictionary> savedCredentialsForProxy(const std::string& host, int port,
                                                  const std::optional<std::string>& realm);
  static void removeCredentials(const std::string& host, int port, const std::string& protocol,
                                const std::optional<std::string>& realm);
  static void removeCredentialsForProxy(const std::string& host, int port, const std::optional<std::string>& realm);

 protected:
  // Runs `work` on the main thread, waiting only when already there.
  static void performOnMain(std::function<void()> work);
  // The body file and memory set-up shared by appendPostData and appendPostDataFromFile.
  void setupPostBody();
  // Copies the caller's settings onto a fresh copy (subclasses extend it).
  virtual void copySettingsTo(HTTPRequest& copy) const;
  // The request's fields as the caller set them: a copy without the "Cookie" field made here from
  // cookies (nullptr without fields).
  Ref<MutableDictionary> callerRequestHeaders() const;
  // A HEAD copy's first build: it asks what its request asks now, before either is redirected.
  void takeCallerFieldsOf(const HTTPRequest& main);
  // The download's size cannot be known ahead: showAccurateProgress goes off and the size grows by one.
  void noteUnknownDownloadSize();
  // A HEAD copy that became a GET has the head of the answer it ends on: it reads none of the
  // body, closes the connection and is finished.
  void finishHEADCopyAtHead();
  // Forgets a built body, so that it is built afresh at the start.
  void discardBuiltPostBody();
  // Whether the body can be built again from what the request keeps (a form's fields): then the
  // temporary body files go at the end of the request; otherwise they stay for copies until the
  // last request holding them is gone.
  virtual bool canRebuildPostBody() const { return false; }

  // Blocks, guarded by the property lock.
  struct Callbacks {
    Block started, completion, failure, authenticationNeeded, proxyAuthenticationNeeded, redirected;
    HeadersBlock headersReceived;
    ProgressBlock bytesReceived, bytesSent;
    SizeBlock downloadSizeIncremented, uploadSizeIncremented;
    DataBlock dataReceived;
  };
  // One callback, copied under the lock (copying them all for one would be wasteful).
  template <class Member>
  auto callback(Member Callbacks::*member) const {
    std::lock_guard<std::recursive_mutex> guard(propertyLock_);
    return callbacks_.*member;
  }
  void releaseBlocksOnMainThread();

  mutable std::recursive_mutex cancelledLock_;
  mutable std::recursive_mutex propertyLock_;

 private:
  friend class HTTPRequestAttempt;
  // Life cycle.
  void cancelOnRequestThread();
  void checkRequestStatus();
  void reportFinished();
  void reportFailure();
  // Sets the error unless the request has an outcome already (an error, or cancelled); YES when set.
  bool takeError(const Ref<Error>& error);
  void requestStartedEvent();
  void requestReceivedResponseHeaders(const Ref<Dictionary>& headers);
  void requestWillRedirectToURL(const Ref<URL>& url);
  void requestRedirectedEvent();
  void passOnReceivedData(const Ref<Data>& data);
  void performOnRequestThread(std::function<void()> work);
  void beginBackgroundTask();
  // Ends the background task if one is held; YES when there was one.
  bool endBackgroundTask();
  void startStatusTimer();
  void stopStatusTimer();
  // Sending.
  void startRequest();
  void continueStartRequest(std::optional<std::vector<net::ProxyServer>> proxies);
  bool configureProxy(const std::optional<std::vector<net::ProxyServer>>& proxies);
  void configurePersistentConnection();
  void scheduleReadStream();
  // A pause (throttling) keeps the stream's client for the resume; tearing down drops it.
  void unscheduleReadStream(bool keepClient = false);
  void destroyReadStream();
  void cancelLoad();
  bool retryUsingNewConnection();
  void updatePartialDownloadSize();
  bool removeTemporaryDownloadFile();
  bool removeTemporaryUncompressedDownloadFile();
  bool removeTemporaryUploadFile();
  bool removeTemporaryCompressedUploadFile();
  bool shouldTimeOut();
  // Throttling as the stream sees it: whether the resume time lies ahead, and a read size cut to
  // a quarter of what the period has left.
  static bool isThrottlePausing();
  static std::size_t throttledReadSize(std::size_t size);
  void releaseConnectionRecord(bool keepInPool);
  // Reading.
  void handleNetworkEvent(net::StreamEvent event);
  void handleBytesAvailable();
  void handleStreamComplete();
  void handleStreamError();
  void readResponseHeaders();
  void parseStringEncodingFromHeaders();
  // `ownerAgreed`: the delegate or queue chose to go on (redirectToURL), which lets a body go to
  // another origin (plain http after https included).
  void performRedirect(bool ownerAgreed = false);
  // Answers from the cache: from what the caller found stored, else from what the cache gives now.
  void useDataFromCache(const HTTPCacheDelegate::CachedAnswer* stored = nullptr);
  void storeResponseCookies();
  std::FILE* openDownloadFile(std::optional<std::string> path, const std::function<void(const std::string&)>& setPath);
  // false when the bytes could not be written; the request has then failed.
  bool writeDownloadBytes(const std::uint8_t* bytes, std::size_t length);
  bool writeInflatedDownloadBytes(const std::uint8_t* bytes, std::size_t length);
  void failDownloadWrite(const std::optional<std::string>& path, int errnoValue);
  void closeDownloadFiles();
  // Building the body: a failure to write its file or read a file appended to it is kept and fails
  // the request in buildPostBody, before anything is sent.
  void noteBodyBuildFailure(const char* action, const std::string& path, int errnoValue);
  bool writePostBodyBytes(const void* bytes, std::size_t length);

  WeakRef<Object> delegate_;
  Ref<HTTPRequestQueueDelegate> queue_;
  WeakRef<Object> uploadProgressDelegate_;
  WeakRef<Object> downloadProgressDelegate_;
  Callbacks callbacks_;
  Ref<URL> url_;
  Ref<net::ClientIdentity> clientIdentity_;
  bool finished_ = false;
  bool cancelled_ = false;
  BackgroundTaskIdentifier backgroundTask_ = kInvalidBackgroundTask;  // under the property lock

  // Attempt state, touched only on the request's thread (under cancelledLock_).
  Ref<net::HTTPMessage> request_;
  Ref<net::HTTPReadStream> readStream_;
  Ref<net::HTTPReadStream> oldStreamToClose_;
  Ref<net::InputStream> postBodyReadStream_;
  Ref<RunLoop> requestRunLoop_;
  Ref<Timer> statusTimer_;
  Ref<MutableDictionary> connectionInfo_;
  std::FILE* postBodyWriteStream_ = nullptr;
  Ref<Error> postBodyBuildError_;  // the first failure while building the body
  std::FILE* fileDownloadOutputStream_ = nullptr;
  std::FILE* inflatedFileDownloadOutputStream_ = nullptr;
  Ref<Data> inflatedResponse_;  // set when a wait-to-inflate body was checked at the end
  std::optional<net::ProxyServer> streamProxy_;
  bool cookieHeaderStale_ = false;
  // The "Cookie" value applyCookieHeader set (under the property lock), to tell it from the caller's.
  std::optional<std::string> madeCookieHeader_;
  // Cookies of the current attempt's answer, kept back until the attempt can no longer be retried.
  std::vector<Ref<net::HTTPCookie>> pendingResponseCookies_;
  Ref<URL> pendingResponseCookiesURL_;
  bool headersReceived_ = false;
  // Body bytes of this attempt went to data callbacks: the attempt cannot be repeated unseen.
  bool passedOnBodyBytes_ = false;
  // A HEAD copy told its request a size (known or not): its thread only.
  bool sizedMainRequest_ = false;
  // The temporary body files this request made, shared with its copies: each is removed when the
  // last request holding it is gone.
  std::shared_ptr<const std::string> bodyFileOwner_;
  std::shared_ptr<const std::string> compressedBodyFileOwner_;
  // The next attempt opens a connection of its own rather than take an idle pooled one.
  bool needsNewConnection_ = false;
  std::uint64_t attemptGeneration_ = 0;
  std::vector<std::uint8_t> readBuffer_;

  // Authentication (HTTPRequestAuthentication.cpp), on the request's thread.
  // Server or proxy: what answering a challenge reads and writes on each side.
  struct ChallengeSide;
  void answerChallenge(const ChallengeSide& side);
  bool applyCredentials(const ChallengeSide& side, const Ref<Dictionary>& credentials);
  Ref<MutableDictionary> findCredentials();
  Ref<MutableDictionary> findProxyCredentials();
  Ref<Dictionary> findSessionAuthenticationCredentials();
  Ref<Dictionary> findSessionProxyAuthenticationCredentials();
  // Hands the question to the delegate, queue or block, else the login dialog; false when none can answer.
  bool willAskForCredentials(const ChallengeSide& side);
  void askDelegateForCredentials(const ChallengeSide& side);
  void saveCredentialsToKeychain(const Ref<Dictionary>& credentials);
  void saveProxyCredentialsToKeychain(const Ref<Dictionary>& credentials);
  void failAuthentication();
  // Whether the caller's own credentials may go to the current URL (not after a redirect to
  // another origin, unless they were supplied for it).
  bool callerCredentialsApply() const;
  // The challenge answer the next step reads (kept once the stream is gone).
  Ref<net::HTTPMessage> challengeResponse(bool proxy);
  void waitForCredentials();
  void rememberPresentedCredentials();
  // A request that ends while the login dialog would answer it leaves the dialog's hands.
  void leaveAuthenticationDialog();

  Ref<net::HTTPAuthentication> requestAuthentication_;
  Ref<net::HTTPAuthentication> proxyAuthentication_;
  Ref<net::HTTPMessage> serverChallenge_;
  Ref<net::HTTPMessage> proxyChallenge_;
  bool suppliedCredentials_ = false;
  // The login dialog was asked for credentials and has not answered yet.
  std::atomic<bool> waitingOnDialog_{false};
  // The credentials applyAuthorizationHeader sent before any challenge (server, proxy).
  Ref<Dictionary> presentedCredentials_;
  Ref<Dictionary> presentedProxyCredentials_;
  // The origin the username and password fields are for: the one a delegate, callback or the
  // dialog answered a challenge of; nullptr for the caller's own (the original URL's origin).
  Ref<URL> credentialsOrigin_;  // under the property lock
  Ref<Timer> credentialWaitTimer_;
  // Resumes a stream that throttling paused, at the resume time rather than at the next tick of
  // the status timer.
  Ref<Timer> throttleResumeTimer_;
  void scheduleThrottleResume(double resumeTime);
};

}  // namespace zv

// The life of a request: creation, starting on the shared queue or synchronously, the status
// timer, cancelling, failing, finishing, and delivery of events to the main thread.

#include "http/HTTPRequest.h"

#include <mutex>
#include <vector>

#include "http/HTTPRequestShared.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/ForkHandlers.h"
#include "platform/foundation/Format.h"
#include "platform/foundation/Log.h"
#include "platform/runloop/DispatchQueue.h"
#include "platform/runloop/Perform.h"
#include "platform/runloop/RunLoopSource.h"

namespace zv {

namespace httpdetail {
RequestClassState& requestClassState() {
  static RequestClassState* state = new RequestClassState();  // lives as long as the process
  return *state;
}
}  // namespace httpdetail

using httpdetail::requestClassState;

namespace {

Ref<Error> sharedError(int code, const char* text) { return makeRequestError(code, text); }

// The delegate selectors a typed delegate answers directly; any other name goes through
// performSelector, as a selector stored in a property is data.
void callDelegate(const ObjectPtr& target, const std::string& selector, const Ref<HTTPRequest>& request,
                  const ObjectPtr& argument) {
  if (!target || selector.empty() || !target->respondsToSelector(selector)) return;
  if (auto typed = dyn<HTTPRequestDelegate>(target)) {
    if (selector == "requestStarted") return typed->requestStarted(request);
    if (selector == "requestDidReceiveResponseHeaders") {
      return typed->requestDidReceiveResponseHeaders(request, dyn<Dictionary>(argument));
    }
    if (selector == "requestWillRedirectToURL") return typed->requestWillRedirectToURL(request, dyn<URL>(argument));
    if (selector == "requestFinished") return typed->requestFinished(request);
    if (selector == "requestFailed") return typed->requestFailed(request);
    if (selector == "requestRedirected") return typed->requestRedirected(request);
    if (selector == "requestDidReceiveData") return typed->requestDidReceiveData(request, dyn<Data>(argument));
  }
  std::vector<ObjectPtr> arguments{request};
  if (argument) arguments.push_back(argument);
  target->performSelector(selector, arguments);
}

}  // namespace

// --- Shared errors, queue and thread. ---

Ref<Error> HTTPRequest::timedOutError() {
  static Ref<Error>& error = *new Ref<Error>(sharedError(RequestErrorTimedOut, "The request timed out"));
  return error;
}
Ref<Error> HTTPRequest::authenticationError() {
  static Ref<Error>& error = *new Ref<Error>(sharedError(RequestErrorAuthentication, "Authentication needed"));
  return error;
}
Ref<Error> HTTPRequest::cancelledError() {
  static Ref<Error>& error = *new Ref<Error>(sharedError(RequestErrorCancelled, "The request was cancelled"));
  return error;
}
Ref<Error> HTTPRequest::cannotCreateRequestError() {
  static Ref<Error>& error =
      *new Ref<Error>(sharedError(RequestErrorCannotCreateRequest, "Unable to create request (bad url?)"));
  return error;
}
Ref<Error> HTTPRequest::tooManyRedirectsError() {
  static Ref<Error>& error = *new Ref<Error>(
      sharedError(RequestErrorTooManyRedirects, "The request failed because it redirected too many times"));
  return error;
}

Ref<OperationQueue> HTTPRequest::sharedQueue() {
  static Ref<OperationQueue>& queue = *new Ref<OperationQueue>([] {
    auto q = OperationQueue::create();
    q->setMaxConcurrentOperationCount(4);
    q->setName("HTTPRequest shared queue");
    return q;
  }());
  return queue;
}

namespace {

// The process's network thread. Its loop never runs dry and never ends; markAsFinished only ends
// a turn. A child forked without exec does not have its parent's: its first request there makes
// one of its own (the parent's object is forgotten, not destroyed).
struct NetworkThreadSlot {
  ForkMutex lock{ForkLockLevel::NetworkThreadSlot};
  Ref<Thread> thread;
  unsigned generation = 0;
  std::vector<Ref<Thread>> forgotten;
};

NetworkThreadSlot& networkThreadSlot() {
  static NetworkThreadSlot& slot = *new NetworkThreadSlot;
  return slot;
}

// Made with the process, so no fork finds it half made.
[[maybe_unused]] const bool gNetworkThreadSlotMade = (networkThreadSlot(), true);

}  // namespace

Ref<Thread> HTTPRequest::threadForRequest(const Ref<HTTPRequest>&) {
  auto& slot = networkThreadSlot();
  std::lock_guard<ForkMutex> guard(slot.lock);
  if (!slot.thread || slot.generation != forkGeneration()) {
    if (slot.thread) slot.forgotten.push_back(std::move(slot.thread));
    slot.thread = Thread::startRunLoopThread("HTTPRequest network");
    slot.generation = forkGeneration();
  }
  return slot.thread;
}

// --- Creation. ---

HTTPRequest::HTTPRequest(Ref<URL> url) {
  timeOutSeconds_ = defaultTimeOutSeconds();
  downloadCache_ = defaultCache();
  url_ = std::move(url);
}

Ref<HTTPRequest> HTTPRequest::requestWithURL(Ref<URL> url) { return std::make_shared<HTTPRequest>(std::move(url)); }

Ref<HTTPRequest> HTTPRequest::requestWithURL(Ref<URL> url, Ref<HTTPCacheDelegate> cache, int policy) {
  auto request = requestWithURL(std::move(url));
  request->setDownloadCache(std::move(cache));
  request->setCachePolicy(policy);
  return request;
}

HTTPRequest::~HTTPRequest() {
  authenticationNeeded_ = 0;
  try {
    cancelLoad();
  } catch (...) {
  }
  if (statusTimer_) statusTimer_->invalidate();
  if (postBodyWriteStream_) std::fclose(postBodyWriteStream_);
  if (backgroundTask_ != kInvalidBackgroundTask) BackgroundTasks::shared().endBackgroundTask(backgroundTask_);
  // Whatever the callbacks captured is released on the main thread.
  auto blocks = std::make_shared<Callbacks>(std::move(callbacks_));
  if (!RunLoop::isMainThread()) performOnMainThread([blocks]() mutable { blocks.reset(); }, false);
}

// --- Accessors with locks. ---

ObjectPtr HTTPRequest::delegate() const {
  std::lock_guard<std::recursive_mutex> guard(propertyLock_);
  return delegate_.lock();
}
void HTTPRequest::setDelegate(const ObjectPtr& delegate) {
  std::lock_guard<std::recursive_mutex> guard(propertyLock_);
  delegate_ = delegate;
}
Ref<HTTPRequestQueueDelegate> HTTPRequest::queue() const {
  std::lock_guard<std::recursive_mutex> guard(propertyLock_);
  return queue_;
}
void HTTPRequest::setQueue(const Ref<HTTPRequestQueueDelegate>& queue) {
  std::lock_guard<std::recursive_mutex> guard(propertyLock_);
  queue_ = queue;
}
ObjectPtr HTTPRequest::uploadProgressDelegate() const {
  std::lock_guard<std::recursive_mutex> guard(propertyLock_);
  return uploadProgressDelegate_.lock();
}
void HTTPRequest::setUploadProgressDelegate(const ObjectPtr& receiver) {
  std::lock_guard<std::recursive_mutex> guard(propertyLock_);
  uploadProgressDelegate_ = receiver;
}
ObjectPtr HTTPRequest::downloadProgressDelegate() const {
  std::lock_guard<std::recursive_mutex> guard(propertyLock_);
  return downloadProgressDelegate_.lock();
}
void HTTPRequest::setDownloadProgressDelegate(const ObjectPtr& receiver) {
  std::lock_guard<std::recursive_mutex> guard(propertyLock_);
  downloadProgressDelegate_ = receiver;
}

#define ZV_HTTP_BLOCK_SETTER(Setter, Type, member)               \
  void HTTPRequest::Setter(Type block) {                         \
    std::lock_guard<std::recursive_mutex> guard(propertyLock_);  \
    callbacks_.member = std::move(block);                        \
  }
ZV_HTTP_BLOCK_SETTER(setStartedBlock, Block, started)
ZV_HTTP_BLOCK_SETTER(setHeadersReceivedBlock, HeadersBlock, headersReceived)
ZV_HTTP_BLOCK_SETTER(setCompletionBlock, Block, completion)
ZV_HTTP_BLOCK_SETTER(setFailedBlock, Block, failure)
ZV_HTTP_BLOCK_SETTER(setBytesReceivedBlock, ProgressBlock, bytesReceived)
ZV_HTTP_BLOCK_SETTER(setBytesSentBlock, ProgressBlock, bytesSent)
ZV_HTTP_BLOCK_SETTER(setDownloadSizeIncrementedBlock, SizeBlock, downloadSizeIncremented)
ZV_HTTP_BLOCK_SETTER(setUploadSizeIncrementedBlock, SizeBlock, uploadSizeIncremented)
ZV_HTTP_BLOCK_SETTER(setDataReceivedBlock, DataBlock, dataReceived)
ZV_HTTP_BLOCK_SETTER(setAuthenticationNeededBlock, Block, authenticationNeeded)
ZV_HTTP_BLOCK_SETTER(setProxyAuthenticationNeededBlock, Block, proxyAuthenticationNeeded)
ZV_HTTP_BLOCK_SETTER(setRequestRedirectedBlock, Block, redirected)
#undef ZV_HTTP_BLOCK_SETTER

void HTTPRequest::releaseBlocksOnMainThread() {
  auto blocks = std::make_shared<Callbacks>();
  {
    std::lock_guard<std::recursive_mutex> guard(propertyLock_);
    std::swap(*blocks, callbacks_);
  }
  performOnMain([blocks]() mutable { blocks.reset(); });
}

Ref<URL> HTTPRequest::url() const {
  std::lock_guard<std::recursive_mutex> guard(propertyLock_);
  return url_;
}

void HTTPRequest::setURL(const Ref<URL>& url) {
  std::lock_guard<std::recursive_mutex> lock(cancelledLock_);
  std::lock_guard<std::recursive_mutex> guard(propertyLock_);
  if (zv::isEqual(url, url_)) return;
  // Credentials that worked for one origin never go to another.
  if (url_ && url && !isSameOrigin(*url_, *url)) requestCredentials_ = nullptr;
  url_ = url;
  request_ = nullptr;
  redirectURL_ = nullptr;
  requestAuthentication_ = nullptr;
  proxyAuthentication_ = nullptr;
}

void HTTPRequest::setClientCertificateIdentity(const Ref<net::ClientIdentity>& identity) {
  std::lock_guard<std::recursive_mutex> guard(propertyLock_);
  clientIdentity_ = identity;
}
Ref<net::ClientIdentity> HTTPRequest::clientCertificateIdentity() const {
  std::lock_guard<std::recursive_mutex> guard(propertyLock_);
  return clientIdentity_;
}

bool HTTPRequest::isExecuting() const { return inProgress(); }
bool HTTPRequest::isFinished() const {
  std::lock_guard<std::recursive_mutex> guard(propertyLock_);
  return finished_;
}
bool HTTPRequest::isCancelled() const {
  std::lock_guard<std::recursive_mutex> lock(cancelledLock_);
  std::lock_guard<std::recursive_mutex> guard(propertyLock_);
  return cancelled_;
}

// --- Starting. ---

void HTTPRequest::startAsynchronous() { sharedQueue()->addOperation(selfAs<HTTPRequest>()); }

void HTTPRequest::start() {
  setInProgress(true);
  auto self = selfAs<HTTPRequest>();
  performOnThread(threadForRequest(self), [self] { self->main(); }, false, {kDefaultRunLoopMode});
}

void HTTPRequest::startSynchronous() {
  auto self = selfAs<HTTPRequest>();
  setRunLoopMode(kHTTPRequestRunLoopMode);
  setInProgress(true);
  if (!isCancelled() && !complete()) {
    auto loop = RunLoop::current();
    // Keeps the private mode from running dry while the request waits for a decision.
    auto keepAlive = RunLoopSource::create();
    loop->addSource(keepAlive, kHTTPRequestRunLoopMode);
    main();
    // Returns only once the request has finished or failed, never while it waits for a redirect
    // decision or credentials.
    while (!isFinished()) loop->runMode(kHTTPRequestRunLoopMode, 0.25, true);
    keepAlive->invalidate();
  }
  setInProgress(false);
}

void HTTPRequest::main() {
  auto self = selfAs<HTTPRequest>();
  std::lock_guard<std::recursive_mutex> lock(cancelledLock_);
  {
    std::lock_guard<std::recursive_mutex> guard(propertyLock_);
    requestRunLoop_ = RunLoop::current();
  }
  try {
    if (BackgroundTasks::shared().isMultitaskingSupported() && shouldContinueWhenAppEntersBackground()) {
      beginBackgroundTask();
    }
    if (error()) {
      setComplete(true);
      markAsFinished();
      return;
    }
    setComplete(false);
    setDidUseCachedResponse(false);
    if (!url()) {
      failWithError(cannotCreateRequestError());
      return;
    }
    auto main = mainRequest().lock();
    if (!main) buildPostBody();
    if (error()) return;
    if (requestMethod() != "GET") setDownloadCache(nullptr);
    request_ = net::HTTPMessage::makeRequest(requestMethod(), url(),
                                             useHTTPVersionOne() ? net::kHTTPVersion1_0 : net::kHTTPVersion1_1);
    if (!request_) {
      failWithError(cannotCreateRequestError());
      return;
    }
    if (main) main->buildRequestHeaders();
    buildRequestHeaders();
    // A redirect that kept its method carries the cookies of the new address, not the old one.
    if (cookieHeaderStale_) {
      cookieHeaderStale_ = false;
      applyCookieHeader();
    }
    if (auto cache = downloadCache()) {
      if (cachePolicy() == CachePolicyDefault) setCachePolicy(cache->defaultCachePolicy());
      HTTPCacheDelegate::CachedAnswer answer;
      if (cache->cachedAnswerForRequest(self, answer)) {
        useDataFromCache(&answer);
        return;
      }
      if (cachePolicy() & (CachePolicyRevalidateWhenStale | CachePolicyRevalidateAlways)) {
        if (auto headers = cache->cachedResponseHeadersForURL(url())) {
          if (auto etag = headers->stringForKey("Etag")) addRequestHeader("If-None-Match", *etag);
          if (auto modified = headers->stringForKey("Last-Modified")) addRequestHeader("If-Modified-Since", *modified);
        }
      }
    }
    applyAuthorizationHeader();
    if (auto headers = requestHeaders()) {
      headers->enumerate([&](const ObjectPtr& key, const ObjectPtr& value) {
        request_->setHeaderField(describe(key), describe(value));
        return true;
      });
    }
    startRequest();
  } catch (const Exception& exception) {
    auto underlyingInfo = MutableDictionary::make();
    if (exception.userInfo()) underlyingInfo->addEntriesFromDictionary(*exception.userInfo());
    auto info = MutableDictionary::make();
    info->setObject(box(exception.name()), kLocalizedDescriptionKey);
    info->setObject(box(exception.reason()), kLocalizedFailureReasonKey);
    info->setObject(Error::make(kHTTPRequestErrorDomain, RequestErrorUnhandledException, underlyingInfo),
                    kUnderlyingErrorKey);
    failWithError(Error::make(kHTTPRequestErrorDomain, RequestErrorUnhandledException, info));
  } catch (const std::exception& exception) {
    auto info = MutableDictionary::make();
    info->setObject(box("std::exception"), kLocalizedDescriptionKey);
    info->setObject(box(exception.what()), kLocalizedFailureReasonKey);
    info->setObject(Error::make(kHTTPRequestErrorDomain, RequestErrorUnhandledException), kUnderlyingErrorKey);
    failWithError(Error::make(kHTTPRequestErrorDomain, RequestErrorUnhandledException, info));
  }
}

// --- Background task. ---

void HTTPRequest::beginBackgroundTask() {
  std::lock_guard<std::recursive_mutex> guard(propertyLock_);
  // One task for the whole request, however many attempts and redirects it runs.
  if (backgroundTask_ != kInvalidBackgroundTask) return;
  WeakRef<HTTPRequest> weak = selfAs<HTTPRequest>();
  backgroundTask_ = BackgroundTasks::shared().beginBackgroundTask([weak] {
    DispatchQueue::mainQueue()->async([weak] {
      auto self = weak.lock();
      if (self && self->endBackgroundTask()) self->cancel();
    });
  });
}

bool HTTPRequest::endBackgroundTask() {
  BackgroundTaskIdentifier task;
  {
    std::lock_guard<std::recursive_mutex> guard(propertyLock_);
    task = backgroundTask_;
    backgroundTask_ = kInvalidBackgroundTask;
  }
  if (task == kInvalidBackgroundTask) return false;
  BackgroundTasks::shared().endBackgroundTask(task);
  return true;
}

// --- Running on the request's own loop. ---

void HTTPRequest::performOnRequestThread(std::function<void()> work) {
  Ref<RunLoop> loop;
  std::string mode;
  {
    std::lock_guard<std::recursive_mutex> guard(propertyLock_);
    loop = requestRunLoop_;
    mode = runLoopMode_;
  }
  // The request's loop is known once `main` has run, which sets it under the cancel lock: checked
  // under that lock, work that arrives where the request does not run (sent before a synchronous
  // start on another thread) follows it there.
  auto self = selfAs<HTTPRequest>();
  auto here = [self, work = std::move(work)]() mutable {
    std::unique_lock<std::recursive_mutex> lock(self->cancelledLock_);
    Ref<RunLoop> requestLoop;
    {
      std::lock_guard<std::recursive_mutex> guard(self->propertyLock_);
      requestLoop = self->requestRunLoop_;
    }
    if (requestLoop && !requestLoop->isCurrent()) {
      lock.unlock();
      self->performOnRequestThread(std::move(work));
      return;
    }
    work();
  };
  if (loop) {
    performOnRunLoop(loop, std::move(here), false, {mode, kRunLoopCommonModes});
  } else {
    // Not started on a loop yet: the network thread keeps it, also before that thread can run.
    performOnThread(threadForRequest(self), std::move(here), false, {mode, kRunLoopCommonModes});
  }
}

void HTTPRequest::cancel() {
  auto self = selfAs<HTTPRequest>();
  performOnRequestThread([self] { self->cancelOnRequestThread(); });
}

void HTTPRequest::clearDelegatesAndCancel() {
  {
    std::lock_guard<std::recursive_mutex> lock(cancelledLock_);
    std::lock_guard<std::recursive_mutex> guard(propertyLock_);
    delegate_.reset();
    queue_.reset();
    uploadProgressDelegate_.reset();
    downloadProgressDelegate_.reset();
  }
  releaseBlocksOnMainThread();
  cancel();
}

void HTTPRequest::cancelOnRequestThread() {
  auto self = selfAs<HTTPRequest>();
  std::lock_guard<std::recursive_mutex> lock(cancelledLock_);
  // A request that waits for a redirect decision or credentials is complete but can still be
  // cancelled; one that is over cannot.
  bool waiting = complete() && !isFinished() && (needsRedirect() || authenticationNeeded() != 0);
  if (cancelled_ || (complete() && !waiting)) return;
  failWithError(cancelledError());
  setComplete(true);
  cancelLoad();
  // The HEAD copy that sizes this request has nobody left to size for.
  for (const auto& dependency : dependencies()) {
    auto head = dyn<HTTPRequest>(dependency);
    if (head && head->mainRequest().lock() == self) head->cancel();
  }
  willChangeValueForKey("isCancelled");
  {
    std::lock_guard<std::recursive_mutex> guard(propertyLock_);
    cancelled_ = true;
  }
  didChangeValueForKey("isCancelled");
}

// --- Status timer. ---

void HTTPRequest::startStatusTimer() {
  stopStatusTimer();
  WeakRef<HTTPRequest> weak = selfAs<HTTPRequest>();
  statusTimer_ = Timer::create(0.25, true, [weak](Timer& timer) {
    auto self = weak.lock();
    if (!self) return timer.invalidate();
    self->checkRequestStatus();
    if (!self->inProgress()) timer.invalidate();
  });
  RunLoop::current()->addTimer(statusTimer_, runLoopMode());
}

void HTTPRequest::stopStatusTimer() {
  if (statusTimer_) statusTimer_->invalidate();
  statusTimer_ = nullptr;
}

void HTTPRequest::checkRequestStatus() {
  auto self = selfAs<HTTPRequest>();
  std::unique_lock<std::recursive_mutex> lock(cancelledLock_);
  if (isCancelled() || complete()) return;
  performThrottling();
  if (shouldTimeOut()) {
    // A body already handed to data callbacks cannot be taken back, so such an attempt is not
    // repeated.
    if (numberOfTimesToRetryOnTimeout() > retryCount() && !passedOnBodyBytes_) {
      updatePartialDownloadSize();
      setRetryCount(retryCount() + 1);
      // The stalled connection is of no further use.
      setConnectionCanBeReused(false);
      releaseConnectionRecord(false);
      destroyReadStream();
      if (partialDownloadSize() > 0 && request_) {
        request_->setHeaderField("Range", format("bytes=%llu-", static_cast<unsigned long long>(partialDownloadSize())));
      }
      startRequest();
      return;
    }
    failWithError(timedOutError());
    cancelLoad();
    setComplete(true);
    return;
  }
  if (readStream_) {
    if (postLength() != 0) {
      setLastBytesSent(totalBytesSent());
      std::uint64_t sent = readStream_->requestBodyBytesWritten();
      if (sent > totalBytesSent()) touchActivity();
      setTotalBytesSent(sent);
    }
    updateProgressIndicators();
  }
}

// --- Ending. ---

void HTTPRequest::failWithError(const Ref<Error>& theError) {
  auto self = selfAs<HTTPRequest>();
  leaveAuthenticationDialog();
  setComplete(true);
  // The request ends here, so what the last answer set stands.
  storeResponseCookies();
  if (theError && theError->code() != RequestErrorAuthentication && theError->code() != RequestErrorTooManyRedirects) {
    releaseConnectionRecord(false);
    destroyReadStream();
  }
  if (connectionCanBeReused() && connectionInfo_) {
    std::lock_guard<std::recursive_mutex> pool(requestClassState().connectionPoolLock);
    connectionInfo_->setObject(box(Clock::current()->monotonic() + persistentConnectionTimeoutSeconds()), "expires");
  }
  if (isCancelled() || error()) return;
  if (auto cache = downloadCache()) {
    if ((cachePolicy() & CachePolicyFallbackToCache) && cache->canUseCachedDataForRequest(self)) {
      useDataFromCache();
      return;
    }
  }
  Ref<HTTPRequest> reporter = self;
  setError(theError);
  if (auto main = mainRequest().lock()) {
    // A HEAD copy only sizes its request: when it cannot, the request goes on without the size,
    // as it would without a copy. A refused login is the exception: the request would meet the
    // same challenge (and whoever refused it would be asked again), so it fails with it, unless
    // it has an outcome already (it was cancelled while the copy ran): one request, one outcome.
    reporter = nullptr;
    if (theError && theError->code() == RequestErrorAuthentication) {
      if (main->takeError(theError)) reporter = main;
    } else if (!sizedMainRequest_ && showAccurateProgress() && shouldResetDownloadProgress() && !main->error() &&
               !main->isCancelled()) {
      main->noteUnknownDownloadSize();
    }
  }
  if (reporter) performOnMain([reporter] { reporter->reportFailure(); });
  if (inProgress()) markAsFinished();
}

bool HTTPRequest::takeError(const Ref<Error>& theError) {
  // The property lock alone: a HEAD copy calls this on its request while holding its own locks.
  std::lock_guard<std::recursive_mutex> guard(propertyLock_);
  if (error_ || cancelled_) return false;
  error_ = theError;
  return true;
}

void HTTPRequest::requestFinished() {
  if (error() || mainRequest().lock()) return;
  auto self = selfAs<HTTPRequest>();
  performOnMain([self] { self->reportFinished(); });
}

void HTTPRequest::markAsFinished() {
  auto self = selfAs<HTTPRequest>();
  bool wasFinished = isFinished();
  bool wasInProgress = inProgress();
  if (!wasFinished) willChangeValueForKey("isFinished");
  if (wasInProgress) willChangeValueForKey("isExecuting");
  {
    std::lock_guard<std::recursive_mutex> guard(propertyLock_);
    inProgress_ = false;
    finished_ = true;
  }
  if (wasInProgress) didChangeValueForKey("isExecuting");
  if (!wasFinished) didChangeValueForKey("isFinished");
  stopStatusTimer();
  RunLoop::current()->stop();
  BackgroundTaskIdentifier task;
  {
    std::lock_guard<std::recursive_mutex> guard(propertyLock_);
    task = backgroundTask_;
    backgroundTask_ = kInvalidBackgroundTask;
  }
  if (task != kInvalidBackgroundTask) {
    DispatchQueue::mainQueue()->async([task] { BackgroundTasks::shared().endBackgroundTask(task); });
  }
}

void HTTPRequest::redirectToURL(const Ref<URL>& newURL) {
  setRedirectURL(newURL);
  auto self = selfAs<HTTPRequest>();
  performOnRequestThread([self] {
    std::lock_guard<std::recursive_mutex> lock(self->cancelledLock_);
    if (self->isCancelled() || self->isFinished()) return;
    self->performRedirect(true);
  });
}

// --- Delivery on the main thread. ---

void HTTPRequest::performOnMain(std::function<void()> work) {
  if (RunLoop::isMainThread()) {
    work();
  } else {
    performOnMainThread(std::move(work), false);
  }
}

namespace {
// Whether anyone could hear an event: a delegate or queue (they answer through
// respondsToSelector on the main thread) or a callback. Events nobody hears are not sent.
bool anyoneListens(const HTTPRequest& request, bool hasCallback) {
  return hasCallback || request.delegate() || request.queue();
}
}  // namespace

void HTTPRequest::requestStartedEvent() {
  if (error() || mainRequest().lock()) return;
  if (!anyoneListens(*this, static_cast<bool>(callback(&Callbacks::started)))) return;
  auto self = selfAs<HTTPRequest>();
  performOnMain([self] {
    callDelegate(self->delegate(), self->didStartSelector(), self, nullptr);
    callDelegate(self->queue(), "requestStarted", self, nullptr);
    if (auto block = self->callback(&Callbacks::started)) block();
  });
}

void HTTPRequest::requestReceivedResponseHeaders(const Ref<Dictionary>& headers) {
  if (error() || mainRequest().lock()) return;
  if (!anyoneListens(*this, static_cast<bool>(callback(&Callbacks::headersReceived)))) return;
  auto self = selfAs<HTTPRequest>();
  performOnMain([self, headers] {
    callDelegate(self->delegate(), self->didReceiveResponseHeadersSelector(), self, headers);
    callDelegate(self->queue(), "requestDidReceiveResponseHeaders", self, headers);
    if (auto block = self->callback(&Callbacks::headersReceived)) block(headers);
  });
}

void HTTPRequest::requestWillRedirectToURL(const Ref<URL>& newURL) {
  if (error() || mainRequest().lock()) return;
  auto self = selfAs<HTTPRequest>();
  performOnMain([self, newURL] {
    callDelegate(self->delegate(), self->willRedirectSelector(), self, newURL);
    callDelegate(self->queue(), "requestWillRedirectToURL", self, newURL);
  });
}

void HTTPRequest::requestRedirectedEvent() {
  if (error() || mainRequest().lock()) return;
  auto self = selfAs<HTTPRequest>();
  performOnMain([self] {
    callDelegate(self->delegate(), "requestRedirected", self, nullptr);
    if (auto block = self->callback(&Callbacks::redirected)) block();
  });
}

void HTTPRequest::reportFinished() {
  auto self = selfAs<HTTPRequest>();
  callDelegate(delegate(), didFinishSelector(), self, nullptr);
  callDelegate(queue(), "requestFinished", self, nullptr);
  if (auto block = callback(&Callbacks::completion)) block();
}

void HTTPRequest::reportFailure() {
  auto self = selfAs<HTTPRequest>();
  callDelegate(delegate(), didFailSelector(), self, nullptr);
  callDelegate(queue(), "requestFailed", self, nullptr);
  if (auto block = callback(&Callbacks::failure)) block();
}

void HTTPRequest::passOnReceivedData(const Ref<Data>& data) {
  auto self = selfAs<HTTPRequest>();
  performOnMain([self, data] {
    callDelegate(self->delegate(), self->didReceiveDataSelector(), self, data);
    if (auto block = self->callback(&Callbacks::dataReceived)) block(data);
  });
}

}  // namespace zv

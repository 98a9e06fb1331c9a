#include "http/HTTPNetworkQueue.h"

#include "platform/foundation/Exception.h"
#include "platform/runloop/Perform.h"

namespace zv {

namespace {
// Adds a signed amount to an unsigned counter.
void add(std::atomic<std::uint64_t>& counter, std::int64_t amount) {
  counter.fetch_add(static_cast<std::uint64_t>(amount));
}
}  // namespace

HTTPNetworkQueue::HTTPNetworkQueue() : operations_(OperationQueue::create()) {
  operations_->setMaxConcurrentOperationCount(4);
  operations_->setSuspended(true);
  operations_->setName("HTTPNetworkQueue");
}

HTTPNetworkQueue::~HTTPNetworkQueue() {
  for (const auto& operation : operations_->operations()) {
    if (auto request = dyn<HTTPRequest>(operation)) request->setQueue(nullptr);
  }
}

Ref<HTTPNetworkQueue> HTTPNetworkQueue::queue() { return std::make_shared<HTTPNetworkQueue>(); }

// --- Platform queue. ---

void HTTPNetworkQueue::go() { setSuspended(false); }

void HTTPNetworkQueue::setSuspended(bool suspended) {
  operations_->setSuspended(suspended);
  if (!suspended && batchEndPending_) {
    auto self = selfAs<HTTPNetworkQueue>();
    performOnMainThread([self] { self->announcePendingBatchEnd(); }, false);
  }
}
bool HTTPNetworkQueue::isSuspended() const { return operations_->isSuspended(); }
void HTTPNetworkQueue::setMaxConcurrentOperationCount(int count) { operations_->setMaxConcurrentOperationCount(count); }
int HTTPNetworkQueue::maxConcurrentOperationCount() const { return operations_->maxConcurrentOperationCount(); }
std::vector<Ref<Operation>> HTTPNetworkQueue::operations() const { return operations_->operations(); }
std::size_t HTTPNetworkQueue::operationCount() const { return operations_->operationCount(); }
void HTTPNetworkQueue::waitUntilAllOperationsAreFinished() { operations_->waitUntilAllOperationsAreFinished(); }

void HTTPNetworkQueue::reset() {
  cancelAllOperations();
  {
    std::lock_guard<std::mutex> guard(lock_);
    delegate_.reset();
    uploadProgressDelegate_.reset();
    downloadProgressDelegate_.reset();
    didStart_.clear();
    didReceiveHeaders_.clear();
    didFail_.clear();
    didFinish_.clear();
    queueDidFinish_.clear();
  }
  setSuspended(true);
}

void HTTPNetworkQueue::cancelAllOperations() {
  bytesUploadedSoFar_ = 0;
  totalBytesToUpload_ = 0;
  bytesDownloadedSoFar_ = 0;
  totalBytesToDownload_ = 0;
  operations_->cancelAllOperations();
}

void HTTPNetworkQueue::addHEADOperation(const Ref<Operation>& operation) {
  auto request = dyn<HTTPRequest>(operation);
  if (!request) return;
  request->setRequestMethod("HEAD");
  request->setQueuePriority(10);
  request->setShowAccurateProgress(true);
  request->setQueue(selfAs<HTTPNetworkQueue>());
  operations_->addOperation(request);
}

void HTTPNetworkQueue::addOperation(const Ref<Operation>& operation) {
  auto request = dyn<HTTPRequest>(operation);
  if (!request) {
    Exception::raise(kAttemptToAddInvalidRequestException,
                     "Attempted to add an object that was not an HTTPRequest to an HTTPNetworkQueue");
  }
  // Refused before anything is counted or attached: a request belongs to one queue.
  if (request->hasStateObserver() || request->isExecuting() || request->isFinished()) {
    Exception::raise(kInvalidArgumentException, "operation is already enqueued on a queue, running or finished");
  }
  {
    std::lock_guard<std::mutex> guard(lock_);
    counted_.insert(request.get());
  }
  ++requestsCount_;
  auto self = selfAs<HTTPNetworkQueue>();
  // Attached first: a request whose body cannot be built fails right here, and reports to the queue.
  request->setQueue(self);
  if (showAccurateProgress()) {
    request->buildPostBody();
    if (request->requestMethod() == "GET" && isSuspended() && !request->error()) {
      auto head = request->HEADRequest();
      addHEADOperation(head);
      request->addDependency(head);
      if (request->shouldResetDownloadProgress()) {
        resetProgressReceiver(downloadProgressDelegate());
        request->setShouldResetDownloadProgress(false);
      }
    }
    requestIncrementUploadSizeBy(nullptr, static_cast<std::int64_t>(request->postLength()));
  } else {
    requestIncrementDownloadSizeBy(nullptr, 1);
    requestIncrementUploadSizeBy(nullptr, 1);
  }
  if (request->shouldResetUploadProgress()) {
    resetProgressReceiver(uploadProgressDelegate());
    request->setShouldResetUploadProgress(false);
  }
  request->setShowAccurateProgress(showAccurateProgress());
  try {
    operations_->addOperation(request);
  } catch (...) {
    // Another thread added it to a queue meanwhile: it is not this batch's.
    uncount(request);
    throw;
  }
}

void HTTPNetworkQueue::resetProgressReceiver(const ObjectPtr& receiver) {
  HTTPRequest::updateProgressIndicator(receiver, 0, 1);
}

// --- Settings. ---

#define ZV_QUEUE_WEAK(getter, setter, member)                  \
  ObjectPtr HTTPNetworkQueue::getter() const {                 \
    std::lock_guard<std::mutex> guard(lock_);                  \
    return member.lock();                                      \
  }
ZV_QUEUE_WEAK(delegate, setDelegate, delegate_)
ZV_QUEUE_WEAK(uploadProgressDelegate, setUploadProgressDelegate, uploadProgressDelegate_)
ZV_QUEUE_WEAK(downloadProgressDelegate, setDownloadProgressDelegate, downloadProgressDelegate_)
#undef ZV_QUEUE_WEAK

void HTTPNetworkQueue::setDelegate(const ObjectPtr& delegate) {
  std::lock_guard<std::mutex> guard(lock_);
  delegate_ = delegate;
}
void HTTPNetworkQueue::setUploadProgressDelegate(const ObjectPtr& receiver) {
  {
    std::lock_guard<std::mutex> guard(lock_);
    uploadProgressDelegate_ = receiver;
  }
  resetProgressReceiver(receiver);
}
void HTTPNetworkQueue::setDownloadProgressDelegate(const ObjectPtr& receiver) {
  {
    std::lock_guard<std::mutex> guard(lock_);
    downloadProgressDelegate_ = receiver;
  }
  resetProgressReceiver(receiver);
}

#define ZV_QUEUE_SELECTOR(getter, setter, member)              \
  std::string HTTPNetworkQueue::getter() const {               \
    std::lock_guard<std::mutex> guard(lock_);                  \
    return member;                                             \
  }                                                            \
  void HTTPNetworkQueue::setter(std::string selector) {        \
    std::lock_guard<std::mutex> guard(lock_);                  \
    member = std::move(selector);                              \
  }
ZV_QUEUE_SELECTOR(requestDidStartSelector, setRequestDidStartSelector, didStart_)
ZV_QUEUE_SELECTOR(requestDidReceiveResponseHeadersSelector, setRequestDidReceiveResponseHeadersSelector, didReceiveHeaders_)
ZV_QUEUE_SELECTOR(requestWillRedirectSelector, setRequestWillRedirectSelector, willRedirect_)
ZV_QUEUE_SELECTOR(requestDidFinishSelector, setRequestDidFinishSelector, didFinish_)
ZV_QUEUE_SELECTOR(requestDidFailSelector, setRequestDidFailSelector, didFail_)
ZV_QUEUE_SELECTOR(queueDidFinishSelector, setQueueDidFinishSelector, queueDidFinish_)
#undef ZV_QUEUE_SELECTOR

Ref<Dictionary> HTTPNetworkQueue::userInfo() const {
  std::lock_guard<std::mutex> guard(lock_);
  return userInfo_;
}
void HTTPNetworkQueue::setUserInfo(const Ref<Dictionary>& info) {
  std::lock_guard<std::mutex> guard(lock_);
  userInfo_ = info;
}

// --- Events. ---

void HTTPNetworkQueue::performOnDelegate(const std::string& selector, const std::vector<ObjectPtr>& arguments) {
  auto target = delegate();
  if (selector.empty() || !target || !target->respondsToSelector(selector)) return;
  target->performSelector(selector, arguments);
}

void HTTPNetworkQueue::requestStarted(const Ref<HTTPRequest>& request) {
  performOnDelegate(requestDidStartSelector(), {request});
}

void HTTPNetworkQueue::requestDidReceiveResponseHeaders(const Ref<HTTPRequest>& request, const Ref<Dictionary>& headers) {
  performOnDelegate(requestDidReceiveResponseHeadersSelector(), {request, headers});
}

void HTTPNetworkQueue::requestWillRedirectToURL(const Ref<HTTPRequest>& request, const Ref<URL>& url) {
  performOnDelegate(requestWillRedirectSelector(), {request, url});
}

void HTTPNetworkQueue::batchEnded() {
  if (requestsCount_ != 0) return;
  if (isSuspended()) {
    // Requests that failed as they were added (a body that cannot be built) end no batch that
    // has run: the end is announced when the queue runs.
    batchEndPending_ = true;
    return;
  }
  batchEndPending_ = false;
  performOnDelegate(queueDidFinishSelector(), {selfAs<HTTPNetworkQueue>()});
}

void HTTPNetworkQueue::announcePendingBatchEnd() {
  if (requestsCount_ == 0 && !isSuspended() && batchEndPending_.exchange(false)) {
    performOnDelegate(queueDidFinishSelector(), {selfAs<HTTPNetworkQueue>()});
  }
}

bool HTTPNetworkQueue::uncount(const Ref<HTTPRequest>& request) {
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (!request || counted_.erase(request.get()) == 0) return false;
  }
  --requestsCount_;
  return true;
}

void HTTPNetworkQueue::requestFinished(const Ref<HTTPRequest>& request) {
  if (!uncount(request)) return;
  performOnDelegate(requestDidFinishSelector(), {request});
  batchEnded();
}

void HTTPNetworkQueue::requestFailed(const Ref<HTTPRequest>& request) {
  if (!uncount(request)) return;
  performOnDelegate(requestDidFailSelector(), {request});
  batchEnded();
  if (shouldCancelAllRequestsOnFailure() && requestsCount_ > 0) cancelAllOperations();
}

void HTTPNetworkQueue::authenticationNeededForRequest(const Ref<HTTPRequest>& request) {
  auto target = delegate();
  if (!target || !target->respondsToSelector("authenticationNeededForRequest")) return;
  if (auto typed = dyn<HTTPRequestDelegate>(target)) return typed->authenticationNeededForRequest(request);
  target->performSelector("authenticationNeededForRequest", {request});
}

void HTTPNetworkQueue::proxyAuthenticationNeededForRequest(const Ref<HTTPRequest>& request) {
  auto target = delegate();
  if (!target || !target->respondsToSelector("proxyAuthenticationNeededForRequest")) return;
  if (auto typed = dyn<HTTPRequestDelegate>(target)) return typed->proxyAuthenticationNeededForRequest(request);
  target->performSelector("proxyAuthenticationNeededForRequest", {request});
}

// --- Progress. ---

void HTTPNetworkQueue::requestDidReceiveBytes(const Ref<HTTPRequest>&, std::int64_t bytes) {
  add(bytesDownloadedSoFar_, bytes);
  if (auto receiver = downloadProgressDelegate()) {
    HTTPRequest::updateProgressIndicator(receiver, bytesDownloadedSoFar_, totalBytesToDownload_);
  }
}

void HTTPNetworkQueue::requestDidSendBytes(const Ref<HTTPRequest>&, std::int64_t bytes) {
  add(bytesUploadedSoFar_, bytes);
  if (auto receiver = uploadProgressDelegate()) {
    HTTPRequest::updateProgressIndicator(receiver, bytesUploadedSoFar_, totalBytesToUpload_);
  }
}

void HTTPNetworkQueue::requestIncrementDownloadSizeBy(const Ref<HTTPRequest>&, std::int64_t bytes) {
  add(totalBytesToDownload_, bytes);
}

void HTTPNetworkQueue::requestIncrementUploadSizeBy(const Ref<HTTPRequest>&, std::int64_t bytes) {
  add(totalBytesToUpload_, bytes);
}

bool HTTPNetworkQueue::respondsToSelector(std::string_view selector) const {
  if (selector == "authenticationNeededForRequest" || selector == "proxyAuthenticationNeededForRequest") {
    auto target = delegate();
    return target && target->respondsToSelector(selector);
  }
  if (selector == "requestWillRedirectToURL") {
    auto name = requestWillRedirectSelector();
    auto target = delegate();
    return !name.empty() && target && target->respondsToSelector(name);
  }
  static const char* implemented[] = {"requestStarted", "requestDidReceiveResponseHeaders", "requestFinished",
                                      "requestFailed", "requestDidReceiveBytes", "requestDidSendBytes",
                                      "requestIncrementDownloadSizeBy", "requestIncrementUploadSizeBy"};
  for (const char* name : implemented) {
    if (selector == name) return true;
  }
  return Object::respondsToSelector(selector);
}

ObjectPtr HTTPNetworkQueue::copy() const {
  auto copy = std::make_shared<HTTPNetworkQueue>();
  std::lock_guard<std::mutex> guard(lock_);
  copy->delegate_ = delegate_;
  copy->uploadProgressDelegate_ = uploadProgressDelegate_;
  copy->downloadProgressDelegate_ = downloadProgressDelegate_;
  copy->didStart_ = didStart_;
  copy->didReceiveHeaders_ = didReceiveHeaders_;
  copy->willRedirect_ = willRedirect_;
  copy->didFinish_ = didFinish_;
  copy->didFail_ = didFail_;
  copy->queueDidFinish_ = queueDidFinish_;
  copy->shouldCancelAllRequestsOnFailure_ = shouldCancelAllRequestsOnFailure_.load();
  copy->showAccurateProgress_ = showAccurateProgress_.load();
  if (userInfo_) copy->userInfo_ = dyn<Dictionary>(userInfo_->copy());
  return copy;
}

}  // namespace zv

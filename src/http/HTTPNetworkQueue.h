#pragma once
// A batch of HTTP requests run at most four at a time. It counts the requests still open, adds
// their byte counts into one overall progress for an upload and a download progress receiver,
// forwards each request's events to one delegate through selectors the caller chooses, tells the
// delegate when the whole batch is done (the queue-finish selector, each time the count returns to
// 0 while the queue runs; a batch that ended while it was suspended is announced once it runs
// again), and by default cancels the rest of the batch when one request fails. Each request added
// is counted once and its first outcome uncounts it: a second report of one request is dropped,
// so the count never goes below 0.
//
// A new queue is suspended: nothing runs until go. With accurate progress on, each GET added while
// the queue is suspended is preceded by a HEAD copy that learns its size. The copy never holds a
// body: one that a 301, 302 or 303 turned into a GET stops at the head of the answer it ends on
// and closes that connection. A copy that learns no size (its connection fails, it times out)
// leaves its request to run without the size, counted as one unit; only a refused login fails
// the request, which would meet the same challenge.
//
// Selectors are data: a delegate answers them by respondsToSelector and performSelector with the
// request (and the headers or the new URL) as arguments.
//
// Threads: requests run on the network thread but report to the queue on the main thread, so the
// counting and the delegate calls happen there; counters are atomic and may be read anywhere.
// Adding, go, reset and cancelAllOperations may be called from any thread.
//
// Ownership: the delegate and the progress receivers are not retained; the queue retains its
// requests until they finish, and each request retains the queue while it reports to it.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_set>

#include "http/HTTPRequest.h"
#include "platform/runloop/OperationQueue.h"

namespace zv {

inline constexpr const char* kAttemptToAddInvalidRequestException = "AttemptToAddInvalidRequest";

class HTTPNetworkQueue : public HTTPRequestQueueDelegate {
 public:
  HTTPNetworkQueue();
  ~HTTPNetworkQueue() override;
  static Ref<HTTPNetworkQueue> queue();

  // --- The platform queue's part. ---
  void go();
  void setSuspended(bool suspended);
  bool isSuspended() const;
  void setMaxConcurrentOperationCount(int count);
  int maxConcurrentOperationCount() const;
  std::vector<Ref<Operation>> operations() const;
  std::size_t operationCount() const;
  void waitUntilAllOperationsAreFinished();
  // Cancels everything, forgets the delegate, receivers and selectors (the redirect selector
  // stays) and suspends the queue again.
  void reset();
  // Zeroes the four byte counters, then cancels every request.
  void cancelAllOperations();
  // Raises "AttemptToAddInvalidRequest" for anything that is not an HTTPRequest, and
  // "NSInvalidArgumentException" for a request that is in a queue already, running or finished,
  // before it is counted or attached to this queue.
  void addOperation(const Ref<Operation>& operation);
  // A HEAD request ahead of the others (anything else is ignored).
  void addHEADOperation(const Ref<Operation>& operation);

  // --- Settings. ---
  ObjectPtr delegate() const;
  void setDelegate(const ObjectPtr& delegate);
  ObjectPtr uploadProgressDelegate() const;
  void setUploadProgressDelegate(const ObjectPtr& receiver);
  ObjectPtr downloadProgressDelegate() const;
  void setDownloadProgressDelegate(const ObjectPtr& receiver);
  // Selector names ("" = not set).
  std::string requestDidStartSelector() const;
  void setRequestDidStartSelector(std::string selector);
  std::string requestDidReceiveResponseHeadersSelector() const;
  void setRequestDidReceiveResponseHeadersSelector(std::string selector);
  std::string requestWillRedirectSelector() const;
  void setRequestWillRedirectSelector(std::string selector);
  std::string requestDidFinishSelector() const;
  void setRequestDidFinishSelector(std::string selector);
  std::string requestDidFailSelector() const;
  void setRequestDidFailSelector(std::string selector);
  std::string queueDidFinishSelector() const;
  void setQueueDidFinishSelector(std::string selector);
  bool shouldCancelAllRequestsOnFailure() const { return shouldCancelAllRequestsOnFailure_; }
  void setShouldCancelAllRequestsOnFailure(bool flag) { shouldCancelAllRequestsOnFailure_ = flag; }
  bool showAccurateProgress() const { return showAccurateProgress_; }
  void setShowAccurateProgress(bool flag) { showAccurateProgress_ = flag; }
  Ref<Dictionary> userInfo() const;
  void setUserInfo(const Ref<Dictionary>& info);

  // --- Counters. ---
  int requestsCount() const { return requestsCount_; }
  std::uint64_t bytesUploadedSoFar() const { return bytesUploadedSoFar_; }
  std::uint64_t totalBytesToUpload() const { return totalBytesToUpload_; }
  std::uint64_t bytesDownloadedSoFar() const { return bytesDownloadedSoFar_; }
  std::uint64_t totalBytesToDownload() const { return totalBytesToDownload_; }

  // --- What the requests report (main thread). ---
  void requestStarted(const Ref<HTTPRequest>& request) override;
  void requestDidReceiveResponseHeaders(const Ref<HTTPRequest>& request, const Ref<Dictionary>& headers) override;
  void requestWillRedirectToURL(const Ref<HTTPRequest>& request, const Ref<URL>& url) override;
  void requestFinished(const Ref<HTTPRequest>& request) override;
  void requestFailed(const Ref<HTTPRequest>& request) override;
  void authenticationNeededForRequest(const Ref<HTTPRequest>& request) override;
  void proxyAuthenticationNeededForRequest(const Ref<HTTPRequest>& request) override;
  void requestDidReceiveBytes(const Ref<HTTPRequest>& request, std::int64_t bytes) override;
  void requestDidSendBytes(const Ref<HTTPRequest>& request, std::int64_t bytes) override;
  void requestIncrementDownloadSizeBy(const Ref<HTTPRequest>& request, std::int64_t bytes) override;
  void requestIncrementUploadSizeBy(const Ref<HTTPRequest>& request, std::int64_t bytes) override;

  bool respondsToSelector(std::string_view selector) const override;
  // A new suspended queue with the same delegate, selectors, receivers, flags and user info.
  ObjectPtr copy() const override;

 private:
  void performOnDelegate(const std::string& selector, const std::vector<ObjectPtr>& arguments);
  static void resetProgressReceiver(const ObjectPtr& receiver);
  void batchEnded();
  // Forgets a counted request; NO when it was not counted (a second report).
  bool uncount(const Ref<HTTPRequest>& request);
  void announcePendingBatchEnd();

  Ref<OperationQueue> operations_;
  mutable std::mutex lock_;
  WeakRef<Object> delegate_;
  WeakRef<Object> uploadProgressDelegate_;
  WeakRef<Object> downloadProgressDelegate_;
  std::string didStart_, didReceiveHeaders_, willRedirect_, didFinish_, didFail_, queueDidFinish_;
  Ref<Dictionary> userInfo_;
  std::atomic<bool> shouldCancelAllRequestsOnFailure_{true};
  std::atomic<bool> showAccurateProgress_{false};
  std::atomic<int> requestsCount_{0};
  std::unordered_set<const HTTPRequest*> counted_;  // under lock_
  std::atomic<bool> batchEndPending_{false};
  std::atomic<std::uint64_t> bytesUploadedSoFar_{0}, totalBytesToUpload_{0};
  std::atomic<std::uint64_t> bytesDownloadedSoFar_{0}, totalBytesToDownload_{0};
};

}  // namespace zv

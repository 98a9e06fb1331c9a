// Progress accounting: byte increments and expected sizes for the batch queue and the two
// progress receivers, fractions for plain progress bars, and the HEAD copy a queue sends first.
// Every report travels to the main thread and reads the receiver from the request's field there,
// so a receiver cleared in the meantime is not called.

#include "http/HTTPRequest.h"
#include "http/HTTPRequestShared.h"

namespace zv {

using httpdetail::requestClassState;

namespace {

enum class ProgressCall { ReceivedBytes, SentBytes, IncrementDownloadSize, IncrementUploadSize };

const char* selectorFor(ProgressCall call) {
  switch (call) {
    case ProgressCall::ReceivedBytes: return "requestDidReceiveBytes";
    case ProgressCall::SentBytes: return "requestDidSendBytes";
    case ProgressCall::IncrementDownloadSize: return "requestIncrementDownloadSizeBy";
    case ProgressCall::IncrementUploadSize: return "requestIncrementUploadSizeBy";
  }
  return "";
}

void callReceiver(const ObjectPtr& receiver, ProgressCall call, const Ref<HTTPRequest>& request, std::int64_t amount) {
  if (!receiver || !receiver->respondsToSelector(selectorFor(call))) return;
  auto typed = dyn<HTTPProgressDelegate>(receiver);
  if (!typed) {
    receiver->performSelector(selectorFor(call), {request, box(static_cast<long long>(amount))});
    return;
  }
  switch (call) {
    case ProgressCall::ReceivedBytes: return typed->requestDidReceiveBytes(request, amount);
    case ProgressCall::SentBytes: return typed->requestDidSendBytes(request, amount);
    case ProgressCall::IncrementDownloadSize: return typed->requestIncrementDownloadSizeBy(request, amount);
    case ProgressCall::IncrementUploadSize: return typed->requestIncrementUploadSizeBy(request, amount);
  }
}

void setReceiverProgress(const ObjectPtr& receiver, float fraction) {
  if (!receiver || !receiver->respondsToSelector("setProgress")) return;
  if (auto typed = dyn<HTTPProgressDelegate>(receiver)) {
    typed->setProgress(fraction);
  } else {
    receiver->performSelector("setProgress", {box(fraction)});
  }
}

float fractionOf(std::uint64_t done, std::uint64_t total) {
  if (total == 0) return 0.0f;  // nothing known yet
  return static_cast<float>(static_cast<double>(done) / static_cast<double>(total));
}

}  // namespace

// Tells the queue and one receiver (read from the request's fields on the main thread). With
// neither set when the event happens nothing is sent, so a request nobody watches does not wake
// the main thread for its progress.
#define ZV_PROGRESS_TO_QUEUE_AND(receiverGetter, call, amount)                           \
  do {                                                                                    \
    if (!queue() && !receiverGetter()) break;                                             \
    auto self_ = selfAs<HTTPRequest>();                                                   \
    std::int64_t amount_ = (amount);                                                      \
    performOnMain([self_, amount_] {                                                      \
      callReceiver(self_->queue(), call, self_, amount_);                                 \
      callReceiver(self_->receiverGetter(), call, self_, amount_);                        \
    });                                                                                   \
  } while (false)

void HTTPRequest::updateProgressIndicators() {
  if (mainRequest().lock()) return;
  if (showAccurateProgress() || (complete() && !updatedProgress())) {
    updateUploadProgress();
    updateDownloadProgress();
  }
}

void HTTPRequest::updateUploadProgress() {
  if (isCancelled() || totalBytesSent() == 0) return;
  std::uint64_t sent = totalBytesSent();
  std::uint64_t length = postLength();
  // The first reading below the body's size is what the platform buffered at once; it is left
  // out of both the total and the fraction.
  if (uploadBufferSize() == 0 && sent != length) {
    setUploadBufferSize(sent);
    incrementUploadSizeBy(-static_cast<std::int64_t>(sent));
  }
  std::int64_t amount = 0;
  if (showAccurateProgress()) {
    if (sent == length || lastBytesSent() != 0) {
      amount = static_cast<std::int64_t>(sent) - static_cast<std::int64_t>(lastBytesSent());
    }
  } else {
    amount = 1;
    setUpdatedProgress(true);
  }
  if (amount == 0) return;
  ZV_PROGRESS_TO_QUEUE_AND(uploadProgressDelegate, ProgressCall::SentBytes, amount);
  std::uint64_t buffer = uploadBufferSize();
  updateProgressIndicator(ProgressReceiver::Upload, sent - std::min(sent, buffer), length - std::min(length, buffer));
  if (auto block = callback(&Callbacks::bytesSent)) {
    performOnMain([block, amount, length] { block(static_cast<std::uint64_t>(amount), length); });
  }
}

void HTTPRequest::updateDownloadProgress() {
  if (!responseHeaders() || needsRedirect() || (contentLength() == 0 && !complete())) return;
  std::uint64_t sofar = totalBytesRead() + partialDownloadSize();
  std::int64_t amount;
  if (showAccurateProgress() && contentLength() != 0) {
    amount = static_cast<std::int64_t>(sofar) - static_cast<std::int64_t>(lastBytesRead());
  } else {
    amount = 1;
    setUpdatedProgress(true);
  }
  if (amount == 0) return;
  ZV_PROGRESS_TO_QUEUE_AND(downloadProgressDelegate, ProgressCall::ReceivedBytes, amount);
  std::uint64_t total = contentLength() + partialDownloadSize();
  updateProgressIndicator(ProgressReceiver::Download, sofar, total);
  if (auto block = callback(&Callbacks::bytesReceived)) {
    performOnMain([block, amount, total] { block(static_cast<std::uint64_t>(amount), total); });
  }
  setLastBytesRead(sofar);
}

void HTTPRequest::incrementDownloadSizeBy(std::int64_t amount) {
  ZV_PROGRESS_TO_QUEUE_AND(downloadProgressDelegate, ProgressCall::IncrementDownloadSize, amount);
  if (auto block = callback(&Callbacks::downloadSizeIncremented)) performOnMain([block, amount] { block(amount); });
}

void HTTPRequest::incrementUploadSizeBy(std::int64_t amount) {
  ZV_PROGRESS_TO_QUEUE_AND(uploadProgressDelegate, ProgressCall::IncrementUploadSize, amount);
  if (auto block = callback(&Callbacks::uploadSizeIncremented)) performOnMain([block, amount] { block(amount); });
}

void HTTPRequest::removeUploadProgressSoFar() {
  std::int64_t taken = -static_cast<std::int64_t>(totalBytesSent());
  ZV_PROGRESS_TO_QUEUE_AND(uploadProgressDelegate, ProgressCall::SentBytes, taken);
  updateProgressIndicator(ProgressReceiver::Upload, 0, postLength());
  if (auto block = callback(&Callbacks::bytesSent)) {
    std::uint64_t length = postLength();
    performOnMain([block, taken, length] { block(static_cast<std::uint64_t>(taken), length); });
  }
}

#undef ZV_PROGRESS_TO_QUEUE_AND

void HTTPRequest::updateProgressIndicator(ProgressReceiver which, std::uint64_t done, std::uint64_t total) {
  if (!(which == ProgressReceiver::Upload ? uploadProgressDelegate() : downloadProgressDelegate())) return;
  auto self = selfAs<HTTPRequest>();
  std::lock_guard<std::recursive_mutex> delivery(requestClassState().progressDeliveryLock);
  float fraction = fractionOf(done, total);
  performOnMain([self, which, fraction] {
    setReceiverProgress(which == ProgressReceiver::Upload ? self->uploadProgressDelegate()
                                                          : self->downloadProgressDelegate(),
                        fraction);
  });
}

void HTTPRequest::updateProgressIndicator(const ObjectPtr& receiver, std::uint64_t done, std::uint64_t total) {
  if (!receiver) return;
  std::lock_guard<std::recursive_mutex> delivery(requestClassState().progressDeliveryLock);
  float fraction = fractionOf(done, total);
  WeakRef<Object> weak = receiver;
  performOnMain([weak, fraction] { setReceiverProgress(weak.lock(), fraction); });
}

void httpdetail::removeBodyFields(MutableDictionary& headers) {
  std::vector<ObjectPtr> bodyFields;
  headers.enumerate([&](const ObjectPtr& key, const ObjectPtr&) {
    for (const char* name : {"Content-Length", "Content-Encoding", "Transfer-Encoding"}) {
      if (net::equalsIgnoringCase(describe(key), name)) bodyFields.push_back(key);
    }
    return true;
  });
  for (const auto& key : bodyFields) headers.removeObjectForKey(key);
}

Ref<HTTPRequest> HTTPRequest::HEADRequest() const {
  auto copy = dyn<HTTPRequest>(this->copy());
  copy->setRequestMethod("HEAD");
  copy->setMainRequest(selfAs<HTTPRequest>());
  // The copy learns sizes only; it has no body and no listeners of its own.
  copy->setPostBody(nullptr);
  copy->setPostBodyFilePath(std::nullopt);
  copy->setShouldStreamPostDataFromDisk(false);
  copy->setHaveBuiltPostBody(true);
  copy->setPostLength(0);
  copy->setShouldCompressRequestBody(false);
  copy->setCompressedPostBody(nullptr);
  copy->setCompressedPostBodyFilePath(std::nullopt);
  // Nor any field that describes a body (a built body left its length among the headers).
  if (auto headers = copy->requestHeaders()) httpdetail::removeBodyFields(*headers);
  copy->setDownloadDestinationPath(std::nullopt);
  copy->setDownloadCache(nullptr);
  copy->setDelegate(nullptr);
  copy->setQueue(nullptr);
  copy->setUploadProgressDelegate(nullptr);
  copy->setDownloadProgressDelegate(nullptr);
  copy->releaseBlocksOnMainThread();
  return copy;
}

}  // namespace zv

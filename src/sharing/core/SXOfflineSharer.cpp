#include "sharing/core/SXOfflineSharer.h"

#include <chrono>
#include <system_error>

#include "platform/foundation/ClassRegistry.h"
#include "platform/foundation/Log.h"
#include "platform/graphics/Image.h"
#include "platform/runloop/Perform.h"
#include "platform/storage/AtomicFile.h"
#include "sharing/core/SXOfflineQueue.h"

namespace zv {

Ref<SXOfflineSharer> SXOfflineSharer::initWithItem(Ref<SXItem> item, std::string sharerId, std::string uid,
                                                   Ref<Dictionary> itemDictionary) {
  return std::make_shared<SXOfflineSharer>(std::move(item), std::move(sharerId), std::move(uid),
                                           std::move(itemDictionary));
}

SXOfflineSharer::SXOfflineSharer(Ref<SXItem> item, std::string sharerId, std::string uid,
                                 Ref<Dictionary> itemDictionary)
    : item_(std::move(item)),
      sharerId_(std::move(sharerId)),
      uid_(std::move(uid)),
      itemDictionary_(std::move(itemDictionary)) {}

bool SXOfflineSharer::shouldRun() const { return !isCancelled() && !isFinished() && !readyToFinish(); }

void SXOfflineSharer::start() {
  Operation::start();
  // Cancelled before it started, or the entry was claimed elsewhere: this replay is not running.
  if (!started_.load()) SXOfflineQueue::endReplay(uid_, this, -1);
}

void SXOfflineSharer::main() {
  auto self = selfAs<SXOfflineSharer>();
  if (!shouldRun()) return;
  claim_ = SXOfflineQueue::beginReplay(uid_, self);
  if (claim_ < 0) return;
  started_.store(true);
  runLoop_ = RunLoop::current();
  // The source keeps the loop from running dry and is what lastSpin signals.
  wakeSource_ = RunLoopSource::create([] {});
  runLoop_->addSource(wakeSource_, kDefaultRunLoopMode);
  performOnMainThread([self] { self->share(); }, true);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(SXOfflineQueue::replayTimeout());
  while (shouldRun()) {
    auto left = std::chrono::duration<double>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) break;
    runLoop_->runMode(kDefaultRunLoopMode, std::min(left, 1.0), true);
  }
  wakeSource_->invalidate();
  if (!readyToFinish()) {
    // Cancelled, or no report yet: the send may still succeed, so nothing is counted now. The
    // replay stays the sharer's delegate and keeps its claim; the outcome is recorded when the
    // sharer reports.
    logInfo("SXOfflineQueue: no report yet from the replay of " + uid_ + "; it stays in flight");
  }
}

bool SXOfflineSharer::loadPayload() {
  // The list's copy of a picture is lossless (the payload file of an opaque one is a JPEG): it is
  // sent when it is there.
  if (item_->shareType == SXShareTypeImage && item_->image) return true;
  auto path = SXOfflineQueue::payloadPath(uid_);
  std::optional<std::string> bytes = path ? storage::readFile(*path) : std::nullopt;
  if (item_->shareType == SXShareTypeImage) {
    Ref<graphics::Image> image;
    if (bytes) image = graphics::Image::imageWithData(*Data::make(std::string_view(*bytes)));
    if (!image) return false;
    item_->image = image;
  } else if (item_->shareType == SXShareTypeFile) {
    Ref<Data> data = bytes ? Data::make(std::string_view(*bytes)) : nullptr;
    if (!data && itemDictionary_) {
      if (auto stored = dyn<Data>(itemDictionary_->objectForKey("data"))) {
        logError("SXOfflineQueue: the file payload of " + uid_ + " is missing; the stored copy is used");
        data = stored;
      }
    }
    if (!data) return false;
    item_->data = data;
  }
  return true;
}

void SXOfflineSharer::share() {
  const ClassInfo* info = classNamed(sharerId_);
  sharer_ = info ? dyn<SXSharer>(info->create()) : nullptr;
  if (!sharer_) return end(Outcome::Dropped, "no sharer class named " + sharerId_);
  sharer_->setItem(item_);
  sharer_->setQuiet(true);
  sharer_->setShareDelegate(selfAs<SXOfflineSharer>());
  if (!sharer_->isAuthorized()) return end(Outcome::Dropped, sharerId_ + " is not logged in");
  if (!loadPayload()) return end(Outcome::Dropped, "its payload is gone");
  SXOfflineQueue::noteReplayedItem(item_, uid_);
  if (!sharer_->tryToSend() && !readyToFinish()) end(Outcome::Failed, "the sharer refused the item");
}

void SXOfflineSharer::end(Outcome outcome, const std::string& reason) {
  if (ended_.exchange(true)) return;
  if (sharer_) sharer_->setShareDelegate(nullptr);
  auto keepAlive = selfAs<SXOfflineSharer>();  // the sharer may have held the last reference
  switch (outcome) {
    case Outcome::Finished:
      SXOfflineQueue::removeEntry(uid_);
      break;
    case Outcome::Dropped:
      logError("SXOfflineQueue: the share " + uid_ + " was dropped: " + reason);
      SXOfflineQueue::removeEntry(uid_);
      break;
    case Outcome::Failed:
      SXOfflineQueue::recordFailedAttempt(uid_, reason);
      break;
    case Outcome::Requeued:
    case Outcome::None:
      break;
  }
  SXOfflineQueue::endReplay(uid_, this, claim_);
  claim_ = -1;
  finish();
}

void SXOfflineSharer::finish() {
  readyToFinish_.store(true);
  lastSpin();
}

void SXOfflineSharer::lastSpin() {
  if (wakeSource_) wakeSource_->signal();
}

void SXOfflineSharer::requeued() {
  auto self = selfAs<SXOfflineSharer>();
  performOnMainThread([self] { self->end(Outcome::Requeued, "queued again"); }, false);
}

void SXOfflineSharer::sharerStartedSending(const Ref<SXSharer>&) {}
void SXOfflineSharer::sharerFinishedSending(const Ref<SXSharer>&) { end(Outcome::Finished, "finished"); }
void SXOfflineSharer::sharerFailedWithErrorShouldRelogin(const Ref<SXSharer>&, const Ref<Error>& error, bool) {
  end(Outcome::Failed, error ? error->localizedDescription() : "failed without an error");
}
void SXOfflineSharer::sharerCancelledSending(const Ref<SXSharer>&) { end(Outcome::Failed, "cancelled by the sharer"); }
void SXOfflineSharer::sharerShowBadCredentialsAlert(const Ref<SXSharer>&) {}
void SXOfflineSharer::sharerShowOtherAuthorizationErrorAlert(const Ref<SXSharer>&) {}

}  // namespace zv

#pragma once
// One replay of a queued share: an operation of the offline queue that makes the sharer on the
// main thread, gives it the item (with its payload), sends it quietly, and waits in its own run
// loop for the sharer's report, or for the replay time-out. It is the replaying sharer's delegate.
//
// Outcome: finished -> the entry leaves the list; failed, cancelled or refused at once -> a failed
// attempt (the entry stays queued up to the retry bound); an unknown sharer class, an
// unauthorized sharer or a payload that is gone for good -> dropped (entry and payload removed,
// logged); the sharer queueing the item again (offline again) -> the entry simply stays. No report
// before the time-out (or the operation cancelled): the operation ends but the replay stays in
// flight, holding its claim, until the sharer reports (see SXOfflineQueue).
//
// Threads: main() runs on an operation-queue thread; share() and every delegate call on the main
// thread. `readyToFinish` is atomic; the sharer is touched on the main thread only.
#include <atomic>
#include <string>
#include "platform/runloop/Operation.h"
#include "platform/runloop/RunLoop.h"
#include "platform/runloop/RunLoopSource.h"
#include "sharing/core/SXItem.h"
#include "sharing/core/SXSharer.h"

namespace zv {

class SXOfflineSharer : public Operation, public SXSharerDelegate {
 public:
  // `itemDictionary` is the stored dictionary form (it still holds the image, losslessly, which is
  // sent in preference to the payload file, and the file bytes, used when the payload file is
  // missing or unreadable).
  static Ref<SXOfflineSharer> initWithItem(Ref<SXItem> item, std::string sharerId, std::string uid,
                                           Ref<Dictionary> itemDictionary = nullptr);

  void start() override;
  void main() override;
  // On the main thread: makes the sharer and sends (see the class comment).
  void share();
  bool shouldRun() const;
  // Ends the wait of main() (any thread).
  void finish();
  // Wakes the operation's run loop so that it looks at shouldRun() again.
  void lastSpin();
  // The sharer queued this item again: the entry stays as it is and the replay ends.
  void requeued();

  // SXSharerDelegate.
  void sharerStartedSending(const Ref<SXSharer>& sharer) override;
  void sharerFinishedSending(const Ref<SXSharer>& sharer) override;
  void sharerFailedWithErrorShouldRelogin(const Ref<SXSharer>& sharer, const Ref<Error>& error, bool shouldRelogin) override;
  void sharerCancelledSending(const Ref<SXSharer>& sharer) override;
  void sharerShowBadCredentialsAlert(const Ref<SXSharer>& sharer) override;
  void sharerShowOtherAuthorizationErrorAlert(const Ref<SXSharer>& sharer) override;
  bool respondsToSelector(std::string_view selector) const override {
    return SXSharerDelegate::respondsToSelector(selector);
  }

  const Ref<SXItem>& item() const { return item_; }
  const std::string& sharerId() const { return sharerId_; }
  const std::string& uid() const { return uid_; }
  bool readyToFinish() const { return readyToFinish_.load(); }
  // Waiting to start, or started and its outcome not yet recorded (any thread).
  bool isReplaying() const { return !ended_.load() && (started_.load() || !isFinished()); }
  // Main thread only.
  const Ref<SXSharer>& sharer() const { return sharer_; }

  SXOfflineSharer(Ref<SXItem> item, std::string sharerId, std::string uid, Ref<Dictionary> itemDictionary);

 private:
  enum class Outcome { None, Finished, Failed, Dropped, Requeued };
  // Records the outcome once (main thread) and finishes.
  void end(Outcome outcome, const std::string& reason);
  bool loadPayload();

  Ref<SXItem> item_;
  std::string sharerId_;
  std::string uid_;
  Ref<Dictionary> itemDictionary_;
  std::atomic<bool> readyToFinish_{false};
  std::atomic<bool> ended_{false};
  std::atomic<bool> started_{false};  // main() claimed the entry and began the share
  int claim_ = -1;                     // the entry's claim (see SXOfflineQueue::beginReplay)
  Ref<RunLoop> runLoop_;
  Ref<RunLoopSource> wakeSource_;
  Ref<SXSharer> sharer_;
};

}  // namespace zv

#pragma once
// Sharers for the offline-queue tests.
//
// QueueReplaySharer posts the item's text as "text=<text>" to a loopback stand-in (POST
// <serviceURL>/share) and reports finished on 200, failed otherwise; it needs no login and can
// share offline. Its service address is process-wide (setServiceURL), so a replay in a child
// process reaches the test's server too.
//
// QueueProbeSharer does no I/O: it records every item it was asked to send and reports as the
// test scripted (finish, fail, never, or queue the item again), on the main thread.
//
// registerOfflineQueueTestSharers() registers both by name. Main thread (the sharers), any
// thread (the process-wide settings).
#include <mutex>
#include <string>
#include <vector>

#include "sharing/core/SXSharer.h"

namespace zv::testing {

class QueueReplaySharer : public SXSharer {
 public:
  static void setServiceURL(std::string url);
  std::string sharerTitle() const override { return "Queue Replay"; }
  bool canShareText() const override { return true; }
  bool requiresAuthentication() const override { return false; }
  bool send() override;
};

class QueueProbeSharer : public SXSharer {
 public:
  enum class Script { Finish, Fail, Never, QueueAgain };
  static void setScript(Script script);
  static void setAuthorized(bool authorized);
  // The items sent so far (copies of text, type, and whether an image or data came with them).
  struct Sent {
    std::string text;
    std::int32_t shareType = 0;
    int imageWidth = 0;
    std::vector<std::uint8_t> imagePixels;  // RGBA
    std::string data;
  };
  static std::vector<Sent> sent();
  // The probes that have not reported yet report now: finished or failed (main thread).
  static void reportLate(bool finished);
  // Forgets what was sent and ends the probes that never reported (main thread).
  static void reset();

  std::string sharerTitle() const override { return "Queue Probe"; }
  bool canShareText() const override { return true; }
  bool canShareImage() const override { return true; }
  bool canShareFile() const override { return true; }
  bool requiresAuthentication() const override;
  bool isAuthorized() override;
  bool send() override;

 private:
  void remember();
};

void registerOfflineQueueTestSharers();

}  // namespace zv::testing

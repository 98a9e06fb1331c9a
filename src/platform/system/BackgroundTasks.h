#pragma once
// Time to finish work after the application has left the foreground, as the host platform grants
// it: a piece of work begins a background task (with a handler for the moment its time runs out)
// and ends it when it is done. The service also holds whether the application is in the
// background; the user interface's Application sets that as it enters the background or the
// foreground, and tests may set it directly. Nothing here suspends anything or measures time: the
// time of every running task runs out when expireBackgroundTasks is called (by the application's
// stand-in, or by a test).
//
// Threads: every call may come from any thread. Expiration handlers run on the thread that calls
// expireBackgroundTasks (the main thread, as the platform's do), without the service's lock held,
// so a handler may end its task or begin another.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>
#include "platform/foundation/ForkHandlers.h"

namespace zv {

using BackgroundTaskIdentifier = std::uint64_t;
// What beginBackgroundTask never returns: "no task".
inline constexpr BackgroundTaskIdentifier kInvalidBackgroundTask = 0;

class BackgroundTasks {
 public:
  static BackgroundTasks& shared();

  // Whether work may go on in the background at all (this platform always allows it).
  bool isMultitaskingSupported() const { return true; }

  // Starts a task; `expirationHandler` (may be empty) runs if the task is still running when its
  // time runs out. Identifiers are never reused.
  BackgroundTaskIdentifier beginBackgroundTask(std::function<void()> expirationHandler);
  // Ends a task; an identifier that is invalid, unknown or already ended is ignored.
  void endBackgroundTask(BackgroundTaskIdentifier identifier);
  std::size_t runningTaskCount() const;
  bool isRunning(BackgroundTaskIdentifier identifier) const;

  bool isInBackground() const;
  void setInBackground(bool inBackground);

  // The time of every running task runs out: each one's handler is called once, in the order
  // the tasks began. A task whose handler does not end it keeps running (the platform would end
  // the process).
  void expireBackgroundTasks();

  // No tasks, in the foreground (tests).
  void reset();

 private:
  struct Task {
    BackgroundTaskIdentifier identifier;
    std::function<void()> expirationHandler;
    bool expired = false;
  };
  BackgroundTasks() = default;

  mutable ForkMutex mutex_{ForkLockLevel::BackgroundTasks};
  std::vector<Task> tasks_;
  BackgroundTaskIdentifier lastIdentifier_ = kInvalidBackgroundTask;
  bool inBackground_ = false;
};

}  // namespace zv

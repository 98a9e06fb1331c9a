#include "platform/system/BackgroundTasks.h"

#include <algorithm>

namespace zv {

BackgroundTasks& BackgroundTasks::shared() {
  static BackgroundTasks* tasks = new BackgroundTasks();  // lives as long as the process
  return *tasks;
}

namespace {
// Made before main: a fork never finds it half made.
[[maybe_unused]] const bool gBackgroundTasksMade = (BackgroundTasks::shared(), true);
}  // namespace

BackgroundTaskIdentifier BackgroundTasks::beginBackgroundTask(std::function<void()> expirationHandler) {
  std::lock_guard lock(mutex_);
  tasks_.push_back(Task{++lastIdentifier_, std::move(expirationHandler)});
  return lastIdentifier_;
}

void BackgroundTasks::endBackgroundTask(BackgroundTaskIdentifier identifier) {
  std::function<void()> released;
  {
    std::lock_guard lock(mutex_);
    auto found = std::find_if(tasks_.begin(), tasks_.end(), [&](const Task& t) { return t.identifier == identifier; });
    if (found == tasks_.end()) return;
    // Whatever the handler holds is let go outside the lock.
    released = std::move(found->expirationHandler);
    tasks_.erase(found);
  }
}

std::size_t BackgroundTasks::runningTaskCount() const {
  std::lock_guard lock(mutex_);
  return tasks_.size();
}

bool BackgroundTasks::isRunning(BackgroundTaskIdentifier identifier) const {
  std::lock_guard lock(mutex_);
  return std::any_of(tasks_.begin(), tasks_.end(), [&](const Task& t) { return t.identifier == identifier; });
}

bool BackgroundTasks::isInBackground() const {
  std::lock_guard lock(mutex_);
  return inBackground_;
}

void BackgroundTasks::setInBackground(bool inBackground) {
  std::lock_guard lock(mutex_);
  inBackground_ = inBackground;
}

void BackgroundTasks::expireBackgroundTasks() {
  std::vector<std::pair<BackgroundTaskIdentifier, std::function<void()>>> due;
  {
    std::lock_guard lock(mutex_);
    for (auto& task : tasks_) {
      if (task.expired) continue;
      task.expired = true;
      due.emplace_back(task.identifier, task.expirationHandler);
    }
  }
  for (auto& [identifier, handler] : due) {
    // A handler run earlier in this round may have ended this task.
    if (handler && isRunning(identifier)) handler();
  }
}

void BackgroundTasks::reset() {
  std::vector<Task> released;
  {
    std::lock_guard lock(mutex_);
    released.swap(tasks_);
    inBackground_ = false;
  }
}

}  // namespace zv

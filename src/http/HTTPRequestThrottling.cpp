// Bandwidth throttling: one-second measurement periods of the bytes all requests read and send,
// a short history whose mean is the average, a resume time that pauses every stream when a period
// goes over the limit, and the cellular mode that applies the limit only on the cellular network.
// All values live under one non-recursive lock, always taken before the connection-pool lock.

#include <algorithm>
#include <deque>

#include "http/HTTPRequest.h"
#include "http/HTTPRequestShared.h"
#include "http/Reachability.h"
#include "platform/foundation/Clock.h"
#include "platform/system/NotificationCenter.h"

namespace zv {

namespace {

struct BandwidthState {
  std::mutex lock;
  unsigned long maxBandwidthPerSecond = 0;
  unsigned long bandwidthUsedInLastSecond = 0;
  std::deque<unsigned long> history;
  unsigned long averageBandwidthUsedPerSecond = 0;
  std::optional<double> measurementPeriodEnd;
  std::optional<double> throttleResumeTime;
  bool onCellularNetwork = false;
  bool throttleOnlyOnCellular = false;
};

BandwidthState& bandwidth() {
  static BandwidthState* state = new BandwidthState();  // lives as long as the process
  return *state;
}

// The cellular-mode notifier; touched only by the thread that switches the mode.
struct CellularWatch {
  std::mutex lock;
  Ref<Reachability> reachability;
  ObjectPtr observer;
};

CellularWatch& cellularWatch() {
  static CellularWatch* watch = new CellularWatch();
  return *watch;
}

// Periods and pauses are intervals: measured on the monotonic clock, whatever the wall clock does.
double now() { return Clock::current()->monotonic(); }

// A limit of 0 means none, in cellular mode too.
bool throttledLocked(const BandwidthState& state) {
  if (state.maxBandwidthPerSecond == 0) return false;
  return state.onCellularNetwork || !state.throttleOnlyOnCellular;
}

// Closes the current period (lock held).
void recordBandwidthUsageLocked(BandwidthState& state) {
  if (state.bandwidthUsedInLastSecond == 0) {
    state.history.clear();
  } else {
    double t = state.measurementPeriodEnd ? *state.measurementPeriodEnd - now() : 0;
    while (!state.history.empty() && (t < 0 || state.history.size() >= 6)) {
      state.history.pop_front();
      t += 1;
    }
  }
  state.history.push_back(state.bandwidthUsedInLastSecond);
  state.measurementPeriodEnd = now() + 1.0;
  state.bandwidthUsedInLastSecond = 0;
  unsigned long sum = 0;
  for (unsigned long count : state.history) sum += count;
  state.averageBandwidthUsedPerSecond = sum / state.history.size();
}

void measureLocked(BandwidthState& state) {
  if (!state.measurementPeriodEnd || *state.measurementPeriodEnd < now()) recordBandwidthUsageLocked(state);
  if (!throttledLocked(state)) return;
  // Compared unsigned: any limit, however large, is a limit (one no reading reaches never pauses).
  if (state.bandwidthUsedInLastSecond > state.maxBandwidthPerSecond) {
    unsigned long excess = state.bandwidthUsedInLastSecond - state.maxBandwidthPerSecond;
    state.throttleResumeTime =
        *state.measurementPeriodEnd + static_cast<double>(excess) / static_cast<double>(state.maxBandwidthPerSecond);
  }
}

}  // namespace

bool HTTPRequest::isBandwidthThrottled() {
  auto& state = bandwidth();
  std::lock_guard<std::mutex> guard(state.lock);
  return throttledLocked(state);
}

unsigned long HTTPRequest::maxBandwidthPerSecond() {
  auto& state = bandwidth();
  std::lock_guard<std::mutex> guard(state.lock);
  return state.maxBandwidthPerSecond;
}

void HTTPRequest::setMaxBandwidthPerSecond(unsigned long bytes) {
  auto& state = bandwidth();
  std::lock_guard<std::mutex> guard(state.lock);
  state.maxBandwidthPerSecond = bytes;
}

void HTTPRequest::incrementBandwidthUsedInLastSecond(unsigned long bytes) {
  auto& state = bandwidth();
  std::lock_guard<std::mutex> guard(state.lock);
  state.bandwidthUsedInLastSecond += bytes;
}

unsigned long HTTPRequest::averageBandwidthUsedPerSecond() {
  auto& state = bandwidth();
  std::lock_guard<std::mutex> guard(state.lock);
  return state.averageBandwidthUsedPerSecond;
}

unsigned long HTTPRequest::bandwidthUsedInLastSecond() {
  auto& state = bandwidth();
  std::lock_guard<std::mutex> guard(state.lock);
  return state.bandwidthUsedInLastSecond;
}

std::optional<double> HTTPRequest::throttleResumeTime() {
  auto& state = bandwidth();
  std::lock_guard<std::mutex> guard(state.lock);
  return state.throttleResumeTime;
}

std::vector<unsigned long> HTTPRequest::bandwidthHistory() {
  auto& state = bandwidth();
  std::lock_guard<std::mutex> guard(state.lock);
  return {state.history.begin(), state.history.end()};
}

void HTTPRequest::measureBandwidthUsage() {
  auto& state = bandwidth();
  std::lock_guard<std::mutex> guard(state.lock);
  measureLocked(state);
}

unsigned long HTTPRequest::maxUploadReadLength() {
  auto& state = bandwidth();
  std::lock_guard<std::mutex> guard(state.lock);
  unsigned long budget = state.maxBandwidthPerSecond / 4;
  if (state.maxBandwidthPerSecond != 0) {
    unsigned long left = state.bandwidthUsedInLastSecond >= state.maxBandwidthPerSecond
                             ? 0
                             : state.maxBandwidthPerSecond - state.bandwidthUsedInLastSecond;
    budget = std::min(budget, left);
  }
  if (budget == 0 || !state.measurementPeriodEnd || *state.measurementPeriodEnd < now()) {
    state.throttleResumeTime = state.measurementPeriodEnd;
  }
  return budget;
}

void HTTPRequest::performThrottling() {
  if (!readStream_) return;
  std::optional<double> pausedUntil;
  {
    auto& state = bandwidth();
    std::lock_guard<std::mutex> guard(state.lock);
    measureLocked(state);
    if (throttledLocked(state)) {
      if (state.throttleResumeTime) {
        if (*state.throttleResumeTime > now()) {
          if (readStreamIsScheduled()) unscheduleReadStream(true);
          pausedUntil = state.throttleResumeTime;
        } else if (!readStreamIsScheduled()) {
          scheduleReadStream();
        }
      }
    } else if (!readStreamIsScheduled()) {
      scheduleReadStream();
    }
  }
  if (pausedUntil) scheduleThrottleResume(*pausedUntil);
}

void HTTPRequest::scheduleThrottleResume(double resumeTime) {
  if (throttleResumeTimer_ && throttleResumeTimer_->isValid()) return;
  WeakRef<HTTPRequest> weak = selfAs<HTTPRequest>();
  throttleResumeTimer_ = Timer::create(std::max(0.0, resumeTime - now()) + 0.001, false, [weak](Timer&) {
    auto self = weak.lock();
    if (!self) return;
    std::lock_guard<std::recursive_mutex> lock(self->cancelledLock_);
    self->throttleResumeTimer_ = nullptr;
    if (self->complete() || self->isCancelled()) return;
    self->performThrottling();
  });
  RunLoop::current()->addTimer(throttleResumeTimer_, runLoopMode());
}

bool HTTPRequest::isThrottlePausing() {
  auto& state = bandwidth();
  std::lock_guard<std::mutex> guard(state.lock);
  return throttledLocked(state) && state.throttleResumeTime && *state.throttleResumeTime > now();
}

std::size_t HTTPRequest::throttledReadSize(std::size_t size) {
  auto& state = bandwidth();
  std::lock_guard<std::mutex> guard(state.lock);
  if (!throttledLocked(state)) return size;
  if (state.bandwidthUsedInLastSecond > state.maxBandwidthPerSecond) return 1;
  unsigned long quarter = (state.maxBandwidthPerSecond - state.bandwidthUsedInLastSecond) / 4;
  if (quarter < size) size = static_cast<std::size_t>(quarter);
  return size < 1 ? 1 : size;
}

bool HTTPRequest::isNetworkReachableViaWWAN() {
  auto reachability = Reachability::reachabilityForInternetConnection();
  return reachability && reachability->currentReachabilityStatus() == ReachabilityStatusWWAN;
}

void HTTPRequest::reachabilityChanged() {
  bool cellular = isNetworkReachableViaWWAN();
  auto& state = bandwidth();
  std::lock_guard<std::mutex> guard(state.lock);
  state.onCellularNetwork = cellular;
}

void HTTPRequest::throttleBandwidthForWWANUsingLimit(unsigned long bytes) {
  {
    auto& state = bandwidth();
    std::lock_guard<std::mutex> guard(state.lock);
    state.throttleOnlyOnCellular = true;
    state.maxBandwidthPerSecond = bytes;
  }
  auto& watch = cellularWatch();
  {
    std::lock_guard<std::mutex> guard(watch.lock);
    if (!watch.reachability) {
      watch.reachability = Reachability::reachabilityForInternetConnection();
      if (watch.reachability) watch.reachability->startNotifier();
      watch.observer = NotificationCenter::defaultCenter()->addObserverForName(
          kReachabilityChangedNotification, nullptr, [](const Ref<Notification>&) { reachabilityChanged(); });
    }
  }
  reachabilityChanged();
}

void HTTPRequest::setShouldThrottleBandwidthForWWAN(bool flag) {
  if (flag) {
    throttleBandwidthForWWANUsingLimit(14800);
    return;
  }
  {
    auto& watch = cellularWatch();
    std::lock_guard<std::mutex> guard(watch.lock);
    if (watch.observer) NotificationCenter::defaultCenter()->removeObserver(watch.observer);
    watch.observer.reset();
    if (watch.reachability) watch.reachability->stopNotifier();
    watch.reachability = nullptr;
  }
  auto& state = bandwidth();
  std::lock_guard<std::mutex> guard(state.lock);
  state.maxBandwidthPerSecond = 0;
  state.onCellularNetwork = false;
  state.throttleOnlyOnCellular = false;
}

void HTTPRequest::resetBandwidthState() {
  setShouldThrottleBandwidthForWWAN(false);
  auto& state = bandwidth();
  std::lock_guard<std::mutex> guard(state.lock);
  state.bandwidthUsedInLastSecond = 0;
  state.history.clear();
  state.averageBandwidthUsedPerSecond = 0;
  state.measurementPeriodEnd.reset();
  state.throttleResumeTime.reset();
}

}  // namespace zv

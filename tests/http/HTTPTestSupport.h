#pragma once
// What the request tests share: an outcome recorder for the completion and failure callbacks
// (which must arrive on the main thread, exactly once), and a count of open sockets.

#include <atomic>
#include <cstddef>
#include <memory>

#include "http/HTTPRequest.h"

namespace zv::testing {

struct RequestOutcome {
  std::atomic<int> finished{0};
  std::atomic<int> failed{0};
  std::atomic<int> offMainThread{0};
  int total() const { return finished + failed; }
};

// Installs completion and failure callbacks that count into `outcome`.
std::shared_ptr<RequestOutcome> recordOutcome(const Ref<HTTPRequest>& request);
// Pumps the main run loop until the request reported, or `seconds` pass; then a little longer
// so that a second (wrong) report would be seen.
bool waitForOutcome(const std::shared_ptr<RequestOutcome>& outcome, double seconds = 10.0);
// Sockets open in this process (the test servers' included).
int openSocketCount();

// How far this process's resident peak (VmHWM) rose since the object was made; making it sets the
// peak back to the resident size of that moment.
class ResidentPeakGrowth {
 public:
  ResidentPeakGrowth();
  // In MiB; negative when /proc does not tell.
  double mebibytes() const;

 private:
  long startKiB_;
};

// The size of the large bodies the peak-memory tests move: big enough that holding one whole
// stands out from what a run (a sanitizer's included) uses anyway.
std::size_t largeBodySize();

}  // namespace zv::testing

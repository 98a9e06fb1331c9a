#include "platform/ui/Scheduler.h"

#include "platform/runloop/Perform.h"
#include "platform/runloop/Timer.h"

namespace zv::ui {

Ref<Timer> scheduleAfter(double delay, std::function<void()> work) {
  return performAfterDelay(delay < 0 ? 0 : delay, std::move(work), {kRunLoopCommonModes});
}

}  // namespace zv::ui

#include "platform/runloop/RunLoopSource.h"

#include <algorithm>

#include "platform/runloop/RunLoop.h"
#include "platform/runloop/RunLoopImpl.h"

namespace zv {

RunLoopSource::RunLoopSource(Handler handler) : handler_(std::move(handler)) {}

Ref<RunLoopSource> RunLoopSource::create(Handler handler) {
  return std::make_shared<RunLoopSource>(std::move(handler));
}

RunLoopSource::~RunLoopSource() = default;

void RunLoopSource::signal() {
  if (!valid_.load()) return;
  signalled_.store(true);
  for (const auto& loop : attachedLoops()) loop->wakeUp();
}

void RunLoopSource::invalidate() {
  if (!valid_.exchange(false)) return;
  auto keepAlive = weak_from_this().lock();
  for (const auto& loop : attachedLoops()) {
    auto& impl = loop->impl();
    {
      std::lock_guard lock(impl.mutex);
      impl.removeSourceFromModeLocked(this, kRunLoopCommonModes);
      std::vector<RunLoopMode> names;
      for (const auto& [name, mode] : impl.modes) names.push_back(name);
      for (const auto& name : names) impl.removeSourceFromModeLocked(this, name);
    }
    impl.wake();
  }
}

bool RunLoopSource::isScheduled() const {
  std::lock_guard lock(mutex_);
  return std::any_of(loops_.begin(), loops_.end(), [](const Attachment& a) { return !a.loop.expired(); });
}

void RunLoopSource::perform() {
  if (handler_) handler_();
}

void RunLoopSource::attach(const Ref<RunLoop>& loop) {
  std::lock_guard lock(mutex_);
  loops_.push_back(Attachment{loop, loop.get()});
}

void RunLoopSource::detach(const RunLoop* loop) {
  std::lock_guard lock(mutex_);
  auto it = std::find_if(loops_.begin(), loops_.end(), [&](const Attachment& a) { return a.key == loop; });
  if (it != loops_.end()) loops_.erase(it);
}

void RunLoopSource::detachAll(const RunLoop* loop) {
  std::lock_guard lock(mutex_);
  std::erase_if(loops_, [&](const Attachment& a) { return a.key == loop; });
}

std::vector<Ref<RunLoop>> RunLoopSource::attachedLoops() const {
  std::vector<Ref<RunLoop>> result;
  std::lock_guard lock(mutex_);
  for (const auto& attachment : loops_) {
    auto loop = attachment.loop.lock();
    if (loop && std::find(result.begin(), result.end(), loop) == result.end()) result.push_back(std::move(loop));
  }
  return result;
}

}  // namespace zv

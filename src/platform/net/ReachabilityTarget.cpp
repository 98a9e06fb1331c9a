#include "platform/net/ReachabilityTarget.h"

#include <condition_variable>
#include <mutex>
#include <new>
#include <thread>

#include "platform/foundation/ForkHandlers.h"
#include "platform/net/CallbackGate.h"
#include "platform/runloop/RunLoopSource.h"

namespace zv::net {

struct ReachabilityTarget::State {
  State()
      : mutex(ForkLockLevel::ReachabilityTarget, [this] { delivering.resetInForkedChild(); }) {}
  ~State() { mutex.leaveForks(); }

  ForkMutex mutex;
  // Whether the callback runs now, and on which thread: unscheduling waits for it (unless the
  // callback itself unschedules).
  CallbackGate delivering;
  Callback callback;
  Ref<RunLoop> loop;
  RunLoopMode mode;
  Ref<RunLoopSource> source;
  std::shared_ptr<ReachabilityProvider> provider;
  std::uint64_t token = 0;
  std::optional<std::uint32_t> lastFlags;
  ReachabilityQuery query;
};

ReachabilityTarget::ReachabilityTarget(ReachabilityQuery query)
    : query_(std::move(query)), state_(std::make_shared<State>()) {
  state_->query = query_;
}

ReachabilityTarget::~ReachabilityTarget() { stopDelivery(); }

Ref<ReachabilityTarget> ReachabilityTarget::withHostName(std::string_view hostName) {
  if (hostName.empty()) return nullptr;
  ReachabilityQuery query;
  query.hostName = std::string(hostName);
  return std::make_shared<ReachabilityTarget>(std::move(query));
}

Ref<ReachabilityTarget> ReachabilityTarget::withAddress(const sockaddr_in& address) {
  if (address.sin_family != AF_INET) return nullptr;
  ReachabilityQuery query;
  query.address = address.sin_addr;
  return std::make_shared<ReachabilityTarget>(std::move(query));
}

std::optional<std::uint32_t> ReachabilityTarget::flags() const {
  return ReachabilityProvider::shared()->flagsFor(query_);
}

bool ReachabilityTarget::setCallback(Callback callback) {
  std::lock_guard lock(state_->mutex);
  state_->callback = std::move(callback);
  return true;
}

bool ReachabilityTarget::scheduleInRunLoop(const Ref<RunLoop>& runLoop, const RunLoopMode& mode) {
  if (!runLoop) return false;
  std::lock_guard lock(state_->mutex);
  if (state_->source) return state_->loop == runLoop && state_->mode == mode;
  std::weak_ptr<State> weak = state_;
  state_->source = RunLoopSource::create([weak] {
    auto state = weak.lock();
    if (!state) return;
    Callback callback;
    {
      std::unique_lock lock(state->mutex.native());
      state->delivering.waitUntilFree(lock);
      if (!state->source) return;  // unscheduled meanwhile
      callback = state->callback;
      state->delivering.enter(lock);
    }
    struct Done {
      State* state;
      ~Done() {
        {
          std::lock_guard lock(state->mutex);
          state->delivering.leave();
        }
        state->delivering.notifyAll();
      }
    } done{state.get()};
    auto provider = ReachabilityProvider::shared();
    auto flags = provider->flagsFor(state->query);
    if (flags == state->lastFlags) return;
    state->lastFlags = flags;
    if (callback) callback(flags.value_or(0));
  });
  state_->loop = runLoop;
  state_->mode = mode;
  state_->provider = ReachabilityProvider::shared();
  state_->lastFlags = state_->provider->flagsFor(query_);
  auto source = state_->source;
  state_->token = state_->provider->addObserver([source] { source->signal(); });
  runLoop->addSource(source, mode);
  return true;
}

bool ReachabilityTarget::unscheduleFromRunLoop(const Ref<RunLoop>& runLoop, const RunLoopMode& mode) {
  {
    std::lock_guard lock(state_->mutex);
    if (!state_->source || state_->loop != runLoop || state_->mode != mode) return false;
  }
  stopDelivery();
  return true;
}

void ReachabilityTarget::stopDelivery() {
  Ref<RunLoopSource> source;
  std::shared_ptr<ReachabilityProvider> provider;
  std::uint64_t token = 0;
  {
    std::lock_guard lock(state_->mutex);
    source = std::move(state_->source);
    provider = std::move(state_->provider);
    token = state_->token;
    state_->loop = nullptr;
  }
  if (provider) provider->removeObserver(token);
  if (source) source->invalidate();
  // Wait for a callback that is running on the loop's thread now (unless it is us).
  std::unique_lock lock(state_->mutex.native());
  state_->delivering.waitUntilFree(lock);
}

}  // namespace zv::net

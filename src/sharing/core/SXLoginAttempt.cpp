#include "sharing/core/SXLoginAttempt.h"

#include <map>
#include <mutex>

#include "platform/runloop/Perform.h"
#include "platform/runloop/RunLoop.h"

namespace zv {

namespace {

struct Registry {
  std::mutex lock;
  std::map<std::string, Ref<SXLoginAttempt>> current;
};

// Leaked on purpose: attempts may be abandoned from any thread until the process ends.
Registry& registry() {
  static auto* shared = new Registry();
  return *shared;
}

void runAbandoned(SXLoginAttempt::AbandonedHandler handler) {
  if (!handler) return;
  if (RunLoop::isMainThread()) {
    handler();
  } else {
    performOnMainThread(std::move(handler), false);
  }
}

}  // namespace

SXLoginAttempt::SXLoginAttempt(std::string service, AbandonedHandler abandoned)
    : service_(std::move(service)), abandoned_(std::move(abandoned)) {}

Ref<SXLoginAttempt> SXLoginAttempt::begin(const std::string& service, AbandonedHandler abandoned) {
  auto attempt = std::make_shared<SXLoginAttempt>(service, std::move(abandoned));
  Ref<SXLoginAttempt> replaced;
  {
    auto& shared = registry();
    std::lock_guard lock(shared.lock);
    auto& slot = shared.current[service];
    replaced = std::move(slot);
    slot = attempt;
  }
  if (replaced) runAbandoned(std::move(replaced->abandoned_));
  return attempt;
}

void SXLoginAttempt::abandon(const std::string& service) {
  Ref<SXLoginAttempt> ended;
  {
    auto& shared = registry();
    std::lock_guard lock(shared.lock);
    auto found = shared.current.find(service);
    if (found == shared.current.end()) return;
    ended = std::move(found->second);
    shared.current.erase(found);
  }
  runAbandoned(std::move(ended->abandoned_));
}

Ref<SXLoginAttempt> SXLoginAttempt::current(const std::string& service) {
  auto& shared = registry();
  std::lock_guard lock(shared.lock);
  auto found = shared.current.find(service);
  return found == shared.current.end() ? nullptr : found->second;
}

bool SXLoginAttempt::isCurrent() const {
  auto& shared = registry();
  std::lock_guard lock(shared.lock);
  auto found = shared.current.find(service_);
  return found != shared.current.end() && found->second.get() == this;
}

bool SXLoginAttempt::leave() {
  auto& shared = registry();
  std::lock_guard lock(shared.lock);
  auto found = shared.current.find(service_);
  if (found == shared.current.end() || found->second.get() != this) return false;
  shared.current.erase(found);
  return true;
}

bool SXLoginAttempt::take() {
  if (!leave()) return false;
  abandoned_ = nullptr;
  return true;
}

void SXLoginAttempt::end() {
  if (leave()) abandoned_ = nullptr;
}

}  // namespace zv

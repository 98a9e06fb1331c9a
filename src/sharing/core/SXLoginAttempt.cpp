#include "sharing/core/SXLoginAttempt.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <vector>

#include "platform/runloop/Perform.h"
#include "platform/runloop/RunLoop.h"

namespace zv {

namespace {

// The attempts of one service under way.
struct Attempts {
  Ref<SXLoginAttempt> interactive;
  std::vector<Ref<SXLoginAttempt>> silent;  // oldest first
  bool empty() const { return !interactive && silent.empty(); }
};

struct Registry {
  std::mutex lock;
  std::map<std::string, Attempts> services;
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

SXLoginAttempt::SXLoginAttempt(std::string service, AbandonedHandler abandoned, Kind kind)
    : service_(std::move(service)), abandoned_(std::move(abandoned)), kind_(kind) {}

Ref<SXLoginAttempt> SXLoginAttempt::begin(const std::string& service, AbandonedHandler abandoned, Kind kind) {
  auto attempt = std::make_shared<SXLoginAttempt>(service, std::move(abandoned), kind);
  Ref<SXLoginAttempt> replaced;
  {
    auto& shared = registry();
    std::lock_guard lock(shared.lock);
    auto& attempts = shared.services[service];
    if (kind == Kind::Silent) {
      attempts.silent.push_back(attempt);
    } else {
      replaced = std::move(attempts.interactive);
      attempts.interactive = attempt;
    }
  }
  if (replaced) runAbandoned(std::move(replaced->abandoned_));
  return attempt;
}

void SXLoginAttempt::abandon(const std::string& service) {
  Attempts ended;
  {
    auto& shared = registry();
    std::lock_guard lock(shared.lock);
    auto found = shared.services.find(service);
    if (found == shared.services.end()) return;
    ended = std::move(found->second);
    shared.services.erase(found);
  }
  // Each waiting login hears once; the oldest first.
  for (auto& attempt : ended.silent) runAbandoned(std::move(attempt->abandoned_));
  if (ended.interactive) runAbandoned(std::move(ended.interactive->abandoned_));
}

Ref<SXLoginAttempt> SXLoginAttempt::current(const std::string& service) {
  auto& shared = registry();
  std::lock_guard lock(shared.lock);
  auto found = shared.services.find(service);
  if (found == shared.services.end()) return nullptr;
  if (found->second.interactive) return found->second.interactive;
  return found->second.silent.empty() ? nullptr : found->second.silent.back();
}

bool SXLoginAttempt::isCurrent() const {
  auto& shared = registry();
  std::lock_guard lock(shared.lock);
  auto found = shared.services.find(service_);
  if (found == shared.services.end()) return false;
  const auto& attempts = found->second;
  if (kind_ == Kind::Interactive) return attempts.interactive.get() == this;
  return std::any_of(attempts.silent.begin(), attempts.silent.end(),
                     [this](const Ref<SXLoginAttempt>& attempt) { return attempt.get() == this; });
}

bool SXLoginAttempt::leave() {
  auto& shared = registry();
  std::lock_guard lock(shared.lock);
  auto found = shared.services.find(service_);
  if (found == shared.services.end()) return false;
  auto& attempts = found->second;
  bool left = false;
  if (kind_ == Kind::Interactive) {
    if (attempts.interactive.get() == this) {
      attempts.interactive = nullptr;
      left = true;
    }
  } else {
    auto it = std::find_if(attempts.silent.begin(), attempts.silent.end(),
                           [this](const Ref<SXLoginAttempt>& attempt) { return attempt.get() == this; });
    if (it != attempts.silent.end()) {
      attempts.silent.erase(it);
      left = true;
    }
  }
  if (attempts.empty()) shared.services.erase(found);
  return left;
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

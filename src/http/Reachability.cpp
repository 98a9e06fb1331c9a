#include "http/Reachability.h"

#include <arpa/inet.h>

#include "platform/system/NotificationCenter.h"

namespace zv {

namespace {
constexpr std::uint32_t kReachable = 0x2;
constexpr std::uint32_t kConnectionRequired = 0x4;
constexpr std::uint32_t kConnectionOnTraffic = 0x8;
constexpr std::uint32_t kInterventionRequired = 0x10;
constexpr std::uint32_t kConnectionOnDemand = 0x20;
constexpr std::uint32_t kIsDirect = 0x20000;
constexpr std::uint32_t kIsWWAN = 0x40000;
}  // namespace

Reachability::Reachability(Ref<net::ReachabilityTarget> target, bool localWiFi)
    : localWiFiRef_(localWiFi), reachabilityRef_(std::move(target)) {}

Reachability::~Reachability() { stopNotifier(); }

Ref<Reachability> Reachability::reachabilityWithHostName(std::string_view hostName) {
  auto target = net::ReachabilityTarget::withHostName(hostName);
  if (!target) return nullptr;
  return std::make_shared<Reachability>(target);
}

Ref<Reachability> Reachability::reachabilityWithAddress(const sockaddr_in& address) {
  auto target = net::ReachabilityTarget::withAddress(address);
  if (!target) return nullptr;
  return std::make_shared<Reachability>(target);
}

Ref<Reachability> Reachability::reachabilityForInternetConnection() {
  sockaddr_in zero{};
  zero.sin_family = AF_INET;
  return reachabilityWithAddress(zero);
}

Ref<Reachability> Reachability::reachabilityForLocalWiFi() {
  sockaddr_in linkLocal{};
  linkLocal.sin_family = AF_INET;
  linkLocal.sin_addr.s_addr = htonl(0xA9FE0000);  // 169.254.0.0
  auto target = net::ReachabilityTarget::withAddress(linkLocal);
  if (!target) return nullptr;
  return std::make_shared<Reachability>(target, true);
}

bool Reachability::startNotifier() {
  // The callback holds only a weak reference, so it never keeps this object alive nor runs for
  // one that is gone.
  WeakRef<Reachability> weak = selfAs<Reachability>();
  if (!reachabilityRef_->setCallback([weak](std::uint32_t) {
        if (auto self = weak.lock()) NotificationCenter::defaultCenter()->postNotificationName(kReachabilityChangedNotification, self);
      })) {
    return false;
  }
  std::lock_guard<std::mutex> guard(notifierLock_);
  auto loop = RunLoop::current();
  if (!reachabilityRef_->scheduleInRunLoop(loop, kDefaultRunLoopMode)) return false;
  scheduledLoop_ = loop;
  return true;
}

void Reachability::stopNotifier() {
  if (!reachabilityRef_) return;
  Ref<RunLoop> loop;
  {
    std::lock_guard<std::mutex> guard(notifierLock_);
    loop = std::move(scheduledLoop_);
  }
  // Unscheduled from the loop it was scheduled on, whichever thread asks.
  if (loop) reachabilityRef_->unscheduleFromRunLoop(loop, kDefaultRunLoopMode);
  reachabilityRef_->setCallback(nullptr);
}

ReachabilityStatus Reachability::currentReachabilityStatus() const {
  auto flags = reachabilityRef_->flags();
  if (!flags) return ReachabilityStatusNone;
  return localWiFiRef_ ? localWiFiStatusForFlags(*flags) : networkStatusForFlags(*flags);
}

bool Reachability::connectionRequired() const {
  auto flags = reachabilityRef_->flags();
  return flags && (*flags & kConnectionRequired);
}

ReachabilityStatus Reachability::localWiFiStatusForFlags(std::uint32_t flags) const {
  return (flags & kReachable) && (flags & kIsDirect) ? ReachabilityStatusWiFi : ReachabilityStatusNone;
}

ReachabilityStatus Reachability::networkStatusForFlags(std::uint32_t flags) const {
  if (!(flags & kReachable)) return ReachabilityStatusNone;
  if (flags & kIsWWAN) return ReachabilityStatusWWAN;
  if (!(flags & kConnectionRequired)) return ReachabilityStatusWiFi;
  if ((flags & (kConnectionOnTraffic | kConnectionOnDemand)) && !(flags & kInterventionRequired)) {
    return ReachabilityStatusWiFi;
  }
  return ReachabilityStatusNone;
}

}  // namespace zv

#pragma once
// Whether a host, an address or the internet at large can be reached now, and whether the route
// goes through the cellular network; optionally posts "kNetworkReachabilityChangedNotification"
// (object: this Reachability, no user info) on the default notification centre when that changes.
//
// Threads: status queries from any thread. Notifications are posted on the thread whose run loop
// was current at startNotifier. stopNotifier (and the destructor) may be called from any thread;
// once either returns no notification for this object is posted any more.

#include <cstdint>
#include <mutex>
#include <string_view>

#include <netinet/in.h>

#include "platform/net/ReachabilityTarget.h"
#include "platform/runloop/RunLoop.h"

namespace zv {

enum ReachabilityStatus : std::int32_t {
  ReachabilityStatusNone = 0,
  ReachabilityStatusWiFi = 1,
  ReachabilityStatusWWAN = 2,
};

inline constexpr const char* kReachabilityChangedNotification = "kNetworkReachabilityChangedNotification";

class Reachability : public Object {
 public:
  // Each returns nullptr when no target can be made.
  static Ref<Reachability> reachabilityWithHostName(std::string_view hostName);
  static Ref<Reachability> reachabilityWithAddress(const sockaddr_in& address);
  // The zero address: any route to the internet.
  static Ref<Reachability> reachabilityForInternetConnection();
  // The link-local network 169.254.0.0, judged by the local-Wi-Fi rule.
  static Ref<Reachability> reachabilityForLocalWiFi();

  // Posts the change notification from the calling thread's run loop (default mode). The caller
  // keeps this object alive for as long as it wants notifications.
  bool startNotifier();
  void stopNotifier();

  ReachabilityStatus currentReachabilityStatus() const;
  bool connectionRequired() const;
  ReachabilityStatus localWiFiStatusForFlags(std::uint32_t flags) const;
  ReachabilityStatus networkStatusForFlags(std::uint32_t flags) const;

  bool localWiFiRef() const { return localWiFiRef_; }

  explicit Reachability(Ref<net::ReachabilityTarget> target, bool localWiFi = false);
  ~Reachability() override;

 private:
  bool localWiFiRef_;
  Ref<net::ReachabilityTarget> reachabilityRef_;
  std::mutex notifierLock_;
  Ref<RunLoop> scheduledLoop_;
};

}  // namespace zv

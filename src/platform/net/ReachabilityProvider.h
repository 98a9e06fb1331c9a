#pragma once
// Where reachability flags come from. The system provider reads the host's interfaces and routes
// (netlink) and watches them for changes; tests install a FakeReachabilityProvider and set the
// flags they want. ReachabilityTarget (ReachabilityTarget.h) asks the installed provider.
//
// Thread-safe: flag queries may come from any thread; change observers are called on the
// provider's own thread (the netlink watcher, or the thread that changed a fake's flags) and must
// hand the news on to their run loop.
//
// A child made by fork (without exec) keeps the installed provider and its observers. The system
// provider's watcher and descriptors are the parent's: the child closes its copies (the parent's
// stay open) and makes a socket and a watcher of its own at its first query or observer.

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <optional>
#include <string>
#include <string_view>

#include <netinet/in.h>

#include "platform/foundation/ForkHandlers.h"
#include "platform/net/CallbackGate.h"

namespace zv::net {

// The platform's reachability flag bits.
enum ReachabilityFlag : std::uint32_t {
  kReachabilityFlagTransientConnection = 1u << 0,
  kReachabilityFlagReachable = 1u << 1,
  kReachabilityFlagConnectionRequired = 1u << 2,
  kReachabilityFlagConnectionOnTraffic = 1u << 3,
  kReachabilityFlagInterventionRequired = 1u << 4,
  kReachabilityFlagConnectionOnDemand = 1u << 5,
  kReachabilityFlagIsLocalAddress = 1u << 16,
  kReachabilityFlagIsDirect = 1u << 17,
  kReachabilityFlagIsWWAN = 1u << 18,
};

// What a target asks about: a host name, or an IPv4 address (0.0.0.0 = the internet at large).
struct ReachabilityQuery {
  std::optional<std::string> hostName;
  in_addr address{};
  bool operator<(const ReachabilityQuery& other) const;
};

class ReachabilityProvider {
 public:
  ReachabilityProvider();
  virtual ~ReachabilityProvider();
  // The flags now; nullopt when they cannot be determined.
  virtual std::optional<std::uint32_t> flagsFor(const ReachabilityQuery& query) = 0;
  // Registers an observer of changes (any change of any target); returns a token for removal.
  std::uint64_t addObserver(std::function<void()> observer);
  // After it returns the observer is not called any more (and no call is running).
  void removeObserver(std::uint64_t token);

  // The installed provider: the system one unless a test installed another. Any thread.
  static std::shared_ptr<ReachabilityProvider> shared();
  // Installs a provider (nullptr: back to the system one).
  static void install(std::shared_ptr<ReachabilityProvider> provider);
  static std::shared_ptr<ReachabilityProvider> makeSystemProvider();

 protected:
  // Calls every observer (on the calling thread), one notification at a time.
  void notifyObservers();

 private:
  ForkMutex observersMutex_;
  // A notification under way, and on which thread (an observer may remove itself or notify again
  // from inside it). Removal waits for it.
  CallbackGate notifying_;
  std::map<std::uint64_t, std::function<void()>> observers_;
  std::uint64_t nextToken_ = 1;
};

// Flags set by the test. Queries not set explicitly get the default flags.
class FakeReachabilityProvider : public ReachabilityProvider {
 public:
  explicit FakeReachabilityProvider(std::optional<std::uint32_t> defaultFlags = kReachabilityFlagReachable);
  ~FakeReachabilityProvider() override;
  std::optional<std::uint32_t> flagsFor(const ReachabilityQuery& query) override;
  // Changes the default flags (nullopt: unreadable) and notifies observers.
  void setDefaultFlags(std::optional<std::uint32_t> flags);
  // Sets the flags for one host name and notifies observers.
  void setFlagsForHost(const std::string& hostName, std::optional<std::uint32_t> flags);

 private:
  ForkMutex mutex_{ForkLockLevel::ReachabilityObservers};
  std::optional<std::uint32_t> defaultFlags_;
  std::map<std::string, std::optional<std::uint32_t>> hostFlags_;
};

}  // namespace zv::net

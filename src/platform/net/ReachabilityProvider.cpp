#include "platform/net/ReachabilityProvider.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <netdb.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <new>
#include <system_error>
#include <utility>
#include <thread>
#include <vector>

#include "platform/foundation/Log.h"
#include "platform/foundation/ThreadStartRetry.h"

namespace zv::net {

bool ReachabilityQuery::operator<(const ReachabilityQuery& other) const {
  if (hostName != other.hostName) return hostName < other.hostName;
  return address.s_addr < other.address.s_addr;
}

ReachabilityProvider::ReachabilityProvider()
    : observersMutex_(ForkLockLevel::ReachabilityObservers, [this] { notifying_.resetInForkedChild(); }) {}

ReachabilityProvider::~ReachabilityProvider() { observersMutex_.leaveForks(); }

std::uint64_t ReachabilityProvider::addObserver(std::function<void()> observer) {
  std::lock_guard lock(observersMutex_);
  std::uint64_t token = nextToken_++;
  observers_.emplace(token, std::move(observer));
  return token;
}

void ReachabilityProvider::removeObserver(std::uint64_t token) {
  std::function<void()> removed;  // let go once the lock is
  std::unique_lock lock(observersMutex_.native());
  if (auto found = observers_.find(token); found != observers_.end()) {
    removed = std::move(found->second);
    observers_.erase(found);
  }
  // A notification under way may still call it: wait for it (unless it is this thread's own).
  notifying_.waitUntilFree(lock);
}

void ReachabilityProvider::notifyObservers() {
  std::vector<std::function<void()>> current;
  {
    std::unique_lock lock(observersMutex_.native());
    notifying_.enter(lock);
    for (const auto& [token, observer] : observers_) current.push_back(observer);
  }
  struct Done {
    ReachabilityProvider* provider;
    ~Done() {
      {
        std::lock_guard lock(provider->observersMutex_);
        provider->notifying_.leave();
      }
      provider->notifying_.notifyAll();
    }
  } done{this};
  for (const auto& observer : current) observer();
}

namespace {

ForkMutex& providerMutex() {
  static ForkMutex& mutex = *new ForkMutex(ForkLockLevel::ReachabilityProvider);
  return mutex;
}

// Never destroyed: threads still asking for reachability at exit must not find it gone.
std::shared_ptr<ReachabilityProvider>& installedProvider() {
  static auto* provider = new std::shared_ptr<ReachabilityProvider>;
  return *provider;
}

[[maybe_unused]] const bool gProviderSlotMade = (providerMutex(), installedProvider(), true);

bool isCellularInterface(const std::string& name) {
  return name.rfind("wwan", 0) == 0 || name.rfind("rmnet", 0) == 0 || name.rfind("ppp", 0) == 0 ||
         name.rfind("ccmni", 0) == 0;
}

// Reads the host's routes through the kernel: a UDP socket "connected" to an address makes the
// kernel pick a route and a source address without sending anything.
class SystemReachabilityProvider : public ReachabilityProvider {
 public:
  SystemReachabilityProvider() {
    std::lock_guard lock(watcherStart_->mutex);
    watcherStart_->provider = this;
    openAndWatchLocked();
  }

  ~SystemReachabilityProvider() override {
    auto& start = *watcherStart_;
    std::unique_lock lock(start.mutex.native());
    start.provider = nullptr;
    if (stopFd_ >= 0) {
      std::uint64_t one = 1;
      (void)!::write(stopFd_, &one, sizeof one);
    }
    start.ended.wait(lock, [&] { return !start.watching; });
    if (netlinkFd_ >= 0) ::close(netlinkFd_);
    if (stopFd_ >= 0) ::close(stopFd_);
  }

  std::optional<std::uint32_t> flagsFor(const ReachabilityQuery& query) override {
    {
      // A child made by fork watches with a socket and a thread of its own, made at its first use.
      std::lock_guard lock(watcherStart_->mutex);
      if (!opened_) openAndWatchLocked();
    }
    return currentFlags(query);
  }

 private:
  // Lets a retried start of the watcher find out whether its provider still exists; its mutex
  // guards the provider's descriptors and watcher.
  struct WatcherStart {
    ForkMutex mutex{ForkLockLevel::ReachabilityWatcher};
    SystemReachabilityProvider* provider = nullptr;
    // Whether the watcher thread runs; `ended` tells when it stops.
    bool watching = false;
    std::condition_variable ended;
  };

  // With the watcher's mutex held.
  void openAndWatchLocked() {
    opened_ = true;
    int failure = 0;
    stopFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (stopFd_ < 0) failure = errno;
    netlinkFd_ = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (netlinkFd_ < 0) failure = errno;
    if (netlinkFd_ >= 0) {
      sockaddr_nl address{};
      address.nl_family = AF_NETLINK;
      address.nl_groups = RTMGRP_LINK | RTMGRP_IPV4_IFADDR | RTMGRP_IPV4_ROUTE | RTMGRP_IPV6_IFADDR | RTMGRP_IPV6_ROUTE;
      if (::bind(netlinkFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        failure = errno;
        ::close(netlinkFd_);
        netlinkFd_ = -1;
      }
    }
    if (netlinkFd_ < 0 || stopFd_ < 0) {
      logError(std::string("reachability changes go unannounced: cannot watch the network (") + std::strerror(failure) +
               ")");
      return;
    }
    if (!startWatcherLocked()) {
      // Refused for now: the watcher is made once the system allows (changes until then go
      // unannounced, but flags read meanwhile are current).
      retryUntilStarted([start = watcherStart_] {
        std::lock_guard lock(start->mutex);
        return !start->provider || start->provider->startWatcherLocked();
      });
    }
  }

  // In a child made by fork, with the watcher's mutex held: the watcher and the descriptors are
  // the parent's. The child's copies are closed (the parent's stay open and undisturbed) and the
  // watcher, which the child does not have, is forgotten.
  void forgetParentsWatcherInChild() {
    if (netlinkFd_ >= 0) ::close(netlinkFd_);
    if (stopFd_ >= 0) ::close(stopFd_);
    netlinkFd_ = -1;
    stopFd_ = -1;
    opened_ = false;
    watcherStart_->watching = false;
    new (&watcherStart_->ended) std::condition_variable();
  }

  // True when the watcher runs (or has already); false when the system refused it.
  // Detached: a child made by fork must be able to make a thread where the parent's was.
  bool startWatcherLocked() {
    auto& start = *watcherStart_;
    if (start.watching || !opened_ || netlinkFd_ < 0) return true;
    try {
      startDetachedThread([this, keep = watcherStart_, netlinkFd = netlinkFd_, stopFd = stopFd_] {
        watch(netlinkFd, stopFd);
        {
          std::lock_guard lock(keep->mutex);
          keep->watching = false;
        }
        keep->ended.notify_all();
      });
      start.watching = true;
      return true;
    } catch (const std::system_error&) {
      return false;
    }
  }

 private:
  std::optional<std::uint32_t> currentFlags(const ReachabilityQuery& query) {
    // The places to ask a route for, in order: the first one the kernel routes answers.
    std::vector<sockaddr_storage> targets;
    auto add = [&](const sockaddr* address, socklen_t length) {
      sockaddr_storage target{};
      std::memcpy(&target, address, std::min<std::size_t>(length, sizeof target));
      targets.push_back(target);
    };
    if (query.hostName) {
      addrinfo hints{};
      hints.ai_socktype = SOCK_DGRAM;
      addrinfo* results = nullptr;
      if (getaddrinfo(query.hostName->c_str(), "80", &hints, &results) != 0 || !results) {
        if (results) freeaddrinfo(results);
        return 0u;  // a name that does not resolve is not reachable
      }
      // Every address the name has: on a network of one family only, the other's have no route.
      for (addrinfo* result = results; result; result = result->ai_next) add(result->ai_addr, result->ai_addrlen);
      freeaddrinfo(results);
    } else {
      sockaddr_in in{};
      in.sin_family = AF_INET;
      in.sin_port = htons(80);
      in.sin_addr = query.address;
      // "Any route to the internet": ask for a route to a documentation address, which only a
      // default route covers; over IPv4 or, on a network without it, over IPv6.
      bool internet = query.address.s_addr == INADDR_ANY;
      if (internet) inet_pton(AF_INET, "192.0.2.1", &in.sin_addr);
      add(reinterpret_cast<const sockaddr*>(&in), sizeof in);
      if (internet) {
        sockaddr_in6 in6{};
        in6.sin6_family = AF_INET6;
        in6.sin6_port = htons(80);
        inet_pton(AF_INET6, "2001:db8::1", &in6.sin6_addr);
        add(reinterpret_cast<const sockaddr*>(&in6), sizeof in6);
      }
    }
    sockaddr_storage target{};
    sockaddr_storage local{};
    bool routed = false;
    bool asked = false;
    for (const auto& candidate : targets) {
      socklen_t length = candidate.ss_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
      int fd = ::socket(candidate.ss_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
      if (fd < 0) continue;
      asked = true;
      routed = ::connect(fd, reinterpret_cast<const sockaddr*>(&candidate), length) == 0;
      socklen_t localLength = sizeof local;
      if (routed) getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localLength);
      ::close(fd);
      if (routed) {
        target = candidate;
        break;
      }
    }
    if (!asked) return std::nullopt;
    if (!routed) return 0u;

    std::uint32_t flags = kReachabilityFlagReachable;
    std::string interfaceName;
    bool sameSubnet = false;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) == 0) {
      for (ifaddrs* entry = list; entry; entry = entry->ifa_next) {
        if (!entry->ifa_addr || entry->ifa_addr->sa_family != local.ss_family) continue;
        if (local.ss_family == AF_INET) {
          auto* mine = reinterpret_cast<sockaddr_in*>(entry->ifa_addr);
          auto* chosen = reinterpret_cast<sockaddr_in*>(&local);
          if (mine->sin_addr.s_addr != chosen->sin_addr.s_addr) continue;
          interfaceName = entry->ifa_name;
          if (entry->ifa_netmask && target.ss_family == AF_INET) {
            auto mask = reinterpret_cast<sockaddr_in*>(entry->ifa_netmask)->sin_addr.s_addr;
            auto destination = reinterpret_cast<sockaddr_in*>(&target)->sin_addr.s_addr;
            sameSubnet = (destination & mask) == (mine->sin_addr.s_addr & mask);
          }
        } else if (local.ss_family == AF_INET6) {
          auto* mine = reinterpret_cast<sockaddr_in6*>(entry->ifa_addr);
          auto* chosen = reinterpret_cast<sockaddr_in6*>(&local);
          if (std::memcmp(&mine->sin6_addr, &chosen->sin6_addr, sizeof(in6_addr)) != 0) continue;
          interfaceName = entry->ifa_name;
        }
        break;
      }
      freeifaddrs(list);
    }
    if (interfaceName == "lo") flags |= kReachabilityFlagIsLocalAddress | kReachabilityFlagIsDirect;
    if (sameSubnet) flags |= kReachabilityFlagIsDirect;
    if (isCellularInterface(interfaceName)) flags |= kReachabilityFlagIsWWAN;
    return flags;
  }

  void watch(int netlinkFd, int stopFd) {
    char buffer[8192];
    for (;;) {
      pollfd fds[2] = {{netlinkFd, POLLIN, 0}, {stopFd, POLLIN, 0}};
      if (::poll(fds, 2, -1) < 0) continue;
      if (fds[1].revents) return;
      if (!(fds[0].revents & POLLIN)) continue;
      ssize_t got = ::recv(netlinkFd, buffer, sizeof buffer, MSG_DONTWAIT);
      if (got <= 0) continue;
      // Drain a burst of kernel messages before telling anyone.
      while (::recv(netlinkFd, buffer, sizeof buffer, MSG_DONTWAIT) > 0) {
      }
      notifyObservers();
    }
  }

  // The fork handler is set once the object is whole.
  std::shared_ptr<WatcherStart> watcherStart_ = [] {
    auto start = std::make_shared<WatcherStart>();
    start->mutex.onChildAfterFork([raw = start.get()] {
      if (raw->provider) raw->provider->forgetParentsWatcherInChild();
    });
    return start;
  }();
  // Guarded by the watcher's mutex.
  bool opened_ = false;
  int netlinkFd_ = -1;
  int stopFd_ = -1;
};

}  // namespace

std::shared_ptr<ReachabilityProvider> ReachabilityProvider::makeSystemProvider() {
  return std::make_shared<SystemReachabilityProvider>();
}

std::shared_ptr<ReachabilityProvider> ReachabilityProvider::shared() {
  std::lock_guard lock(providerMutex());
  if (!installedProvider()) installedProvider() = makeSystemProvider();
  return installedProvider();
}

void ReachabilityProvider::install(std::shared_ptr<ReachabilityProvider> provider) {
  std::shared_ptr<ReachabilityProvider> previous;
  {
    std::lock_guard lock(providerMutex());
    previous = std::exchange(installedProvider(), std::move(provider));
  }
  // Let go outside the lock: the last reference ends the system provider's watcher.
}

FakeReachabilityProvider::FakeReachabilityProvider(std::optional<std::uint32_t> defaultFlags)
    : defaultFlags_(defaultFlags) {}

FakeReachabilityProvider::~FakeReachabilityProvider() { mutex_.leaveForks(); }

std::optional<std::uint32_t> FakeReachabilityProvider::flagsFor(const ReachabilityQuery& query) {
  std::lock_guard lock(mutex_);
  if (query.hostName) {
    auto found = hostFlags_.find(*query.hostName);
    if (found != hostFlags_.end()) return found->second;
  }
  return defaultFlags_;
}

void FakeReachabilityProvider::setDefaultFlags(std::optional<std::uint32_t> flags) {
  {
    std::lock_guard lock(mutex_);
    defaultFlags_ = flags;
  }
  notifyObservers();
}

void FakeReachabilityProvider::setFlagsForHost(const std::string& hostName, std::optional<std::uint32_t> flags) {
  {
    std::lock_guard lock(mutex_);
    hostFlags_[hostName] = flags;
  }
  notifyObservers();
}

}  // namespace zv::net

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
#include <cstring>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/foundation/ThreadStartRetry.h"

namespace zv::net {

bool ReachabilityQuery::operator<(const ReachabilityQuery& other) const {
  if (hostName != other.hostName) return hostName < other.hostName;
  return address.s_addr < other.address.s_addr;
}

std::uint64_t ReachabilityProvider::addObserver(std::function<void()> observer) {
  std::lock_guard lock(observersMutex_);
  std::uint64_t token = nextToken_++;
  observers_.emplace(token, std::move(observer));
  return token;
}

void ReachabilityProvider::removeObserver(std::uint64_t token) {
  std::lock_guard calls(callMutex_);  // waits for a notification in progress
  std::lock_guard lock(observersMutex_);
  observers_.erase(token);
}

void ReachabilityProvider::notifyObservers() {
  std::lock_guard calls(callMutex_);
  std::vector<std::function<void()>> current;
  {
    std::lock_guard lock(observersMutex_);
    for (const auto& [token, observer] : observers_) current.push_back(observer);
  }
  for (const auto& observer : current) observer();
}

namespace {

std::mutex gProviderMutex;
// Never destroyed: threads still asking for reachability at exit must not find it gone.
std::shared_ptr<ReachabilityProvider>& installedProvider() {
  static auto* provider = new std::shared_ptr<ReachabilityProvider>;
  return *provider;
}

bool isCellularInterface(const std::string& name) {
  return name.rfind("wwan", 0) == 0 || name.rfind("rmnet", 0) == 0 || name.rfind("ppp", 0) == 0 ||
         name.rfind("ccmni", 0) == 0;
}

// Reads the host's routes through the kernel: a UDP socket "connected" to an address makes the
// kernel pick a route and a source address without sending anything.
class SystemReachabilityProvider : public ReachabilityProvider {
 public:
  SystemReachabilityProvider() {
    stopFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    netlinkFd_ = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (netlinkFd_ >= 0) {
      sockaddr_nl address{};
      address.nl_family = AF_NETLINK;
      address.nl_groups = RTMGRP_LINK | RTMGRP_IPV4_IFADDR | RTMGRP_IPV4_ROUTE | RTMGRP_IPV6_IFADDR | RTMGRP_IPV6_ROUTE;
      if (::bind(netlinkFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(netlinkFd_);
        netlinkFd_ = -1;
      }
    }
    if (netlinkFd_ >= 0 && stopFd_ >= 0 && !startWatcher(*watcherStart_)) {
      // Refused for now: the watcher is made once the system allows (changes until then go
      // unannounced, but flags read meanwhile are current).
      retryUntilStarted([start = watcherStart_] { return startWatcher(*start); });
    }
  }

  ~SystemReachabilityProvider() override {
    if (stopFd_ >= 0) {
      std::uint64_t one = 1;
      (void)!::write(stopFd_, &one, sizeof one);
    }
    {
      std::lock_guard lock(watcherStart_->mutex);
      watcherStart_->provider = nullptr;
    }
    if (watcher_.joinable()) watcher_.join();
    if (netlinkFd_ >= 0) ::close(netlinkFd_);
    if (stopFd_ >= 0) ::close(stopFd_);
  }

  std::optional<std::uint32_t> flagsFor(const ReachabilityQuery& query) override {
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

 private:
  // Lets a retried start of the watcher find out whether its provider still exists.
  struct WatcherStart {
    explicit WatcherStart(SystemReachabilityProvider* owner) : provider(owner) {}
    std::mutex mutex;
    SystemReachabilityProvider* provider;
  };

  // True when the watcher runs (or is no longer wanted); false when the system refused it.
  static bool startWatcher(WatcherStart& start) {
    std::lock_guard lock(start.mutex);
    if (!start.provider) return true;
    try {
      auto* provider = start.provider;
      provider->watcher_ = std::thread([provider] { provider->watch(); });
      return true;
    } catch (const std::system_error&) {
      return false;
    }
  }

  void watch() {
    char buffer[8192];
    for (;;) {
      pollfd fds[2] = {{netlinkFd_, POLLIN, 0}, {stopFd_, POLLIN, 0}};
      if (::poll(fds, 2, -1) < 0) continue;
      if (fds[1].revents) return;
      if (!(fds[0].revents & POLLIN)) continue;
      ssize_t got = ::recv(netlinkFd_, buffer, sizeof buffer, MSG_DONTWAIT);
      if (got <= 0) continue;
      // Drain a burst of kernel messages before telling anyone.
      while (::recv(netlinkFd_, buffer, sizeof buffer, MSG_DONTWAIT) > 0) {
      }
      notifyObservers();
    }
  }

  int netlinkFd_ = -1;
  int stopFd_ = -1;
  std::thread watcher_;
  std::shared_ptr<WatcherStart> watcherStart_ = std::make_shared<WatcherStart>(this);
};

}  // namespace

std::shared_ptr<ReachabilityProvider> ReachabilityProvider::makeSystemProvider() {
  return std::make_shared<SystemReachabilityProvider>();
}

std::shared_ptr<ReachabilityProvider> ReachabilityProvider::shared() {
  std::lock_guard lock(gProviderMutex);
  if (!installedProvider()) installedProvider() = makeSystemProvider();
  return installedProvider();
}

void ReachabilityProvider::install(std::shared_ptr<ReachabilityProvider> provider) {
  std::lock_guard lock(gProviderMutex);
  installedProvider() = std::move(provider);
}

FakeReachabilityProvider::FakeReachabilityProvider(std::optional<std::uint32_t> defaultFlags)
    : defaultFlags_(defaultFlags) {}

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

#pragma once
// One reachability target (a host name or an IPv4 address) with an optional change callback that
// runs on the run loop it is scheduled on.
//
// Threads: flags() from any thread. The callback runs on the scheduled loop's thread, in the
// scheduled mode. unscheduleFromRunLoop and the destructor may be called from any thread; once
// either returns, the callback is never called again (a call already running on the loop's thread
// is waited for, unless the caller is that very call).

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include <netinet/in.h>

#include "platform/foundation/Object.h"
#include "platform/net/ReachabilityProvider.h"
#include "platform/runloop/RunLoop.h"

namespace zv::net {

class ReachabilityTarget : public Object {
 public:
  using Callback = std::function<void(std::uint32_t flags)>;

  // nullptr for an empty host name.
  static Ref<ReachabilityTarget> withHostName(std::string_view hostName);
  // nullptr unless the family is AF_INET.
  static Ref<ReachabilityTarget> withAddress(const sockaddr_in& address);

  ~ReachabilityTarget() override;

  // The flags now, from the installed provider; nullopt when they cannot be read.
  std::optional<std::uint32_t> flags() const;
  // Sets (or clears with nullptr) the change callback; returns YES.
  bool setCallback(Callback callback);
  // Starts delivering changes on `runLoop` in `mode`. NO when already scheduled elsewhere.
  bool scheduleInRunLoop(const Ref<RunLoop>& runLoop, const RunLoopMode& mode);
  bool unscheduleFromRunLoop(const Ref<RunLoop>& runLoop, const RunLoopMode& mode);

  struct State;
  explicit ReachabilityTarget(ReachabilityQuery query);

 private:
  void stopDelivery();
  ReachabilityQuery query_;
  std::shared_ptr<State> state_;
};

}  // namespace zv::net

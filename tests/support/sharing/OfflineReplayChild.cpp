// A "launch" of the application for the offline-queue crash test: with the home given, it
// installs the configuration, flushes the offline queue (replaying through QueueReplaySharer to the
// test's loopback service) and exits once every replay has ended. The test kills it with SIGKILL
// in the middle of a replay and starts it again.
//
// With "cancel-and-exit" it replays through QueueProbeSharer, whose shares never report, and
// exits as soon as the first replays run, right after cancelling them all: the exit test runs it
// many times and looks for a crash.
//
// Usage: sharing_offline_replay_child <home> <service base URL> [<most open files> | cancel-and-exit]
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "platform/net/ReachabilityProvider.h"
#include "platform/runloop/RunLoop.h"
#include "platform/runloop/RunLoopPump.h"
#include "platform/system/ApplicationEnvironment.h"
#include "sharing/core/SX.h"
#include "sharing/core/SXConfiguration.h"
#include "sharing/core/SXRegisterClasses.h"
#include "support/sharing/OfflineQueueSupport.h"

int main(int argc, char** argv) {
  if (argc != 3 && argc != 4) {
    std::fprintf(stderr, "usage: %s <home> <service base URL> [<most open files>]\n", argv[0]);
    return 2;
  }
  const bool cancelAndExit = argc == 4 && std::string_view(argv[3]) == "cancel-and-exit";
  if (argc == 4 && !cancelAndExit) {
    rlimit limit{};
    limit.rlim_cur = limit.rlim_max = std::strtoul(argv[3], nullptr, 10);
    if (::setrlimit(RLIMIT_NOFILE, &limit) != 0) {
      std::perror("setrlimit");
      return 2;
    }
  }
  using namespace zv;
  RunLoop::setMainThreadToCurrent();
  ApplicationEnvironment::shared().setHomeDirectory(argv[1]);
  net::ReachabilityProvider::install(std::make_shared<net::FakeReachabilityProvider>());
  registerSharingCoreClasses();
  testing::registerOfflineQueueTestSharers();
  testing::QueueReplaySharer::setServiceURL(argv[2]);
  SXConfiguration::sharedInstanceWithConfigurator(std::make_shared<DefaultSXConfigurator>());
  if (cancelAndExit) testing::QueueProbeSharer::setScript(testing::QueueProbeSharer::Script::Never);
  SX::flushOfflineQueue();
  std::fprintf(stderr, "flushed\n");
  auto queue = SX::currentHelper()->offlineQueue();
  if (cancelAndExit) {
    pumpRunLoopUntil([] { return testing::QueueProbeSharer::sent().size() >= 3; }, 30.0);
    const auto queued = queue ? queue->operationCount() : 0;
    if (queue) queue->cancelAllOperations();
    // Exit while the queue's threads are in the middle of ending the cancelled replays.
    while (queue && queue->operationCount() + 20 > queued) pumpRunLoopUntil([] { return false; }, 0.001);
    std::fprintf(stderr, "exiting\n");
    return 0;
  }
  // Replays do their sharer work on this (main) thread; run it until they have all ended.
  while (queue && !queue->operations().empty()) pumpRunLoopUntil([&] { return queue->operations().empty(); }, 1.0);
  std::fprintf(stderr, "done\n");
  return 0;
}

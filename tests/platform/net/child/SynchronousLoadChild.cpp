// A synchronous load in a process whose descriptor table is full. Without an argument the load's
// own thread is given at once; with "refused" threads are refused first (a real RLIMIT_NPROC) and
// given again a moment later, so the load runs on the thread made once the system allows.
// Prints "PASS" and exits 0 when the call returned no data and an error; exits 1 otherwise and
// 77 when the scenario cannot be set up here. A load that ends the process or never returns fails
// in the test that runs this program.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "platform/foundation/ThreadStartRetry.h"
#include "platform/net/URLConnection.h"
#include "support/FullDescriptorTable.h"
#include "support/ThreadLimit.h"
#include "support/net/LoopbackPorts.h"

int main(int argc, char** argv) {
  using namespace zv;
  if (testing::kDescriptorsNeededByChecks) return 77;
  const bool refused = argc > 1 && std::string(argv[1]) == "refused";
  testing::HeldLoopbackPort refusing;
  auto request = net::URLRequest::requestWithURL(URL::make(refusing.url()));

  testing::ThreadLimit limit;
  std::atomic<bool> armed{false}, imposed{false};
  std::thread lifter;
  if (refused) {
    prepareThreadStartRetries();
    // Made while threads are given; it gives them again once the load waits for its thread.
    lifter = std::thread([&] {
      while (!armed) std::this_thread::sleep_for(std::chrono::milliseconds(5));
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      if (imposed) limit.lift();
    });
    imposed = limit.impose();
    if (!imposed) {
      armed = true;
      lifter.join();
      return 77;
    }
  }
  testing::FullDescriptorTable table;
  const bool full = table.fill();
  armed = true;
  if (!full) {
    table.free();
    if (lifter.joinable()) lifter.join();
    return 77;
  }
  Ref<net::URLResponse> response;
  Ref<Error> error;
  auto data = net::URLConnection::sendSynchronousRequest(request, &response, &error);
  table.free();
  if (lifter.joinable()) lifter.join();
  if (data || !error || error->domain() != kURLErrorDomain) {
    std::printf("expected no data and a URL error, got %s\n", error ? error->description().c_str() : "no error");
    return 1;
  }
  std::puts("PASS");
  return 0;
}

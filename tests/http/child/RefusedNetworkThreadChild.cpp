// A process that starts requests while the system refuses new threads (a real RLIMIT_NPROC), so
// the network thread cannot be made yet. More requests than the shared queue's places are
// started; once threads are given again every one of them must end (here: connection refused by
// a loopback port held closed). Prints "PASS" and exits 0, else exits 1; exits 77 when no limit
// can be imposed.
//
// With the argument "descriptors" the refusal is a full descriptor table instead: the network
// thread cannot get its loop's descriptors, and a request started and then cancelled meanwhile
// must end cancelled once descriptors are free, never run.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "http/HTTPRequest.h"
#include "http/HTTPRequestErrors.h"
#include "platform/foundation/Values.h"
#include "platform/runloop/RunLoopPump.h"
#include "support/FullDescriptorTable.h"
#include "support/net/LoopbackPorts.h"
#include "support/ThreadLimit.h"

namespace {

[[noreturn]] void finish(int code, const char* message) {
  std::puts(message);
  std::fflush(stdout);
  ::_exit(code);
}

[[noreturn]] void cancelWithoutDescriptors(const std::string& url) {
  using namespace zv;
  RunLoop::main();
  auto request = HTTPRequest::requestWithURL(URL::make(url));
  request->setTimeOutSeconds(30);
  std::atomic<bool> ended{false};
  request->setCompletionBlock([&ended] { ended = true; });
  request->setFailedBlock([&ended] { ended = true; });
  testing::FullDescriptorTable table;
  if (!table.fill()) finish(77, "the descriptor table cannot be filled here");
  request->start();
  request->cancel();
  pumpRunLoopUntil([] { return false; }, 0.3);
  table.free();
  if (!pumpRunLoopUntil([&] { return ended.load(); }, 60.0)) finish(1, "the request never ended");
  auto error = request->error();
  if (!error || error->code() != RequestErrorCancelled) finish(1, "the cancelled request ran instead");
  finish(0, "PASS");
}

}  // namespace

int main(int argc, char** argv) {
  using namespace zv;
  // Held for the whole run, so every connection there is refused.
  testing::HeldLoopbackPort refusing;
  if (argc > 1 && std::string(argv[1]) == "descriptors") cancelWithoutDescriptors(refusing.url());
  const std::string url = refusing.url();
  testing::ThreadLimit limit;
  if (!limit.impose()) return 77;
  std::atomic<int> ended{0};
  std::vector<Ref<HTTPRequest>> requests;
  for (int i = 0; i < 6; ++i) {
    auto request = HTTPRequest::requestWithURL(URL::make(url));
    request->setTimeOutSeconds(30);
    request->setCompletionBlock([&ended] { ++ended; });
    request->setFailedBlock([&ended] { ++ended; });
    request->startAsynchronous();
    requests.push_back(request);
  }
  pumpRunLoopUntil([] { return false; }, 0.3);
  limit.lift();
  if (!pumpRunLoopUntil([&] { return ended.load() == 6; }, 60.0)) {
    std::printf("%d of 6 requests ended\n", ended.load());
    std::fflush(stdout);
    ::_exit(1);
  }
  std::puts("PASS");
  std::fflush(stdout);
  ::_exit(0);
}

// A process that starts requests while the system refuses new threads (a real RLIMIT_NPROC), so
// the network thread cannot be made yet. More requests than the shared queue's places are
// started; once threads are given again every one of them must end (here: connection refused by
// a closed loopback port). Prints "PASS" and exits 0, else exits 1; exits 77 when no limit can be
// imposed.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "http/HTTPRequest.h"
#include "platform/foundation/Values.h"
#include "platform/runloop/RunLoopPump.h"
#include "support/ThreadLimit.h"

namespace {

// A loopback port that nothing listens on: bound, then closed.
int closedLoopbackPort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  return ntohs(address.sin_port);
}

}  // namespace

int main() {
  using namespace zv;
  const std::string url = "http://127.0.0.1:" + std::to_string(closedLoopbackPort()) + "/";
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

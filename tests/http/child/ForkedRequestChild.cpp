// A process that has made requests forks without exec; the child makes requests of its own. The
// parent's network thread does not exist in the child, so the child's requests must run on a
// network thread of the child's own, and the parent's requests must go on as before. A loopback
// stand-in answers "ok" to GET /ping only (anything else is a 404, so a wrong request fails).
// Prints "PASS" and exits 0, else exits 1.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>

#include "http/HTTPRequest.h"
#include "platform/foundation/Values.h"
#include "platform/runloop/RunLoopPump.h"
#include "support/ForkChild.h"

namespace {

// Serves one request per connection, for as long as the process lives.
int startStandIn() {
  int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener, 16) != 0 || ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
    return -1;
  std::thread([listener] {
    for (;;) {
      int connection = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
      if (connection < 0) continue;
      std::string request;
      char buffer[1024];
      while (request.find("\r\n\r\n") == std::string::npos) {
        ssize_t n = ::read(connection, buffer, sizeof buffer);
        if (n <= 0) break;
        request.append(buffer, static_cast<std::size_t>(n));
      }
      const std::string answer = request.starts_with("GET /ping HTTP/1.1\r\n")
                                     ? "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok"
                                     : "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
      [[maybe_unused]] ssize_t written = ::write(connection, answer.data(), answer.size());
      ::close(connection);
    }
  }).detach();
  return ntohs(address.sin_port);
}

// One request to the stand-in, on the network thread, the main loop pumped until it ends.
bool pingAnswers(int port) {
  using namespace zv;
  auto request = HTTPRequest::requestWithURL(URL::make("http://127.0.0.1:" + std::to_string(port) + "/ping"));
  request->setTimeOutSeconds(10);
  std::atomic<bool> ended{false};
  request->setCompletionBlock([&ended] { ended = true; });
  request->setFailedBlock([&ended] { ended = true; });
  request->startAsynchronous();
  if (!pumpRunLoopUntil([&] { return ended.load(); }, testing::kForkPatience)) {
    request->clearDelegatesAndCancel();
    return false;
  }
  return !request->error() && request->responseStatusCode() == 200 && request->responseString().value_or("") == "ok";
}

}  // namespace

int main(int, char** argv) {
  using namespace zv::testing;
  letForkedChildrenMakeThreads(argv);
  const int port = startStandIn();
  if (port < 0 || !pingAnswers(port)) {
    std::puts("the stand-in did not answer before the fork");
    return 1;
  }
  pid_t child = ::fork();
  if (child == 0) {
    ::alarm(30);
    const bool first = pingAnswers(port);
    endChild(first && pingAnswers(port), "a request of the child never ended or failed");
  }
  if (waitForChild(child) != 0) return 1;
  if (!pingAnswers(port)) {
    std::puts("the parent's requests stopped after the fork");
    return 1;
  }
  return passed();
}

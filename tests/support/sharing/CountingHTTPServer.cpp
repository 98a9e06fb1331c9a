#include "support/sharing/CountingHTTPServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <vector>

namespace zv::testing {

CountingHTTPServer::~CountingHTTPServer() { stop(); }

bool CountingHTTPServer::start() {
  listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listenFd_ < 0) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(listenFd_, 8) != 0 ||
      ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    return false;
  }
  port_ = ntohs(address.sin_port);
  thread_ = std::thread([this] { serve(); });
  return true;
}

void CountingHTTPServer::stop() {
  stopping_ = true;
  if (thread_.joinable()) thread_.join();
  if (listenFd_ >= 0) ::close(listenFd_);
  listenFd_ = -1;
}

void CountingHTTPServer::serve() {
  std::vector<unsigned char> buffer(1 << 20);
  while (!stopping_) {
    pollfd waiting{listenFd_, POLLIN, 0};
    if (::poll(&waiting, 1, 100) <= 0) continue;
    const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    std::string head;
    std::uint64_t bytes = 0, sum = 0, expected = 0;
    bool inBody = false;
    soFar_ = 0;
    while (!stopping_) {
      if (inBody && bytes >= readLimit_) {
        ::poll(nullptr, 0, 20);
        continue;
      }
      pollfd readable{fd, POLLIN, 0};
      if (::poll(&readable, 1, 100) <= 0) continue;
      const std::uint64_t room = inBody ? readLimit_ - bytes : buffer.size();
      const long count = ::read(fd, buffer.data(), static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), room)));
      if (count <= 0) break;
      std::size_t offset = 0;
      if (!inBody) {
        head.append(reinterpret_cast<char*>(buffer.data()), static_cast<std::size_t>(count));
        const auto end = head.find("\r\n\r\n");
        if (end == std::string::npos) continue;
        std::string lower;
        for (char c : head.substr(0, end)) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        const auto field = lower.find("content-length:");
        if (field != std::string::npos) expected = std::stoull(lower.substr(field + 15));
        announced_ = expected;
        const std::size_t bodyInHead = head.size() - end - 4;
        offset = static_cast<std::size_t>(count) - bodyInHead;
        inBody = true;
      }
      for (std::size_t i = offset; i < static_cast<std::size_t>(count); ++i) sum += buffer[i];
      bytes += static_cast<std::size_t>(count) - offset;
      soFar_ = bytes;
      if (inBody && bytes >= expected) {
        lastBytes_ = bytes;
        lastSum_ = sum;
        const std::string body = std::to_string(bytes);
        const std::string reply = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nConnection: close\r\nContent-Length: " +
                                  std::to_string(body.size()) + "\r\n\r\n" + body;
        ++served_;  // counted before the client can see the reply
        (void)!::write(fd, reply.data(), reply.size());
        break;
      }
    }
    ::close(fd);
  }
}

}  // namespace zv::testing

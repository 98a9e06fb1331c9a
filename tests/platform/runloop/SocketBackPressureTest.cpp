// An unscheduled socket source is not read, so the sender is pushed back by TCP flow control.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "platform/runloop/FileDescriptorSource.h"
#include "platform/runloop/RunLoop.h"
#include "platform/runloop/RunLoopPump.h"
#include "platform/runloop/RunLoopSource.h"
#include "platform/runloop/Thread.h"

namespace zv {
namespace {

struct LoopbackPair {
  int client = -1;
  int server = -1;
  LoopbackPair() {
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    EXPECT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(::listen(listener, 1), 0);
    EXPECT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
    client = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    EXPECT_EQ(::connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    server = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    ::close(listener);
    ::fcntl(client, F_SETFL, ::fcntl(client, F_GETFL) | O_NONBLOCK);
    // Small buffers so back pressure comes after a few hundred kilobytes.
    int size = 16 * 1024;
    ::setsockopt(client, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    ::setsockopt(server, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
  }
  ~LoopbackPair() {
    ::close(client);
    ::close(server);
  }
};

// Writes until the kernel refuses; returns the bytes written.
std::size_t writeUntilRefused(int fd) {
  std::vector<char> chunk(4096, 'x');
  std::size_t total = 0;
  for (int i = 0; i < 100000; ++i) {
    const ssize_t n = ::send(fd, chunk.data(), chunk.size(), MSG_NOSIGNAL);
    if (n < 0) {
      EXPECT_TRUE(errno == EAGAIN || errno == EWOULDBLOCK);
      return total;
    }
    total += static_cast<std::size_t>(n);
  }
  ADD_FAILURE() << "the sender was never pushed back";
  return total;
}

// Keeps the loop turning and the sender writing until the sender can write no more (loopback
// moves queued bytes to the receiver a little later, so the first refusal is not final).
// Returns the bytes written.
std::size_t fillUntilStalled(const Ref<RunLoop>& loop, int fd) {
  std::size_t total = writeUntilRefused(fd);
  for (int round = 0; round < 100; ++round) {
    loop->runMode(kDefaultRunLoopMode, 0.02);
    const std::size_t more = writeUntilRefused(fd);
    if (more == 0) return total;
    total += more;
  }
  ADD_FAILURE() << "the sender never stalled";
  return total;
}

TEST(SocketBackPressureTest, UnscheduledSocketIsNotReadAndTheSenderStalls) {
  auto thread = Thread::detachNew(
      [] {
        LoopbackPair pair;
        auto loop = RunLoop::current();
        std::size_t received = 0;
        auto source = FileDescriptorSource::create(pair.server, kFileDescriptorReadable, [&](std::uint32_t) {
          char buffer[65536];
          ssize_t n;
          while ((n = ::recv(pair.server, buffer, sizeof buffer, 0)) > 0) received += static_cast<std::size_t>(n);
        });
        loop->addSource(RunLoopSource::create(), kDefaultRunLoopMode);

        // Never scheduled: the sender fills the buffers and stalls; nothing is read meanwhile.
        std::size_t sent = fillUntilStalled(loop, pair.client);
        EXPECT_GT(sent, 0u);
        EXPECT_EQ(received, 0u);

        // Scheduled: everything sent arrives and the sender may go on.
        loop->addSource(source, kDefaultRunLoopMode);
        EXPECT_TRUE(pumpRunLoopUntil([&] { return received == sent; }, 5.0));
        char byte = 'x';
        EXPECT_EQ(::send(pair.client, &byte, 1, MSG_NOSIGNAL), 1);
        sent += 1;
        EXPECT_TRUE(pumpRunLoopUntil([&] { return received == sent; }, 5.0));

        // Unscheduled again (as a throttled request does): reading stops at once.
        loop->removeSource(source, kDefaultRunLoopMode);
        EXPECT_GT(fillUntilStalled(loop, pair.client), 0u);
        EXPECT_EQ(received, sent);
        source->invalidate();
      },
      "socket-test");
  ASSERT_TRUE(thread->joinFor(20.0));
}

}  // namespace
}  // namespace zv

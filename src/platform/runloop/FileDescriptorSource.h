#pragma once
// A run-loop source for a file descriptor (socket, pipe, eventfd): fires with the events that
// are ready (readable, writable, error or hang-up) on the thread of the loop it is scheduled on.
//
// The source does not own the descriptor: invalidate (or unschedule) it before closing the
// descriptor, on the loop's thread (from another thread a firing already begun may still read
// the descriptor). Polling is level-triggered: a readable descriptor that the handler does not read
// fires again on the next turn. A source belongs to one run loop (in any number of its modes);
// while it is scheduled in no mode of that loop the descriptor is not polled, so the kernel
// buffers fill and TCP pushes back on the sender.

#include <cstdint>
#include <functional>

#include "platform/runloop/RunLoopSource.h"

namespace zv {

enum FileDescriptorEvent : std::uint32_t {
  kFileDescriptorReadable = 1u << 0,
  kFileDescriptorWritable = 1u << 1,
  kFileDescriptorError = 1u << 2,    // reported whatever was asked for
  kFileDescriptorHangUp = 1u << 3,   // reported whatever was asked for
};

class FileDescriptorSource : public RunLoopSource {
 public:
  // `events` is the readiness asked for (readable, writable or both); the handler receives
  // what is ready.
  using EventHandler = std::function<void(std::uint32_t readyEvents)>;

  FileDescriptorSource(int fd, std::uint32_t events, EventHandler handler);
  static Ref<FileDescriptorSource> create(int fd, std::uint32_t events, EventHandler handler);
  ~FileDescriptorSource() override;

  int fileDescriptor() const { return fd_; }
  std::uint32_t events() const { return events_.load(); }
  // Changes the readiness asked for (e.g. writable only while data waits). Any thread.
  void setEvents(std::uint32_t events);

  // A file-descriptor source ignores signals.
  void signal() override {}

  // --- Internal, used by RunLoop. ---
  void performEvents(std::uint32_t readyEvents);
  void perform() override {}

 private:
  int fd_;
  std::atomic<std::uint32_t> events_;
  EventHandler handler_;
};

}  // namespace zv

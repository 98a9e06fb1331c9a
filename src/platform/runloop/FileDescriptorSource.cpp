#include "platform/runloop/FileDescriptorSource.h"

#include "platform/runloop/RunLoop.h"
#include "platform/runloop/RunLoopImpl.h"

namespace zv {

FileDescriptorSource::FileDescriptorSource(int fd, std::uint32_t events, EventHandler handler)
    : fd_(fd), events_(events), handler_(std::move(handler)) {}

Ref<FileDescriptorSource> FileDescriptorSource::create(int fd, std::uint32_t events, EventHandler handler) {
  return std::make_shared<FileDescriptorSource>(fd, events, std::move(handler));
}

FileDescriptorSource::~FileDescriptorSource() = default;

void FileDescriptorSource::setEvents(std::uint32_t events) {
  if (events_.exchange(events) == events) return;
  for (const auto& loop : attachedLoops()) {
    loop->impl().updateDescriptorEvents(this);
    loop->wakeUp();
  }
}

void FileDescriptorSource::performEvents(std::uint32_t readyEvents) {
  if (handler_ && isValid()) handler_(readyEvents);
}

}  // namespace zv

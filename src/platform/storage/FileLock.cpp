#include "platform/storage/FileLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "platform/storage/AtomicFile.h"

namespace zv::storage {

FileLock::FileLock(const std::filesystem::path& path, Mode mode) {
  std::error_code ignored;
  if (path.has_parent_path()) createPrivateFolders(path.parent_path(), ignored);
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) {
    error_ = Error::posix(errno);
    return;
  }
  int operation = mode == Mode::Shared ? LOCK_SH : LOCK_EX;
  while (::flock(fd, operation) != 0) {
    if (errno == EINTR) continue;
    error_ = Error::posix(errno);
    ::close(fd);
    return;
  }
  fd_ = fd;
}

FileLock::~FileLock() {
  if (fd_ < 0) return;
  // Unlocked before it is closed: a child made by fork while the lock was held shares it through
  // its copy of the descriptor, and closing ours alone would leave it held by that copy.
  ::flock(fd_, LOCK_UN);
  ::close(fd_);
}

}  // namespace zv::storage

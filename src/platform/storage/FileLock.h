#pragma once
// An advisory whole-file lock (flock) on a lock file beside the data it guards, so that the
// read-modify-write of a file that is replaced by rename stays exclusive across processes. The lock
// file itself is never removed (removing it would let two processes lock different files).
//
// A FileLock belongs to one thread; flock locks conflict even between two FileLocks of one process.
// A child made by fork while another thread held one shares that lock (flock locks go with the
// open file, not the process) until the holder in the parent releases it, which releases it for
// both.

#include <filesystem>

#include "platform/foundation/Error.h"

namespace zv::storage {

class FileLock {
 public:
  enum class Mode { Shared, Exclusive };

  // Opens (creating, mode 0600, with missing parent folders) and locks `path`, waiting for other
  // holders. isLocked() tells whether it worked; error() says why not.
  FileLock(const std::filesystem::path& path, Mode mode);
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  bool isLocked() const { return fd_ >= 0; }
  const Ref<Error>& error() const { return error_; }

 private:
  int fd_ = -1;
  Ref<Error> error_;
};

}  // namespace zv::storage

#include "platform/storage/AtomicFile.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <string>

#ifndef RENAME_NOREPLACE
#define RENAME_NOREPLACE (1 << 0)
#endif

namespace zv::storage {

namespace {

bool writeAll(int fd, std::string_view bytes) {
  const char* p = bytes.data();
  std::size_t left = bytes.size();
  while (left > 0) {
    ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  return true;
}

void syncFolder(const std::filesystem::path& folder) {
  int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
}

// Creates a new, empty file beside `path` under a name no other writer uses. The file is opened
// with open(2) itself rather than mkstemp, whose inner open the thread sanitizer does not see:
// it would then take a reused descriptor number for the one closed earlier on another thread.
int createTemporaryBeside(const std::filesystem::path& folder, const std::string& name, std::string& temporary) {
  static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::uint64_t bits = 0;
    if (::getrandom(&bits, sizeof bits, 0) != static_cast<ssize_t>(sizeof bits)) {
      bits = (static_cast<std::uint64_t>(::getpid()) << 32) ^ reinterpret_cast<std::uintptr_t>(&bits) ^
             static_cast<std::uint64_t>(attempt);
    }
    std::string suffix(8, 'a');
    for (char& letter : suffix) {
      letter = kLetters[bits % (sizeof kLetters - 1)];
      bits /= sizeof kLetters - 1;
    }
    temporary = (folder / ("." + name + "." + suffix)).string();
    int fd = ::open(temporary.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  errno = EEXIST;
  return -1;
}

std::atomic<bool> hardLinksFail{false};
std::atomic<bool> noReplaceRenameFails{false};

// Gives the new file `fd` its permissions and `bytes`, flushes them to disk and closes it (also
// when a step fails). 0, or the errno of the step that failed.
int fillAndClose(int fd, std::string_view bytes, std::filesystem::perms permissions) {
  int code = 0;
  if (::fchmod(fd, static_cast<mode_t>(permissions)) != 0 || !writeAll(fd, bytes) || ::fsync(fd) != 0)
    code = errno != 0 ? errno : EIO;
  if (::close(fd) != 0 && code == 0) code = errno != 0 ? errno : EIO;
  return code;
}

// What link(2) answers on a file system that has no hard links at all.
bool hardLinksUnsupported(int code) {
  switch (code) {
    case EPERM:
    case EOPNOTSUPP:
#if ENOTSUP != EOPNOTSUPP
    case ENOTSUP:
#endif
    case ENOSYS:
    case EXDEV:
      return true;
    default:
      return false;
  }
}

// renameat2(2) with RENAME_NOREPLACE: moves `from` to `to` unless `to` exists (EEXIST then).
int renameWithoutReplacing(const char* from, const char* to) {
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 28))
  return ::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE);
#elif defined(SYS_renameat2)
  return static_cast<int>(::syscall(SYS_renameat2, AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE));
#else
  errno = ENOSYS;
  return -1;
#endif
}

// What renameat2 answers where the kernel or the file system cannot rename without replacing
// (or a sandbox refuses the call).
bool noReplaceRenameUnsupported(int code) {
  switch (code) {
    case EINVAL:
    case ENOSYS:
    case EPERM:
    case EOPNOTSUPP:
#if ENOTSUP != EOPNOTSUPP
    case ENOTSUP:
#endif
      return true;
    default:
      return false;
  }
}

// Puts the written temporary file at `path` only where none is, each way atomic: link(2); where
// the file system has no hard links, a rename that refuses to replace (`temporaryMoved` is then
// set). Only where both are refused is `path` created with O_EXCL and written in place.
// 0, or the errno of the failure (EEXIST when `path` is taken).
int placeWithoutReplacing(const std::string& temporary, const std::filesystem::path& path, std::string_view bytes,
                          std::filesystem::perms permissions, bool& temporaryMoved) {
  int code = 0;
  if (hardLinksFail.load(std::memory_order_relaxed))
    code = EPERM;
  else if (::link(temporary.c_str(), path.c_str()) != 0)
    code = errno;
  if (!hardLinksUnsupported(code)) return code;
  if (noReplaceRenameFails.load(std::memory_order_relaxed))
    code = EINVAL;
  else
    code = renameWithoutReplacing(temporary.c_str(), path.c_str()) == 0 ? 0 : errno;
  if (code == 0) temporaryMoved = true;
  if (!noReplaceRenameUnsupported(code)) return code;
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return errno;
  // The file is ours from its creation on: one that could not be written whole is removed.
  code = fillAndClose(fd, bytes, permissions);
  if (code != 0) ::unlink(path.c_str());
  return code;
}

Ref<Error> writeThroughTemporary(const std::filesystem::path& path, std::string_view bytes,
                                 std::filesystem::perms permissions, bool replace) {
  std::filesystem::path folder = path.parent_path();
  std::error_code ignored;
  if (!folder.empty()) createPrivateFolders(folder, ignored);
  std::string temporary;
  int fd = createTemporaryBeside(folder, path.filename().string(), temporary);
  if (fd < 0) return Error::posix(errno);
  int code = fillAndClose(fd, bytes, permissions);
  bool temporaryMoved = false;
  if (code == 0) {
    if (replace) {
      code = ::rename(temporary.c_str(), path.c_str()) == 0 ? 0 : errno;
      temporaryMoved = code == 0;
    } else {
      code = placeWithoutReplacing(temporary, path, bytes, permissions, temporaryMoved);
    }
  }
  // Whatever happened, the temporary name is not left behind (after a rename it is gone already).
  if (!temporaryMoved) ::unlink(temporary.c_str());
  if (code != 0) return Error::posix(code);
  syncFolder(folder);
  return nullptr;
}

}  // namespace

Ref<Error> writeFileAtomically(const std::filesystem::path& path, std::string_view bytes,
                               std::filesystem::perms permissions) {
  return writeThroughTemporary(path, bytes, permissions, true);
}

Ref<Error> writeNewFileAtomically(const std::filesystem::path& path, std::string_view bytes,
                                  std::filesystem::perms permissions) {
  return writeThroughTemporary(path, bytes, permissions, false);
}

bool createPrivateFolders(const std::filesystem::path& folder, std::error_code& error) {
  error.clear();
  std::error_code absent;
  if (folder.empty() || std::filesystem::is_directory(folder, absent)) return true;
  std::filesystem::path parent = folder.parent_path();
  if (!parent.empty() && parent != folder && !createPrivateFolders(parent, error)) return false;
  // Another process may make it meanwhile; what counts is that it is a folder afterwards.
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    error = std::error_code(errno, std::generic_category());
    return false;
  }
  if (std::filesystem::is_directory(folder, error)) return true;
  if (!error) error = std::make_error_code(std::errc::not_a_directory);
  return false;
}

void setHardLinksFailForTesting(bool fail) { hardLinksFail.store(fail, std::memory_order_relaxed); }
void setNoReplaceRenameFailsForTesting(bool fail) { noReplaceRenameFails.store(fail, std::memory_order_relaxed); }

namespace {

const char* kindOfFile(mode_t mode) {
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISFIFO(mode)) return "a named pipe";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISSOCK(mode)) return "a socket";
  return "not a plain file";
}

Ref<Error> readError(int code, const std::string& text) { return Error::make(kPOSIXErrorDomain, code, text); }

int openRegularFile(const std::filesystem::path& path, Ref<Error>* error, struct stat& info) {
  // O_NONBLOCK keeps open(2) from waiting for a writer on a named pipe; the kind of file is then
  // checked on what was opened, never on the path, which could have been swapped in between.
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    if (error) *error = Error::posix(errno);
    return -1;
  }
  if (::fstat(fd, &info) != 0) {
    int code = errno;
    ::close(fd);
    if (error) *error = Error::posix(code);
    return -1;
  }
  if (!S_ISREG(info.st_mode)) {
    ::close(fd);
    if (error)
      *error = readError(S_ISDIR(info.st_mode) ? EISDIR : EINVAL,
                         path.string() + " is not a regular file (" + kindOfFile(info.st_mode) + ")");
    return -1;
  }
  int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  return fd;
}

}  // namespace

int openFileForReading(const std::filesystem::path& path, Ref<Error>* error) {
  struct stat info {};
  return openRegularFile(path, error, info);
}

std::optional<std::string> readFile(const std::filesystem::path& path, Ref<Error>* error, std::uint64_t limit) {
  struct stat info {};
  int fd = openRegularFile(path, error, info);
  if (fd < 0) return std::nullopt;
  auto tooLarge = [&] {
    ::close(fd);
    if (error)
      *error = readError(EFBIG, path.string() + " is larger than the " + std::to_string(limit) +
                                    " bytes it may have");
    return std::nullopt;
  };
  if (static_cast<std::uint64_t>(info.st_size) > limit) return tooLarge();
  std::string out;
  out.reserve(static_cast<std::size_t>(info.st_size));
  char buffer[65536];
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (error) *error = Error::posix(errno);
      ::close(fd);
      return std::nullopt;
    }
    if (n == 0) break;
    // The file may grow while it is read.
    if (out.size() + static_cast<std::size_t>(n) > limit) return tooLarge();
    out.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return out;
}

}  // namespace zv::storage

#include "platform/storage/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sys/random.h>

#include <cerrno>
#include <cstdint>
#include <fstream>
#include <sstream>

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

}  // namespace

Ref<Error> writeFileAtomically(const std::filesystem::path& path, std::string_view bytes,
                               std::filesystem::perms permissions) {
  std::filesystem::path folder = path.parent_path();
  std::error_code ec;
  if (!folder.empty()) std::filesystem::create_directories(folder, ec);
  std::string temporary;
  int fd = createTemporaryBeside(folder, path.filename().string(), temporary);
  if (fd < 0) return Error::posix(errno);
  auto fail = [&](int code) {
    ::close(fd);
    ::unlink(temporary.c_str());
    return Error::posix(code);
  };
  if (::fchmod(fd, static_cast<mode_t>(permissions)) != 0) return fail(errno);
  if (!writeAll(fd, bytes)) return fail(errno);
  if (::fsync(fd) != 0) return fail(errno);
  if (::close(fd) != 0) {
    int code = errno;
    ::unlink(temporary.c_str());
    return Error::posix(code);
  }
  if (::rename(temporary.c_str(), path.c_str()) != 0) {
    int code = errno;
    ::unlink(temporary.c_str());
    return Error::posix(code);
  }
  syncFolder(folder);
  return nullptr;
}

std::optional<std::string> readFile(const std::filesystem::path& path, Ref<Error>* error) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (error) *error = Error::posix(errno);
    return std::nullopt;
  }
  std::string out;
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
    out.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return out;
}

}  // namespace zv::storage

#include "platform/storage/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
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

}  // namespace

Ref<Error> writeFileAtomically(const std::filesystem::path& path, std::string_view bytes,
                               std::filesystem::perms permissions) {
  std::filesystem::path folder = path.parent_path();
  std::error_code ec;
  if (!folder.empty()) std::filesystem::create_directories(folder, ec);
  std::string temporary = (folder / ("." + path.filename().string() + ".XXXXXX")).string();
  int fd = ::mkstemp(temporary.data());
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

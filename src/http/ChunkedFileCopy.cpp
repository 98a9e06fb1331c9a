#include "http/ChunkedFileCopy.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <vector>

#include "platform/crypto/Digest.h"

#include "http/HTTPRequestErrors.h"
#include "platform/foundation/Format.h"
#include "platform/storage/AtomicFile.h"
#include "platform/system/ApplicationEnvironment.h"

namespace zv::httpdetail {
namespace {

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() { close(); }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }
  int close() {
    int result = 0;
    if (fd_ >= 0) result = ::close(fd_);
    fd_ = -1;
    return result;
  }

 private:
  int fd_;
};

// Reads until the buffer is full or the file ends; -1 on error.
ssize_t readFully(int fd, std::uint8_t* buffer, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    ssize_t n = ::read(fd, buffer + done, size - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return static_cast<ssize_t>(done);
}

bool writeFully(int fd, const std::uint8_t* bytes, std::size_t length) {
  while (length > 0) {
    ssize_t n = ::write(fd, bytes, length);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes += n;
    length -= static_cast<std::size_t>(n);
  }
  return true;
}

void report(Ref<Error>* error, Ref<Error> value) {
  if (error) *error = std::move(value);
}

}  // namespace

namespace {

bool copyTransformed(const std::string& verb, const std::string& sourcePath, const std::string& destinationPath,
                     const ChunkTransform& transform, Ref<Error>* error) {
  FileDescriptor output(::open(destinationPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
  if (output.get() < 0) {
    report(error, makeRequestError(RequestErrorCompression,
                                   format("%s of %s failed because we were to create a file at %s", verb.c_str(),
                                          sourcePath.c_str(), destinationPath.c_str())));
    return false;
  }
  struct stat info {};
  if (::stat(sourcePath.c_str(), &info) != 0) {
    report(error, makeRequestError(RequestErrorCompression,
                                   format("%s of %s failed the file does not exist", verb.c_str(), sourcePath.c_str())));
    return false;
  }
  FileDescriptor input(storage::openFileForReading(sourcePath));
  std::vector<std::uint8_t> buffer(kFileChunkSize);
  bool sawBytes = false;
  while (true) {
    ssize_t n = input.get() < 0 ? -1 : readFully(input.get(), buffer.data(), buffer.size());
    if (n < 0) {
      report(error, makeRequestError(RequestErrorCompression,
                                     format("%s of %s failed because we were unable to read from the source data file",
                                            verb.c_str(), sourcePath.c_str()),
                                     Error::posix(errno)));
      return false;
    }
    // A source whose size is an exact multiple of the chunk size still gets its last call, with
    // an empty chunk, so the stream is completed.
    if (n == 0 && !sawBytes) break;
    sawBytes = true;
    bool isLast = static_cast<std::size_t>(n) < kFileChunkSize;
    Ref<Error> chunkError;
    int writeErrno = 0;
    ChunkWriter write = [&](const std::uint8_t* bytes, std::size_t length) {
      if (writeFully(output.get(), bytes, length)) return true;
      writeErrno = errno;
      return false;
    };
    bool transformed = transform(buffer.data(), static_cast<std::size_t>(n), isLast, write, &chunkError);
    if (writeErrno == 0 && !transformed) {
      report(error, chunkError ? chunkError : makeRequestError(RequestErrorCompression, verb + " failed"));
      return false;
    }
    if (writeErrno != 0) {
      errno = writeErrno;
      report(error, makeRequestError(RequestErrorCompression,
                                     format("%s of %s failed because we were unable to write to the destination data "
                                            "file at %s",
                                            verb.c_str(), sourcePath.c_str(), destinationPath.c_str()),
                                     Error::posix(errno)));
      return false;
    }
    if (isLast) break;
  }
  if (output.close() != 0) {
    report(error, makeRequestError(RequestErrorCompression,
                                   format("%s of %s failed because we were unable to write to the destination data "
                                          "file at %s",
                                          verb.c_str(), sourcePath.c_str(), destinationPath.c_str()),
                                   Error::posix(errno)));
    return false;
  }
  return true;
}

}  // namespace

bool transformFile(const std::string& verb, const std::string& sourcePath, const std::string& destinationPath,
                   const ChunkTransform& transform, const std::function<Ref<Error>()>& closeStream, Ref<Error>* error) {
  bool copied = copyTransformed(verb, sourcePath, destinationPath, transform, error);
  Ref<Error> closing = closeStream();
  if (copied && closing) {
    report(error, closing);
    return false;
  }
  return copied;
}

std::string siblingTemporaryPath(const std::string& path) {
  std::filesystem::path target(path);
  // Appended piece by piece: GCC 12 at -O3 misreads `"." + name` as an overlapping copy.
  std::string name(1, '.');
  name.append(target.filename().string());
  name.push_back('.');
  name.append(crypto::makeUUIDString());
  return (target.parent_path() / name).string();
}

std::string newTemporaryFilePath() {
  return (ApplicationEnvironment::shared().processTemporaryDirectory() / crypto::makeUUIDString()).string();
}

std::FILE* openPrivateFile(const std::string& path, bool append) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (append ? O_APPEND : O_TRUNC), 0600);
  if (fd < 0) return nullptr;
  std::FILE* file = ::fdopen(fd, append ? "ab" : "wb");
  if (!file) {
    int failure = errno;
    ::close(fd);
    errno = failure;
  }
  return file;
}

int copyFile(const std::string& from, const std::string& to, unsigned mode, std::uint64_t* copied) {
  Ref<Error> failure;
  FileDescriptor input(storage::openFileForReading(from, &failure));
  if (input.get() < 0) return failure && failure->domain() == kPOSIXErrorDomain ? static_cast<int>(failure->code()) : EIO;
  std::string staging = siblingTemporaryPath(to);
  FileDescriptor output(::open(staging.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode & 0777));
  if (output.get() < 0) return errno;
  auto fail = [&](int code) {
    output.close();
    ::unlink(staging.c_str());
    return code;
  };
  // The umask does not narrow or widen what the caller asked for.
  if (::fchmod(output.get(), mode & 0777) != 0) return fail(errno);
  std::vector<std::uint8_t> buffer(kFileChunkSize);
  std::uint64_t total = 0;
  while (true) {
    ssize_t n = readFully(input.get(), buffer.data(), buffer.size());
    if (n < 0) return fail(errno);
    if (n == 0) break;
    if (!writeFully(output.get(), buffer.data(), static_cast<std::size_t>(n))) return fail(errno);
    total += static_cast<std::uint64_t>(n);
  }
  if (::fsync(output.get()) != 0) return fail(errno);
  if (output.close() != 0) return fail(errno);
  if (::rename(staging.c_str(), to.c_str()) != 0) {
    int code = errno;
    ::unlink(staging.c_str());
    return code;
  }
  if (copied) *copied = total;
  return 0;
}

int moveFile(const std::string& from, const std::string& to) {
  if (::rename(from.c_str(), to.c_str()) == 0) return 0;
  if (errno != EXDEV) return errno;
  struct stat info {};
  if (::stat(from.c_str(), &info) != 0) return errno;
  if (int failed = copyFile(from, to, info.st_mode & 0777)) return failed;
  ::unlink(from.c_str());
  return 0;
}

}  // namespace zv::httpdetail

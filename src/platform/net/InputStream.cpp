#include "platform/net/InputStream.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/net/NetErrors.h"
#include "platform/storage/AtomicFile.h"

namespace zv::net {

namespace {

class DataInputStream : public InputStream {
 public:
  explicit DataInputStream(Ref<Data> data) : data_(std::move(data)) {}
  long read(std::uint8_t* buffer, std::size_t maxLength) override {
    if (!data_) return 0;
    std::size_t count = std::min(maxLength, data_->length() - offset_);
    if (count) std::memcpy(buffer, data_->data() + offset_, count);
    offset_ += count;
    return static_cast<long>(count);
  }

 private:
  Ref<Data> data_;
  std::size_t offset_ = 0;
};

class FileInputStream : public InputStream {
 public:
  explicit FileInputStream(std::string path) : path_(std::move(path)) {}
  ~FileInputStream() override { close(); }
  bool open() override {
    if (file_) return true;
    // Only a regular file is streamed, and opening never waits on a pipe.
    Ref<Error> failure;
    int fd = storage::openFileForReading(path_, &failure);
    if (fd >= 0) {
      file_ = ::fdopen(fd, "rb");
      if (!file_) {
        failure = makePOSIXError(errno);
        ::close(fd);
      }
    }
    if (!file_) error_ = failure;
    return file_ != nullptr;
  }
  void close() override {
    if (file_) std::fclose(file_);
    file_ = nullptr;
  }
  long read(std::uint8_t* buffer, std::size_t maxLength) override {
    if (!file_ && !open()) return kReadError;
    std::size_t count = std::fread(buffer, 1, maxLength, file_);
    if (count == 0 && std::ferror(file_)) {
      error_ = makePOSIXError(EIO);
      return kReadError;
    }
    return static_cast<long>(count);
  }
  Ref<Error> streamError() const override { return error_; }

 private:
  std::string path_;
  std::FILE* file_ = nullptr;
  Ref<Error> error_;
};

}  // namespace

Ref<InputStream> InputStream::withData(Ref<Data> data) { return std::make_shared<DataInputStream>(std::move(data)); }

Ref<InputStream> InputStream::withFileAtPath(std::string path) {
  return std::make_shared<FileInputStream>(std::move(path));
}

}  // namespace zv::net

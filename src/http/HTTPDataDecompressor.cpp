#include "http/HTTPDataDecompressor.h"

#include <algorithm>
#include <vector>

#include "http/ChunkedFileCopy.h"
#include "http/HTTPRequestErrors.h"
#include "platform/foundation/Format.h"

namespace zv {

Ref<HTTPDataDecompressor> HTTPDataDecompressor::decompressor() {
  auto decompressor = std::make_shared<HTTPDataDecompressor>();
  decompressor->setupStream();
  return decompressor;
}

HTTPDataDecompressor::~HTTPDataDecompressor() {
  if (streamReady()) closeStream();
}

Ref<Error> HTTPDataDecompressor::setupStream() {
  if (streamReady()) return nullptr;
  zStream_ = z_stream{};  // no input yet; zlib's own allocator (Z_NULL)
  int status = inflateInit2(&zStream_, 47);
  if (status != Z_OK) return inflateErrorWithCode(status);
  streamReady_ = true;
  streamEnded_ = false;
  return nullptr;
}

Ref<Error> HTTPDataDecompressor::closeStream() {
  if (!streamReady()) return nullptr;
  streamReady_ = false;
  int status = inflateEnd(&zStream_);
  if (status != Z_OK) return inflateErrorWithCode(status);
  return nullptr;
}

bool HTTPDataDecompressor::inflateBytes(const void* bytes, std::size_t length, const Sink& sink, Ref<Error>* error) {
  if (length == 0) return true;
  if (!streamReady()) {
    if (error) *error = inflateErrorWithCode(Z_STREAM_ERROR);
    return false;
  }
  if (window_.empty()) window_.resize(kInflateWindowSize);
  const auto* next = static_cast<const Bytef*>(bytes);
  std::size_t left = length;
  // zlib counts input in 32-bit units: a larger buffer goes in slices.
  constexpr std::size_t kSlice = std::size_t{1} << 30;
  while (left > 0 && !streamEnded_) {
    std::size_t slice = std::min(left, kSlice);
    zStream_.next_in = const_cast<Bytef*>(next);
    zStream_.avail_in = static_cast<uInt>(slice);
    while (true) {
      zStream_.next_out = window_.data();
      zStream_.avail_out = static_cast<uInt>(window_.size());
      int status = inflate(&zStream_, Z_NO_FLUSH);
      std::size_t produced = window_.size() - zStream_.avail_out;
      if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR) {
        if (error) *error = inflateErrorWithCode(status);
        return false;
      }
      if (produced > 0 && !sink(window_.data(), produced)) return false;
      if (status == Z_STREAM_END) {
        streamEnded_ = true;
        break;
      }
      // No progress is possible without more input (a full window is followed by another turn).
      if (status == Z_BUF_ERROR && produced == 0) break;
      if (zStream_.avail_out != 0 && zStream_.avail_in == 0) break;
    }
    next += slice;
    left -= slice;
  }
  return true;
}

Ref<Data> HTTPDataDecompressor::uncompressBytes(const void* bytes, std::size_t length, Ref<Error>* error) {
  if (length == 0) return nullptr;
  std::vector<std::uint8_t> output;
  bool ok = inflateBytes(bytes, length,
                         [&](const std::uint8_t* window, std::size_t size) {
                           output.insert(output.end(), window, window + size);
                           return true;
                         },
                         error);
  if (!ok) return nullptr;
  return Data::make(std::move(output));
}

Ref<Data> HTTPDataDecompressor::uncompressData(const Ref<Data>& data, Ref<Error>* error) {
  return uncompressData(data, 0, error);
}

Ref<Data> HTTPDataDecompressor::uncompressData(const Ref<Data>& data, std::uint64_t maximumLength, Ref<Error>* error) {
  if (!data || data->length() == 0) return nullptr;
  auto decompressor = HTTPDataDecompressor::decompressor();
  // A single gzip member ends with its size (modulo 2^32): a hint for the buffer, never trusted
  // beyond that.
  std::size_t hint = data->length() + data->length() / 2;
  if (data->length() >= 18 && data->data()[0] == 0x1F && data->data()[1] == 0x8B) {
    const std::uint8_t* tail = data->data() + data->length() - 4;
    std::size_t stated = tail[0] | (tail[1] << 8) | (tail[2] << 16) | (static_cast<std::size_t>(tail[3]) << 24);
    if (stated > 0 && stated <= (std::size_t{1} << 30) && stated <= data->length() * 1032) hint = stated;
  }
  if (maximumLength != 0) hint = static_cast<std::size_t>(std::min<std::uint64_t>(hint, maximumLength));
  std::vector<std::uint8_t> output;
  output.reserve(hint);
  bool tooLong = false;
  Ref<Error> failure;
  bool ok = decompressor->inflateBytes(
      data->data(), data->length(),
      [&](const std::uint8_t* window, std::size_t size) {
        if (maximumLength != 0 && output.size() + size > maximumLength) {
          tooLong = true;
          return false;
        }
        reserveWithin(output, output.size() + size, maximumLength);
        output.insert(output.end(), window, window + size);
        return true;
      },
      &failure);
  if (tooLong) failure = inflateErrorWithCode(Z_MEM_ERROR);
  if (ok && !decompressor->streamEnded()) failure = inflateErrorWithCode(Z_BUF_ERROR);
  if (failure) {
    if (error) *error = failure;
    return nullptr;
  }
  return Data::make(std::move(output));
}

bool HTTPDataDecompressor::uncompressDataFromFile(const std::string& sourcePath, const std::string& destinationPath,
                                                  Ref<Error>* error) {
  auto decompressor = HTTPDataDecompressor::decompressor();
  return httpdetail::transformFile(
      "Decompression", sourcePath, destinationPath,
      [&](const void* bytes, std::size_t length, bool isLast, const httpdetail::ChunkWriter& write,
          Ref<Error>* chunkError) {
        if (!decompressor->inflateBytes(bytes, length, write, chunkError)) return false;
        if (isLast && !decompressor->streamEnded()) {
          *chunkError = inflateErrorWithCode(Z_BUF_ERROR);
          return false;
        }
        return true;
      },
      [&] { return decompressor->closeStream(); }, error);
}

void HTTPDataDecompressor::reserveWithin(std::vector<std::uint8_t>& buffer, std::size_t needed, std::uint64_t limit) {
  if (needed <= buffer.capacity()) return;
  std::size_t grown = std::max(needed, buffer.capacity() * 2);
  if (limit != 0) grown = static_cast<std::size_t>(std::min<std::uint64_t>(grown, std::max<std::uint64_t>(limit, needed)));
  buffer.reserve(grown);
}

Ref<Error> HTTPDataDecompressor::inflateErrorWithCode(int code) {
  return makeRequestError(RequestErrorCompression,
                          format("Decompression of data failed with code %hi", static_cast<short>(code)));
}

}  // namespace zv

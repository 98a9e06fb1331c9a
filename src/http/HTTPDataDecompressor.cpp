#include "http/HTTPDataDecompressor.h"

#include <algorithm>
#include <vector>

#include <zlib.h>

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
  inflater_ = std::make_unique<net::ContentInflater>();
  streamReady_ = true;
  streamEnded_ = false;
  return nullptr;
}

Ref<Error> HTTPDataDecompressor::closeStream() {
  if (!streamReady()) return nullptr;
  streamReady_ = false;
  inflater_ = nullptr;
  return nullptr;
}

bool HTTPDataDecompressor::inflateBytes(const void* bytes, std::size_t length, const Sink& sink, Ref<Error>* error) {
  if (length == 0) return true;
  if (!streamReady() || !inflater_) {
    if (error) *error = inflateErrorWithCode(Z_STREAM_ERROR);
    return false;
  }
  auto result = inflater_->inflate(bytes, length, sink);
  streamEnded_ = inflater_->ended();
  if (result == net::ContentInflater::Result::Damaged) {
    if (error) *error = inflateErrorWithCode(inflater_->zlibCode());
    return false;
  }
  if (result == net::ContentInflater::Result::TooLong) {
    if (error) *error = inflateErrorWithCode(Z_MEM_ERROR);
    return false;
  }
  return result == net::ContentInflater::Result::Inflated;
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
  net::ContentInflater inflater(maximumLength);
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
  auto result = inflater.inflate(data->data(), data->length(), [&](const std::uint8_t* window, std::size_t size) {
    reserveWithin(output, output.size() + size, maximumLength);
    output.insert(output.end(), window, window + size);
    return true;
  });
  Ref<Error> failure;
  if (result == net::ContentInflater::Result::TooLong) {
    failure = inflateErrorWithCode(Z_MEM_ERROR);
  } else if (result != net::ContentInflater::Result::Inflated) {
    failure = inflateErrorWithCode(inflater.zlibCode());
  } else if (!inflater.ended()) {
    failure = inflateErrorWithCode(Z_BUF_ERROR);
  }
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

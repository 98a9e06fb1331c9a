#include "http/HTTPDataDecompressor.h"

#include <algorithm>
#include <vector>

#include "http/ChunkedFileCopy.h"
#include "http/HTTPRequestErrors.h"
#include "platform/foundation/Format.h"

namespace zv {
namespace {
std::size_t growthStep(std::size_t length) { return std::max<std::size_t>(length / 2, 256); }
}  // namespace

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
  zStream_ = z_stream{};
  zStream_.zalloc = Z_NULL;
  zStream_.zfree = Z_NULL;
  zStream_.opaque = Z_NULL;
  zStream_.avail_in = 0;
  zStream_.next_in = Z_NULL;
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

Ref<Data> HTTPDataDecompressor::uncompressBytes(const void* bytes, std::size_t length, Ref<Error>* error) {
  if (length == 0) return nullptr;
  if (!streamReady()) {
    if (error) *error = inflateErrorWithCode(Z_STREAM_ERROR);
    return nullptr;
  }
  // Bytes after the end of the stream are not part of it.
  if (streamEnded_) return Data::make();
  return inflateInto(bytes, length, error, length + length / 2);
}

Ref<Data> HTTPDataDecompressor::inflateInto(const void* bytes, std::size_t length, Ref<Error>* error,
                                            std::size_t initialSize) {
  const std::size_t step = growthStep(length);
  std::vector<std::uint8_t> output(initialSize);
  zStream_.next_in = static_cast<Bytef*>(const_cast<void*>(bytes));
  zStream_.avail_in = static_cast<uInt>(length);
  std::size_t produced = 0;
  while (true) {
    // Growing by at least the size so far keeps the copying of large outputs linear.
    if (produced >= output.size()) output.resize(output.size() + std::max(step, output.size()));
    zStream_.next_out = output.data() + produced;
    zStream_.avail_out = static_cast<uInt>(output.size() - produced);
    uInt before = zStream_.avail_out;
    int status = inflate(&zStream_, Z_NO_FLUSH);
    produced += before - zStream_.avail_out;
    if (status == Z_STREAM_END) {
      streamEnded_ = true;
      break;
    }
    // The previous round filled the buffer exactly and the input is used up: nothing more now.
    if (status == Z_BUF_ERROR && zStream_.avail_in == 0) break;
    if (status != Z_OK) {
      if (error) *error = inflateErrorWithCode(status);
      return nullptr;
    }
    if (zStream_.avail_out != 0) break;
  }
  output.resize(produced);
  return Data::make(std::move(output));
}

Ref<Data> HTTPDataDecompressor::uncompressData(const Ref<Data>& data, Ref<Error>* error) {
  if (!data || data->length() == 0) return nullptr;
  auto decompressor = HTTPDataDecompressor::decompressor();
  Ref<Error> failure;
  // A single gzip member ends with its size (modulo 2^32): a hint for the buffer, never trusted
  // beyond that.
  std::size_t hint = data->length() + data->length() / 2;
  if (data->length() >= 18 && data->data()[0] == 0x1F && data->data()[1] == 0x8B) {
    const std::uint8_t* tail = data->data() + data->length() - 4;
    std::size_t stated = tail[0] | (tail[1] << 8) | (tail[2] << 16) | (static_cast<std::size_t>(tail[3]) << 24);
    if (stated > 0 && stated <= (std::size_t{1} << 30) && stated <= data->length() * 1032) hint = stated + 1;
  }
  Ref<Data> result = decompressor->streamReady() && !decompressor->streamEnded()
                         ? decompressor->inflateInto(data->data(), data->length(), &failure, hint)
                         : decompressor->uncompressBytes(data->data(), data->length(), &failure);
  if (!failure && !decompressor->streamEnded()) failure = inflateErrorWithCode(Z_BUF_ERROR);
  if (failure) {
    if (error) *error = failure;
    return nullptr;
  }
  return result;
}

bool HTTPDataDecompressor::uncompressDataFromFile(const std::string& sourcePath, const std::string& destinationPath,
                                                  Ref<Error>* error) {
  auto decompressor = HTTPDataDecompressor::decompressor();
  bool ok = httpdetail::transformFile(
      "Decompression", sourcePath, destinationPath,
      [&](const void* bytes, std::size_t length, bool isLast, Ref<Error>* chunkError) -> Ref<Data> {
        Ref<Data> produced = decompressor->uncompressBytes(bytes, length, chunkError);
        if (isLast && !*chunkError && !decompressor->streamEnded()) *chunkError = inflateErrorWithCode(Z_BUF_ERROR);
        return produced;
      },
      error);
  Ref<Error> closing = decompressor->closeStream();
  if (ok && closing) {
    if (error) *error = closing;
    return false;
  }
  return ok;
}

Ref<Error> HTTPDataDecompressor::inflateErrorWithCode(int code) {
  return makeRequestError(RequestErrorCompression,
                          format("Decompression of data failed with code %hi", static_cast<short>(code)));
}

}  // namespace zv

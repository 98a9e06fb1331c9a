#include "http/HTTPDataCompressor.h"

#include <algorithm>
#include <vector>

#include "http/ChunkedFileCopy.h"
#include "http/HTTPRequestErrors.h"
#include "platform/foundation/Format.h"

namespace zv {
namespace {
// Half the input is the usual growth step; tiny inputs still need room for the gzip framing.
std::size_t growthStep(std::size_t length) { return std::max<std::size_t>(length / 2, 256); }
}  // namespace

Ref<HTTPDataCompressor> HTTPDataCompressor::compressor() {
  auto compressor = std::make_shared<HTTPDataCompressor>();
  compressor->setupStream();
  return compressor;
}

HTTPDataCompressor::~HTTPDataCompressor() {
  if (streamReady()) closeStream();
}

Ref<Error> HTTPDataCompressor::setupStream() {
  if (streamReady()) return nullptr;
  zStream_ = z_stream{};  // no input yet; zlib's own allocator (Z_NULL)
  int status = deflateInit2(&zStream_, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY);
  if (status != Z_OK) return deflateErrorWithCode(status);
  streamReady_ = true;
  return nullptr;
}

Ref<Error> HTTPDataCompressor::closeStream() {
  if (!streamReady()) return nullptr;
  streamReady_ = false;
  int status = deflateEnd(&zStream_);
  // A stream closed before its end reports Z_DATA_ERROR; that is a normal abandon, not a failure.
  if (status != Z_OK && status != Z_DATA_ERROR) return deflateErrorWithCode(status);
  return nullptr;
}

Ref<Data> HTTPDataCompressor::compressBytes(const void* bytes, std::size_t length, Ref<Error>* error,
                                            bool shouldFinish) {
  if (length == 0) return nullptr;
  return deflateChunk(bytes, length, error, shouldFinish);
}

Ref<Data> HTTPDataCompressor::deflateChunk(const void* bytes, std::size_t length, Ref<Error>* error, bool finish) {
  if (!streamReady()) {
    if (error) *error = deflateErrorWithCode(Z_STREAM_ERROR);
    return nullptr;
  }
  std::vector<std::uint8_t> output(length / 2);
  const std::size_t step = growthStep(length);
  zStream_.next_in = static_cast<Bytef*>(const_cast<void*>(bytes));
  zStream_.avail_in = static_cast<uInt>(length);
  std::size_t produced = 0;
  zStream_.avail_out = 0;
  while (zStream_.avail_out == 0) {
    if (produced >= output.size()) output.resize(output.size() + step);
    zStream_.next_out = output.data() + produced;
    zStream_.avail_out = static_cast<uInt>(output.size() - produced);
    uInt before = zStream_.avail_out;
    int status = deflate(&zStream_, finish ? Z_FINISH : Z_NO_FLUSH);
    produced += before - zStream_.avail_out;
    if (status == Z_STREAM_END) break;
    // No progress possible: the previous round filled the buffer exactly and nothing is left.
    if (status == Z_BUF_ERROR) break;
    if (status != Z_OK) {
      if (error) *error = deflateErrorWithCode(status);
      return nullptr;
    }
  }
  output.resize(produced);
  return Data::make(std::move(output));
}

Ref<Data> HTTPDataCompressor::compressData(const Ref<Data>& data, Ref<Error>* error) {
  if (!data || data->length() == 0) return nullptr;
  auto compressor = HTTPDataCompressor::compressor();
  Ref<Error> failure;
  Ref<Data> result = compressor->compressBytes(data->data(), data->length(), &failure, true);
  if (failure) {
    if (error) *error = failure;
    return nullptr;
  }
  return result;
}

bool HTTPDataCompressor::compressDataFromFile(const std::string& sourcePath, const std::string& destinationPath,
                                              Ref<Error>* error) {
  auto compressor = HTTPDataCompressor::compressor();
  return httpdetail::transformFile(
      "Compression", sourcePath, destinationPath,
      [&](const void* bytes, std::size_t length, bool isLast, const httpdetail::ChunkWriter& write,
          Ref<Error>* chunkError) {
        auto produced = compressor->deflateChunk(bytes, length, chunkError, isLast);
        if (*chunkError) return false;
        return !produced || write(produced->data(), produced->length());
      },
      [&] { return compressor->closeStream(); }, error);
}

Ref<Error> HTTPDataCompressor::deflateErrorWithCode(int code) {
  return makeRequestError(RequestErrorCompression,
                          format("Compression of data failed with code %hi", static_cast<short>(code)));
}

}  // namespace zv

#pragma once
// gzip compression of request bodies: a deflate stream (gzip header and trailer, window bits 31)
// fed chunk by chunk, plus whole-buffer and file-to-file helpers. One object serves one stream and
// is used by one thread at a time.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include <zlib.h>

#include "platform/foundation/Data.h"
#include "platform/foundation/Error.h"

namespace zv {

class HTTPDataCompressor : public Object {
 public:
  // A compressor whose stream is already set up.
  static Ref<HTTPDataCompressor> compressor();

  // Sets up the deflate stream; nothing happens when it is ready already.
  Ref<Error> setupStream();
  Ref<Error> closeStream();
  bool streamReady() const { return streamReady_.load(); }

  // The gzip bytes produced for this chunk; nullptr for an empty chunk (no error) or on error.
  // With `shouldFinish` the stream is completed with its trailer.
  Ref<Data> compressBytes(const void* bytes, std::size_t length, Ref<Error>* error, bool shouldFinish);

  // The whole buffer as one gzip stream; nullptr for empty input (no error) or on error.
  static Ref<Data> compressData(const Ref<Data>& data, Ref<Error>* error);
  // Compresses a file into another in chunks of 262144 bytes.
  static bool compressDataFromFile(const std::string& sourcePath, const std::string& destinationPath, Ref<Error>* error);

  static Ref<Error> deflateErrorWithCode(int code);

  HTTPDataCompressor() = default;
  ~HTTPDataCompressor() override;

 private:
  // Runs deflate over one chunk (possibly empty, which only makes sense with `finish`).
  Ref<Data> deflateChunk(const void* bytes, std::size_t length, Ref<Error>* error, bool finish);

  z_stream zStream_{};
  std::atomic<bool> streamReady_{false};
};

}  // namespace zv

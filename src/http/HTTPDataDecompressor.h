#pragma once
// Inflating gzip or zlib streams (window bits 47 detect either header) chunk by chunk, so a
// response can be inflated while it arrives, plus whole-buffer and file-to-file helpers. One
// object serves one stream and is used by one thread at a time.

#include <atomic>
#include <cstddef>
#include <string>

#include <zlib.h>

#include "platform/foundation/Data.h"
#include "platform/foundation/Error.h"

namespace zv {

class HTTPDataDecompressor : public Object {
 public:
  // A decompressor whose stream is already set up.
  static Ref<HTTPDataDecompressor> decompressor();

  Ref<Error> setupStream();
  Ref<Error> closeStream();
  bool streamReady() const { return streamReady_.load(); }
  // Whether the compressed stream's end (trailer included) has been seen.
  bool streamEnded() const { return streamEnded_; }

  // Whatever this chunk inflates to (possibly empty data while the stream needs more input);
  // nullptr for an empty chunk (no error) or on error.
  Ref<Data> uncompressBytes(const void* bytes, std::size_t length, Ref<Error>* error);

  // The whole buffer inflated. A stream that stops before its end is an error (code -5), so a
  // truncated body is never taken for a whole one. nullptr for empty input (no error).
  static Ref<Data> uncompressData(const Ref<Data>& data, Ref<Error>* error);
  // Inflates a file into another in chunks of 262144 bytes; a truncated source is an error.
  static bool uncompressDataFromFile(const std::string& sourcePath, const std::string& destinationPath,
                                     Ref<Error>* error);

  static Ref<Error> inflateErrorWithCode(int code);

  HTTPDataDecompressor() = default;
  ~HTTPDataDecompressor() override;

 private:
  Ref<Data> inflateInto(const void* bytes, std::size_t length, Ref<Error>* error, std::size_t initialSize);

  z_stream zStream_{};
  std::atomic<bool> streamReady_{false};
  bool streamEnded_ = false;
};

}  // namespace zv

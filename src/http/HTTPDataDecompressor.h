#pragma once
// Inflating gzip or zlib bodies chunk by chunk, so a response can be inflated while it arrives,
// plus whole-buffer and file-to-file helpers. The rules of what a whole body is (every gzip member,
// nothing after the last one) are the network layer's ContentInflater's, shared with URL
// connections. One object serves one stream and is used by one thread at a time.
//
// Memory: a small input may inflate to a thousand times its size, so output is produced in windows
// of at most kInflateWindowSize bytes handed to a sink one after the other; the file-to-file helper
// writes each window before inflating the next, whatever the ratio. Only the helpers that return
// the whole output as one buffer hold it all, and uncompressData takes a limit for that.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/foundation/Data.h"
#include "platform/foundation/Error.h"
#include "platform/net/ContentInflater.h"

namespace zv {

class HTTPDataDecompressor : public Object {
 public:
  // A decompressor whose stream is already set up.
  static Ref<HTTPDataDecompressor> decompressor();

  Ref<Error> setupStream();
  Ref<Error> closeStream();
  bool streamReady() const { return streamReady_.load(); }
  // Whether the compressed body so far is whole: its last member ended, trailer included.
  bool streamEnded() const { return streamEnded_; }

  static constexpr std::size_t kInflateWindowSize = net::ContentInflater::kWindowSize;
  // Receives one window of output; answers NO to stop inflating.
  using Sink = std::function<bool(const std::uint8_t* bytes, std::size_t length)>;

  // Inflates this chunk, handing the output to `sink` in windows of at most kInflateWindowSize
  // bytes (none while the stream needs more input). NO on damaged data (*error set) or when the
  // sink stopped it (*error untouched). Bytes after the end of a member that do not begin another
  // gzip member are damaged data.
  bool inflateBytes(const void* bytes, std::size_t length, const Sink& sink, Ref<Error>* error);

  // Whatever this chunk inflates to, as one buffer (possibly empty data while the stream needs
  // more input); nullptr for an empty chunk (no error) or on error.
  Ref<Data> uncompressBytes(const void* bytes, std::size_t length, Ref<Error>* error);

  // The whole buffer inflated. A stream that stops before its end is an error (code -5), so a
  // truncated body is never taken for a whole one. nullptr for empty input (no error). With a
  // `maximumLength` other than 0, output beyond it stops the work with the inflate error of code
  // -4 (not enough memory for it), before the output is held.
  static Ref<Data> uncompressData(const Ref<Data>& data, Ref<Error>* error);
  static Ref<Data> uncompressData(const Ref<Data>& data, std::uint64_t maximumLength, Ref<Error>* error);
  // Inflates a file into another in chunks of 262144 bytes, writing window by window; a truncated
  // source is an error.
  static bool uncompressDataFromFile(const std::string& sourcePath, const std::string& destinationPath,
                                     Ref<Error>* error);

  static Ref<Error> inflateErrorWithCode(int code);

  // Room in `buffer` for `needed` bytes, grown by doubling as vectors grow but never past `limit`
  // (0: none; `needed` itself is within it), so that a limit bounds the buffer and not twice it.
  static void reserveWithin(std::vector<std::uint8_t>& buffer, std::size_t needed, std::uint64_t limit);

  HTTPDataDecompressor() = default;
  ~HTTPDataDecompressor() override;

 private:
  std::unique_ptr<net::ContentInflater> inflater_;
  std::atomic<bool> streamReady_{false};
  bool streamEnded_ = false;
};

}  // namespace zv

#pragma once
// Inflates a body sent with "Content-Encoding: gzip" or "deflate", chunk by chunk, for every
// client of the network layer (URL connections and the HTTP request class).
//
// The rules live here once:
// - A gzip body is a series of members (RFC 1952): every member is inflated, one after the other;
//   anything after a member that does not begin another is an error. A zlib (deflate) body is one
//   stream, and bytes after its end are an error too.
// - A body is whole only when its last member ended: ended() answers that, so a body cut short is
//   never taken for a whole one.
// - A maximum length bounds the output: the window that would pass it is refused before it reaches
//   the sink, so the bound holds for whatever the sink keeps. A small input may inflate to a
//   thousand times its size, hence a fixed figure rather than a ratio.
//
// Output goes to a sink in windows of at most kWindowSize bytes. One object serves one body and is
// used by one thread at a time.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include <zlib.h>

namespace zv::net {

// What a body kept whole in memory may inflate to unless a caller chooses otherwise.
inline constexpr std::uint64_t kDefaultMaximumInflatedLength = std::uint64_t{512} << 20;

class ContentInflater {
 public:
  enum class Result {
    Inflated,  // all input taken (the body may still need more)
    Damaged,   // not a valid body, or bytes after its end (zlibCode() tells which zlib status)
    TooLong,   // the output would pass the maximum length
    Stopped,   // the sink said stop
  };
  static constexpr std::size_t kWindowSize = 262144;
  // Receives one window of output; answers false to stop.
  using Sink = std::function<bool(const std::uint8_t* bytes, std::size_t length)>;

  // `maximumLength` 0: no bound.
  explicit ContentInflater(std::uint64_t maximumLength = 0);
  ~ContentInflater();
  ContentInflater(const ContentInflater&) = delete;
  ContentInflater& operator=(const ContentInflater&) = delete;

  Result inflate(const void* bytes, std::size_t length, const Sink& sink);
  // Whether what was fed so far is a whole body (at least one member, the last one ended).
  bool ended() const { return ended_; }
  // Whether the body can end here: nothing at all came (an empty body is no damaged one), or the
  // last member ended.
  bool canEnd() const { return !started_ || ended_; }
  // The zlib status of the last Damaged result (Z_DATA_ERROR for bytes after the end).
  int zlibCode() const { return zlibCode_; }
  std::uint64_t inflatedLength() const { return produced_; }
  std::uint64_t maximumLength() const { return maximumLength_; }

 private:
  Result fail(int code);

  z_stream stream_{};
  bool ready_ = false;
  bool started_ = false;  // a byte of input was seen
  bool gzip_ = false;     // the body began with the gzip magic
  bool ended_ = false;    // the last member ended and nothing of another began
  bool broken_ = false;
  int zlibCode_ = Z_OK;
  std::uint64_t produced_ = 0;
  std::uint64_t maximumLength_ = 0;
  std::vector<std::uint8_t> window_;
};

}  // namespace zv::net

#include "platform/net/ContentInflater.h"

#include <algorithm>

namespace zv::net {

namespace {
// 15 + 32: a gzip or a zlib header, whichever comes.
constexpr int kAnyHeader = 15 + 32;
// 15 + 16: a gzip header only (every member after the first).
constexpr int kGzipHeader = 15 + 16;
}  // namespace

ContentInflater::ContentInflater(std::uint64_t maximumLength) : maximumLength_(maximumLength) {
  ready_ = inflateInit2(&stream_, kAnyHeader) == Z_OK;
}

ContentInflater::~ContentInflater() {
  if (ready_) inflateEnd(&stream_);
}

ContentInflater::Result ContentInflater::fail(int code) {
  broken_ = true;
  ended_ = false;
  zlibCode_ = code;
  return Result::Damaged;
}

ContentInflater::Result ContentInflater::inflate(const void* bytes, std::size_t length, const Sink& sink) {
  if (broken_) return Result::Damaged;
  if (!ready_) return fail(Z_STREAM_ERROR);
  if (length == 0) return Result::Inflated;
  const auto* next = static_cast<const Bytef*>(bytes);
  if (!started_) {
    started_ = true;
    gzip_ = next[0] == 0x1F;
  }
  if (window_.empty()) window_.resize(kWindowSize);
  std::size_t left = length;
  // zlib counts input in 32-bit units: a larger buffer goes in slices.
  constexpr std::size_t kSlice = std::size_t{1} << 30;
  while (left > 0) {
    if (ended_) {
      // More input after a member's end: only another gzip member may follow.
      if (!gzip_) return fail(Z_DATA_ERROR);
      if (inflateReset2(&stream_, kGzipHeader) != Z_OK) return fail(Z_STREAM_ERROR);
      ended_ = false;
    }
    std::size_t slice = std::min(left, kSlice);
    stream_.next_in = const_cast<Bytef*>(next);
    stream_.avail_in = static_cast<uInt>(slice);
    while (true) {
      stream_.next_out = window_.data();
      stream_.avail_out = static_cast<uInt>(window_.size());
      int status = ::inflate(&stream_, Z_NO_FLUSH);
      if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR) return fail(status);
      std::size_t produced = window_.size() - stream_.avail_out;
      if (produced > 0) {
        if (maximumLength_ != 0 && produced > maximumLength_ - std::min(produced_, maximumLength_)) {
          broken_ = true;
          return Result::TooLong;
        }
        produced_ += produced;
        if (!sink(window_.data(), produced)) {
          broken_ = true;
          return Result::Stopped;
        }
      }
      if (status == Z_STREAM_END) {
        ended_ = true;
        break;
      }
      // No progress is possible without more input (a full window is followed by another turn).
      if (status == Z_BUF_ERROR && produced == 0) break;
      if (stream_.avail_out != 0 && stream_.avail_in == 0) break;
    }
    std::size_t used = slice - stream_.avail_in;
    next += used;
    left -= used;
    // Input left unused without an end means zlib needs no more of this slice: it cannot happen
    // short of an end, but never loop on it.
    if (!ended_ && stream_.avail_in != 0) return fail(Z_BUF_ERROR);
  }
  return Result::Inflated;
}

}  // namespace zv::net

#pragma once
// The Thrift transport of the note-service clients: the serialised call is buffered and, on
// flush, sent as one HTTP POST ("application/x-thrift") through the project's URL connection (TLS
// with host-name verification, proxies, the test host map); the reply body is then read back.
// A failed exchange, a status other than 200, a reply larger than the configured maximum message
// size (the load stops there, holding no more) or reading past the reply raise
// TTransportException. Every byte read counts against the reply's known size, so the protocol's
// own size checks see how much the reply still holds.
//
// Threads: one transport per client per call; blocks the calling thread (never the main one).

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <thrift/transport/TVirtualTransport.h>

#include "platform/foundation/Data.h"

namespace zv {

class NoteServiceHTTPTransport
    : public apache::thrift::transport::TVirtualTransport<NoteServiceHTTPTransport> {
 public:
  // `configuration` sets the maximum message size (by default the library's, 100 MB).
  NoteServiceHTTPTransport(std::string url, double timeoutSeconds,
                           std::shared_ptr<apache::thrift::TConfiguration> configuration = nullptr);

  bool isOpen() const override { return true; }
  void open() override {}
  void close() override {}

  uint32_t read(uint8_t* buffer, uint32_t length);
  void write(const uint8_t* buffer, uint32_t length);
  void flush() override;

  // The bytes of the current reply not read yet (no reply: none).
  std::size_t replyBytesLeft() const { return reply_ ? reply_->length() - replyOffset_ : 0; }

 private:
  std::string url_;
  double timeoutSeconds_;
  std::vector<uint8_t> request_;
  Ref<Data> reply_;  // held once, as the load delivered it
  std::size_t replyOffset_ = 0;
};

}  // namespace zv

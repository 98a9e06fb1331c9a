// The HTTP response reader fed bytes as a server would send them, then the connection's end: no
// input crashes it, and its verdict (error, status, body, left-over bytes) is the same whether the
// bytes come in one piece, byte by byte, or in pieces of another size.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/net/ResponseParser.h"

namespace {

struct Verdict {
  bool ok = false;
  std::string domain;
  std::int64_t code = 0;
  int status = -1;
  bool headerComplete = false;
  std::string body;
  std::string leftover;
  bool operator==(const Verdict&) const = default;
};

Verdict read(std::string_view wire, std::size_t piece, bool head, bool acceptsSwitch) {
  // A small head limit, so the limits are reached by short inputs too.
  zv::net::ResponseParser parser(head, 512);
  parser.setAcceptsProtocolSwitch(acceptsSwitch);
  std::string body;
  bool ok = true;
  std::size_t step = piece == 0 ? wire.size() : piece;
  for (std::size_t at = 0; ok && at < wire.size(); at += step) ok = parser.feed(wire.substr(at, step), body);
  if (ok) ok = parser.finish(body);
  Verdict verdict;
  verdict.ok = ok;
  if (parser.error()) {
    verdict.domain = parser.error()->domain();
    verdict.code = parser.error()->code();
  }
  if (parser.response()) {
    verdict.status = parser.response()->statusCode();
    verdict.headerComplete = parser.response()->isHeaderComplete();
    if (verdict.status < 100 || verdict.status > 599) std::abort();
  }
  verdict.body = body;
  verdict.leftover = parser.leftover();
  return verdict;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  // The first byte chooses the request kind and a piece size; the rest is the wire.
  std::uint8_t control = data[0];
  std::string_view wire(reinterpret_cast<const char*>(data + 1), size - 1);
  bool head = (control & 1) != 0;
  bool acceptsSwitch = (control & 2) != 0;
  std::size_t piece = 2 + (control >> 2) % 23;
  Verdict whole = read(wire, 0, head, acceptsSwitch);
  if (!(read(wire, 1, head, acceptsSwitch) == whole)) std::abort();
  if (!(read(wire, piece, head, acceptsSwitch) == whole)) std::abort();
  return 0;
}

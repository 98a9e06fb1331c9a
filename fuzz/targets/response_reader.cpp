// The HTTP response reader fed bytes as a server would send them, then the connection's end: no
// input crashes it, and its verdict (error, status, body, left-over bytes) is the same whether the
// bytes come in one piece, byte by byte, or in pieces of another size, both while the connection is
// still open and after its end. A head is refused at the byte that spoils it: fed byte by byte, the
// byte refused is the one that ends the shortest prefix refused when given whole.
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

// `refusedAt`, when given: the index of the byte whose feed() failed (npos: none did).
Verdict read(std::string_view wire, std::size_t piece, bool head, bool acceptsSwitch, bool ends,
             std::size_t* refusedAt = nullptr) {
  // A small head limit, so the limits are reached by short inputs too.
  zv::net::ResponseParser parser(head, 512);
  parser.setAcceptsProtocolSwitch(acceptsSwitch);
  std::string body;
  bool ok = true;
  std::size_t step = piece == 0 ? wire.size() : piece;
  if (refusedAt) *refusedAt = std::string_view::npos;
  for (std::size_t at = 0; ok && at < wire.size(); at += step) {
    ok = parser.feed(wire.substr(at, step), body);
    if (!ok && refusedAt) *refusedAt = at;
  }
  if (ok && ends) ok = parser.finish(body);
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
  for (bool ends : {false, true}) {
    Verdict whole = read(wire, 0, head, acceptsSwitch, ends);
    std::size_t refusedAt = 0;
    if (!(read(wire, 1, head, acceptsSwitch, ends, &refusedAt) == whole)) std::abort();
    if (!(read(wire, piece, head, acceptsSwitch, ends) == whole)) std::abort();
    if (!ends && refusedAt != std::string_view::npos) {
      // The prefix without the refused byte is not refused; with it, it is, in the same way.
      Verdict before = read(wire.substr(0, refusedAt), 0, head, acceptsSwitch, false);
      Verdict at = read(wire.substr(0, refusedAt + 1), 0, head, acceptsSwitch, false);
      if (!before.ok || at.ok || at.domain != whole.domain || at.code != whole.code) std::abort();
    }
  }
  return 0;
}

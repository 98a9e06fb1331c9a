#include "sharing/json/JCUTF8.h"

namespace zv {

namespace {

bool isContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// Bytes a lead promises, including itself; 1 for bytes that never lead.
std::size_t promisedLength(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead < 0xC0) return 1;
  if (lead < 0xE0) return 2;
  if (lead < 0xF0) return 3;
  if (lead < 0xF8) return 4;
  return 1;
}

}  // namespace

JCUTF8Sequence checkUTF8Sequence(const unsigned char* p, const unsigned char* end) {
  const unsigned char lead = *p;
  if (lead < 0x80) return {JCUTF8Result::WellFormed, 1, lead};
  const std::size_t promised = promisedLength(lead);
  auto illFormed = [&]() -> JCUTF8Sequence {
    std::size_t n = 1;
    while (n < promised && p + n < end && isContinuation(p[n])) ++n;
    return {JCUTF8Result::IllFormed, n, 0xFFFD};
  };
  if (lead < 0xC2 || lead > 0xF4) return illFormed();
  // The bytes that are there are looked at before the end of the text is: a byte that cannot
  // continue the sequence makes it ill formed, however soon the text ends after it.
  unsigned char low = 0x80, high = 0xBF;
  if (lead == 0xE0) low = 0xA0;
  else if (lead == 0xED) high = 0x9F;
  else if (lead == 0xF0) low = 0x90;
  else if (lead == 0xF4) high = 0x8F;
  for (std::size_t i = 1; i < promised; ++i) {
    if (p + i >= end) return {JCUTF8Result::CutShort, i, 0xFFFD};
    const bool fits = i == 1 ? p[i] >= low && p[i] <= high : isContinuation(p[i]);
    if (!fits) return illFormed();
  }
  const unsigned char second = p[1];
  char32_t c;
  if (promised == 2) {
    c = ((lead & 0x1Fu) << 6) | (second & 0x3Fu);
  } else if (promised == 3) {
    c = ((lead & 0x0Fu) << 12) | ((second & 0x3Fu) << 6) | (p[2] & 0x3Fu);
  } else {
    c = ((lead & 0x07u) << 18) | ((second & 0x3Fu) << 12) | ((p[2] & 0x3Fu) << 6) | (p[3] & 0x3Fu);
  }
  if (isIllegalJSONCodePoint(c)) return {JCUTF8Result::IllFormed, promised, 0xFFFD};
  return {JCUTF8Result::WellFormed, promised, c};
}

}  // namespace zv

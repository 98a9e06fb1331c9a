#include "platform/storage/PropertyListShape.h"

#include <algorithm>
#include <cstdint>
#include <cctype>
#include <cstdlib>
#include <limits>
#include <vector>

#include "platform/foundation/AsciiText.h"

namespace zv::storage {

namespace {

constexpr std::size_t kHeaderSize = 8;
constexpr std::size_t kTrailerSize = 32;
// The decoder copies a shared object once per reference, so what it builds is counted in bytes:
// each object costs a node plus the bytes of its text or data. The budget is this many nodes or
// one per input byte if more, generous for real documents, far below what exhausts memory.
constexpr std::uint64_t kExpansionFloor = 1u << 20;
// What a node of the decoder's tree costs, in bytes, its text or data aside.
constexpr std::uint64_t kNodeBytes = 64;

std::uint64_t readBigEndian(const unsigned char* p, std::size_t size) {
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < size; ++i) value = (value << 8) | p[i];
  return value;
}

struct Container {
  std::uint64_t referencesAt = 0;  // byte offset of the first reference
  std::uint64_t referenceCount = 0;
  std::uint64_t keyCount = 0;  // the first keyCount references of a dictionary are its keys
};

}  // namespace

std::string checkBinaryPropertyListShape(std::string_view text, std::size_t maximumDepth) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  const std::uint64_t size = text.size();
  if (size < kHeaderSize + kTrailerSize + 1) return "too short";
  const unsigned char* trailer = bytes + size - kTrailerSize;
  const std::size_t offsetSize = trailer[6];
  const std::size_t referenceSize = trailer[7];
  const std::uint64_t objectCount = readBigEndian(trailer + 8, 8);
  const std::uint64_t rootObject = readBigEndian(trailer + 16, 8);
  const std::uint64_t tableAt = readBigEndian(trailer + 24, 8);
  const std::uint64_t objectsEnd = size - kTrailerSize;
  if (offsetSize < 1 || offsetSize > 8 || referenceSize < 1 || referenceSize > 8) return "bad integer sizes";
  if (objectCount == 0 || rootObject >= objectCount) return "bad object count or root";
  if (tableAt < kHeaderSize || tableAt > objectsEnd || objectCount > (objectsEnd - tableAt) / offsetSize)
    return "offset table out of bounds";

  std::vector<std::uint64_t> offsets(objectCount);
  for (std::uint64_t i = 0; i < objectCount; ++i) {
    offsets[i] = readBigEndian(bytes + tableAt + i * offsetSize, offsetSize);
    if (offsets[i] < kHeaderSize || offsets[i] >= tableAt) return "object offset out of bounds";
  }

  // The kind of the object, its element count and where its elements start, or a problem text.
  struct Header {
    unsigned kind = 0;
    std::uint64_t count = 0;
    std::uint64_t contentAt = 0;
  };
  auto headerAt = [&](std::uint64_t object, Header& out) -> std::string {
    std::uint64_t at = offsets[object];
    unsigned char marker = bytes[at];
    out.kind = marker >> 4;
    out.count = marker & 0x0F;
    ++at;
    if (out.count == 0x0F) {
      if (at >= tableAt) return "truncated count";
      unsigned char countMarker = bytes[at];
      if ((countMarker >> 4) != 0x1 || (countMarker & 0x0F) > 3) return "bad count marker";
      std::size_t countSize = std::size_t{1} << (countMarker & 0x0F);
      if (at + 1 + countSize > tableAt) return "truncated count";
      out.count = readBigEndian(bytes + at + 1, countSize);
      at += 1 + countSize;
    }
    out.contentAt = at;
    return {};
  };

  auto containerAt = [&](std::uint64_t object, Container& out) -> std::string {
    out = Container{};
    Header header;
    if (std::string problem = headerAt(object, header); !problem.empty()) return problem;
    if (header.kind != 0xA && header.kind != 0xC && header.kind != 0xD) return {};
    std::uint64_t references = header.kind == 0xD ? header.count * 2 : header.count;
    if (header.count > size || references > (tableAt - header.contentAt) / referenceSize)
      return "container references out of bounds";
    out.referencesAt = header.contentAt;
    out.referenceCount = references;
    out.keyCount = header.kind == 0xD ? header.count : 0;
    return {};
  };

  // The decoder aborts on a dictionary key holding a NUL character and cuts other strings short
  // at one, so strings holding NUL stop here.
  auto stringProblem = [&](std::uint64_t object, bool isKey) -> std::string {
    Header header;
    if (std::string problem = headerAt(object, header); !problem.empty()) return problem;
    std::uint64_t unitSize = header.kind == 0x5 ? 1 : header.kind == 0x6 ? 2 : 0;
    if (unitSize == 0) return isKey ? "a dictionary key is not a string" : std::string();
    if (header.count > (tableAt - header.contentAt) / unitSize) return "a string runs out of bounds";
    for (std::uint64_t i = 0; i < header.count; ++i) {
      const unsigned char* unit = bytes + header.contentAt + i * unitSize;
      if (unit[0] == 0 && (unitSize == 1 || unit[1] == 0))
        return isKey ? "a dictionary key holds a NUL character" : "a string holds a NUL character";
    }
    return {};
  };

  enum : unsigned char { Unvisited, Open, Done };
  std::vector<unsigned char> state(objectCount, Unvisited);
  std::vector<std::uint64_t> expanded(objectCount, 0);
  const std::uint64_t budget = std::max<std::uint64_t>(size, kExpansionFloor) * kNodeBytes;
  // The bytes the decoder builds for one copy of the object, its members aside.
  auto ownBytes = [&](std::uint64_t object) -> std::uint64_t {
    Header header;
    if (!headerAt(object, header).empty()) return kNodeBytes;
    // Text or data; UTF-16 text grows to up to three UTF-8 bytes a unit. A count beyond the file
    // is refused elsewhere and costs no more than the file here.
    std::uint64_t units = std::min<std::uint64_t>(header.count, size);
    std::uint64_t payload = header.kind == 0x4 || header.kind == 0x5 ? units : header.kind == 0x6 ? units * 3 : 0;
    return kNodeBytes + payload;
  };

  struct Frame {
    std::uint64_t object;
    Container container;
    std::uint64_t next;
    std::uint64_t total;
  };
  std::vector<Frame> stack;
  auto open = [&](std::uint64_t object) -> std::string {
    if (stack.size() >= maximumDepth) return "nested too deeply";
    Container container;
    std::string problem = containerAt(object, container);
    if (problem.empty()) problem = stringProblem(object, false);
    if (!problem.empty()) return problem;
    state[object] = Open;
    stack.push_back(Frame{object, container, 0, ownBytes(object)});
    return {};
  };
  if (std::string problem = open(rootObject); !problem.empty()) return problem;
  while (!stack.empty()) {
    Frame& frame = stack.back();
    if (frame.next == frame.container.referenceCount) {
      state[frame.object] = Done;
      expanded[frame.object] = frame.total;
      std::uint64_t total = frame.total;
      stack.pop_back();
      if (!stack.empty()) {
        stack.back().total += total;
        if (stack.back().total > budget) return "shared objects expand too far";
      }
      continue;
    }
    std::uint64_t child =
        readBigEndian(bytes + frame.container.referencesAt + frame.next * referenceSize, referenceSize);
    bool isKey = frame.next < frame.container.keyCount;
    ++frame.next;
    if (child >= objectCount) return "reference out of bounds";
    if (isKey)
      if (std::string problem = stringProblem(child, true); !problem.empty()) return problem;
    if (state[child] == Open) return "an object contains itself";
    if (state[child] == Done) {
      frame.total += expanded[child];
      if (frame.total > budget) return "shared objects expand too far";
      continue;
    }
    if (std::string problem = open(child); !problem.empty()) return problem;
  }
  return {};
}

namespace {

// Decimal or "0x" hexadecimal, with an optional sign, between INT64_MIN and UINT64_MAX. The
// decoder would read a leading zero as octal and wrap or saturate values out of range, so those
// are refused.
bool isIntegerText(std::string_view text) {
  text = ascii::trim(text);
  bool negative = false;
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  if (hex) text.remove_prefix(2);
  if (text.empty()) return false;
  if (!hex && text.size() > 1 && text[0] == '0') return false;
  const unsigned base = hex ? 16 : 10;
  std::uint64_t magnitude = 0;
  for (char c : text) {
    const int digit = ascii::hexDigitValue(c);
    if (digit < 0 || static_cast<unsigned>(digit) >= base) return false;
    if (magnitude > (std::numeric_limits<std::uint64_t>::max() - static_cast<unsigned>(digit)) / base) return false;
    magnitude = magnitude * base + static_cast<unsigned>(digit);
  }
  return !negative || magnitude <= std::uint64_t{1} << 63;
}

// Reads exactly `count` decimal digits.
bool readDigits(std::string_view text, std::size_t at, std::size_t count, int& value) {
  value = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const char c = text[at + i];
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  return true;
}

// "YYYY-MM-DDTHH:MM:SSZ" with every field in range and the instant within the seconds the
// decoder holds (32 bits either side of 2001-01-01). The decoder itself skips blanks, takes
// signs and clamps the year, so anything else is refused here.
bool isDateText(std::string_view text) {
  text = ascii::trim(text);
  if (text.size() != 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
      text[16] != ':' || text[19] != 'Z')
    return false;
  int year, month, day, hour, minute, second;
  if (!readDigits(text, 0, 4, year) || !readDigits(text, 5, 2, month) || !readDigits(text, 8, 2, day) ||
      !readDigits(text, 11, 2, hour) || !readDigits(text, 14, 2, minute) || !readDigits(text, 17, 2, second))
    return false;
  static constexpr int kDaysInMonth[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  if (month < 1 || month > 12) return false;
  const int days = kDaysInMonth[month - 1] + (month == 2 && leap ? 1 : 0);
  if (day < 1 || day > days || hour > 23 || minute > 59 || second > 59) return false;
  // Days since 1970-01-01 of the civil date (proleptic Gregorian).
  const int y = year - (month <= 2 ? 1 : 0);
  const int era = (y >= 0 ? y : y - 399) / 400;
  const int yearOfEra = y - era * 400;
  const int dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  const std::int64_t daysSince1970 = std::int64_t{era} * 146097 + dayOfEra - 719468;
  const std::int64_t sinceReference = (daysSince1970 - 11323) * 86400 + hour * 3600 + minute * 60 + second;
  return sinceReference >= std::numeric_limits<std::int32_t>::min() &&
         sinceReference <= std::numeric_limits<std::int32_t>::max();
}

bool isRealText(std::string_view text) {
  std::string copy(ascii::trim(text));
  if (copy.empty()) return false;
  char* end = nullptr;
  std::strtod(copy.c_str(), &end);
  return end == copy.c_str() + copy.size();
}

// The '>' that ends the tag whose name ends at `from`, passing over quoted attribute values.
std::size_t endOfTag(std::string_view text, std::size_t from) {
  for (std::size_t at = from; at < text.size(); ++at) {
    const char c = text[at];
    if (c == '>') return at;
    if (c == '"' || c == '\'') {
      at = text.find(c, at + 1);
      if (at == std::string_view::npos) return at;
    }
  }
  return std::string_view::npos;
}

// The last character of the comment, CDATA section, processing instruction or declaration that
// starts at `at` ("<!" or "<?"); npos when it never ends. A declaration's quoted literals and its
// bracketed internal subset (with the comments and processing instructions inside it) are passed
// over, so a '>' inside them ends nothing. No recursion, however the subset nests.
std::size_t endOfMarkup(std::string_view text, std::size_t at) {
  auto after = [&](std::string_view terminator, std::size_t from) {
    std::size_t end = text.find(terminator, from);
    return end == std::string_view::npos ? end : end + terminator.size() - 1;
  };
  std::string_view rest = text.substr(at);
  if (rest.starts_with("<!--")) return after("-->", at + 4);
  if (rest.starts_with("<![CDATA[")) return after("]]>", at + 9);
  if (rest.starts_with("<?")) return after("?>", at + 2);
  std::size_t brackets = 0;
  for (std::size_t i = at + 2; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '"' || c == '\'') {
      i = text.find(c, i + 1);
      if (i == std::string_view::npos) return i;
    } else if (c == '[') {
      ++brackets;
    } else if (c == ']') {
      if (brackets > 0) --brackets;
    } else if (c == '<' && brackets > 0 && (text.substr(i).starts_with("<!--") || text.substr(i).starts_with("<?"))) {
      // Declarations inside the subset need nothing more than the quotes and brackets above.
      i = text.substr(i).starts_with("<?") ? after("?>", i + 2) : after("-->", i + 4);
      if (i == std::string_view::npos) return i;
    } else if (c == '>' && brackets == 0) {
      return i;
    }
  }
  return std::string_view::npos;
}

bool isBase64Text(std::string_view text) {
  for (char c : text)
    if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/' ||
          c == '=' || c == ' ' || c == '\t' || c == '\r' || c == '\n'))
      return false;
  return true;
}

}  // namespace

std::string checkXMLPropertyListShape(std::string_view text, std::size_t maximumDepth) {
  // XML has no NUL character, and the decoder aborts on a key holding one.
  if (text.find('\0') != std::string_view::npos) return "NUL character";
  // Nor may a character reference name NUL or a surrogate: the decoder would let them through as
  // bytes that are not UTF-8.
  for (std::size_t at = text.find("&#"); at != std::string_view::npos; at = text.find("&#", at + 2)) {
    std::size_t digits = at + 2;
    bool hex = digits < text.size() && (text[digits] == 'x' || text[digits] == 'X');
    if (hex) ++digits;
    std::size_t end = digits;
    std::uint32_t value = 0;
    for (; end < text.size(); ++end) {
      const int digit = ascii::hexDigitValue(text[end]);
      if (digit < 0 || (!hex && digit > 9)) break;
      value = std::min<std::uint32_t>(value * (hex ? 16 : 10) + static_cast<std::uint32_t>(digit), 0x110000);
    }
    if (end == digits || end == text.size() || text[end] != ';') continue;
    if (value == 0) return "NUL character reference";
    if (value >= 0xD800 && value <= 0xDFFF) return "surrogate character reference";
  }
  std::size_t depth = 0;
  for (std::size_t i = text.find('<'); i != std::string_view::npos; i = text.find('<', i + 1)) {
    // Markup that holds no elements is passed over whole, as the decoder passes over it, so that no
    // tag inside it counts (a comment holding "</array>" closes nothing).
    if (i + 1 < text.size() && (text[i + 1] == '!' || text[i + 1] == '?')) {
      std::size_t end = endOfMarkup(text, i);
      if (end == std::string_view::npos) return "unterminated comment, declaration or processing instruction";
      i = end;
      continue;
    }
    bool closing = i + 1 < text.size() && text[i + 1] == '/';
    std::size_t nameStart = i + (closing ? 2 : 1);
    std::size_t nameEnd = nameStart;
    while (nameEnd < text.size() && std::isalpha(static_cast<unsigned char>(text[nameEnd]))) ++nameEnd;
    std::string_view name = text.substr(nameStart, nameEnd - nameStart);
    std::size_t close = endOfTag(text, nameEnd);
    if (close == std::string_view::npos) return {};  // truncated: the decoder refuses it
    bool selfClosing = text[close - 1] == '/';
    if (name == "array" || name == "dict") {
      if (closing) {
        if (depth > 0) --depth;
      } else if (!selfClosing && ++depth > maximumDepth) {
        return "nested too deeply";
      }
    } else if (!closing && selfClosing && (name == "integer" || name == "real" || name == "date")) {
      // The decoder reads an empty element as zero, or as the reference date.
      return "empty <" + std::string(name) + "> element";
    } else if (!closing && !selfClosing && (name == "integer" || name == "real" || name == "date" || name == "data")) {
      std::size_t end = text.find("</", close + 1);
      if (end == std::string_view::npos) return {};
      std::string_view content = text.substr(close + 1, end - close - 1);
      bool ok = name == "integer" ? isIntegerText(content)
                : name == "real"  ? isRealText(content)
                : name == "date"  ? isDateText(content)
                                  : isBase64Text(content);
      if (!ok) return "malformed <" + std::string(name) + "> value";
    }
    i = close;
  }
  return {};
}

}  // namespace zv::storage

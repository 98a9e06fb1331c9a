#include "sharing/services/html/HTMLAdditions.h"

#include <algorithm>
#include <cstdint>
#include <optional>

#include "platform/foundation/AsciiText.h"
#include "platform/foundation/Unicode.h"

namespace zv::html {

namespace {

const HTMLEscapeMap* findCodeUnit(std::span<const HTMLEscapeMap> table, char32_t unit) {
  auto it = std::lower_bound(table.begin(), table.end(), unit,
                             [](const HTMLEscapeMap& entry, char32_t u) { return entry.uchar < u; });
  return it != table.end() && it->uchar == unit ? &*it : nullptr;
}

int digitValue(char c, int base) {
  int value = ascii::hexDigitValue(c);
  return value < base ? value : -1;
}

// The code point a numeric reference such as "&#65;" or "&#x41;" names, surrogates included;
// nullopt when it is not a well-formed numeric reference in range.
std::optional<char32_t> numericReference(std::string_view candidate) {
  if (!candidate.starts_with("&#")) return std::nullopt;
  std::string_view digits = candidate.substr(2, candidate.size() - 3);
  int base = 10;
  if (!digits.empty() && (digits[0] == 'x' || digits[0] == 'X')) {
    base = 16;
    digits.remove_prefix(1);
  }
  if (digits.empty()) return std::nullopt;
  std::uint32_t value = 0;
  for (char c : digits) {
    int d = digitValue(c, base);
    if (d < 0) return std::nullopt;
    value = value * static_cast<std::uint32_t>(base) + static_cast<std::uint32_t>(d);  // at most 7 digits
  }
  if (value >= 1 && value <= 65534) return value;
  if (value >= 0x10000 && value <= 0x10FFFF) return value;
  return std::nullopt;
}

std::optional<char32_t> namedReference(std::string_view candidate) {
  for (const auto& entry : fullEscapeTable()) {
    if (candidate == entry.escapeSequence) return entry.uchar;
  }
  return std::nullopt;
}

// The longest reference read, "&" and ";" included.
constexpr std::size_t kLongestReference = 10;

// The candidate reference starting at `amp`: from "&" to the first ";" before `limit`. Only as far
// as the longest reference is searched, so text full of "&" without ";" is read in linear time.
std::optional<std::string_view> candidateAt(std::string_view text, std::size_t amp, std::size_t limit) {
  std::string_view window = text.substr(amp, std::min(limit, amp + kLongestReference) - amp);
  std::size_t length = window.find(';');
  if (length == std::string_view::npos) return std::nullopt;
  ++length;
  if (length < 4) return std::nullopt;
  return window.substr(0, length);
}

// What stands in the output for a character: XML 1.0 cannot carry the C0 controls other than tab,
// line feed and carriage return, nor U+FFFE/U+FFFF, not even as references. The page and line
// breaks of copied documents stay breaks, the other controls are dropped (nullopt), the two
// non-characters become U+FFFD. (Lone surrogates never come out of the UTF-8 reader: it reads their
// bytes as ill-formed, which gives U+FFFD too.)
std::optional<char32_t> xmlCarried(char32_t cp) {
  if (cp == '\v' || cp == '\f') return U'\n';
  if (cp < 0x20 && cp != '\t' && cp != '\n' && cp != '\r') return std::nullopt;
  if (cp == 0xFFFE || cp == 0xFFFF) return unicode::kReplacementCharacter;
  return cp;
}

// Walks the characters of `text` that XML can carry (see xmlCarried), handing each to `write`
// with the output, the character to write, the character read and its bytes as they stand.
template <typename Write>
std::string escapeCarried(std::string_view text, Write write) {
  std::string out;
  out.reserve(text.size() + text.size() / 8);
  const char* p = text.data();
  const char* end = p + text.size();
  while (p < end) {
    const char* start = p;
    const char32_t read = unicode::decodeUTF8(p, end);
    const std::optional<char32_t> carried = xmlCarried(read);
    if (carried) write(out, *carried, read, std::string_view(start, static_cast<std::size_t>(p - start)));
  }
  return out;
}

// Writes a character that needs no escape: its bytes as they stand, or its UTF-8 when it was
// replaced (ill-formed input bytes come out as U+FFFD, never raw).
void appendUnescaped(std::string& out, char32_t cp, char32_t read, std::string_view bytes) {
  if (cp == unicode::kReplacementCharacter || cp != read)
    unicode::appendUTF8(out, cp);
  else
    out.append(bytes);
}

}  // namespace

std::string html_stringByEscapingHTMLUsingTable(std::string_view text, std::span<const HTMLEscapeMap> table,
                                                bool escapingUnicode) {
  return escapeCarried(text, [&](std::string& out, char32_t cp, char32_t read, std::string_view bytes) {
    if (const HTMLEscapeMap* entry = cp <= 0xFFFF ? findCodeUnit(table, cp) : nullptr) {
      out += entry->escapeSequence;
    } else if (escapingUnicode && cp >= 128) {
      out += "&#" + std::to_string(static_cast<std::uint32_t>(cp)) + ";";
    } else {
      appendUnescaped(out, cp, read, bytes);
    }
  });
}

std::string xml_stringByEscaping(std::string_view text) {
  return escapeCarried(text, [](std::string& out, char32_t cp, char32_t read, std::string_view bytes) {
    switch (cp) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&apos;"; break;
      default: appendUnescaped(out, cp, read, bytes);
    }
  });
}

std::string html_stringByEscapingForHTML(std::string_view text) {
  return html_stringByEscapingHTMLUsingTable(text, shortEscapeTable(), false);
}

std::string html_stringByEscapingForAsciiHTML(std::string_view text) {
  return html_stringByEscapingHTMLUsingTable(text, fullEscapeTable(), true);
}

std::string html_stringByUnescapingFromHTML(std::string_view text) {
  std::size_t amp = text.find('&');
  if (amp == std::string_view::npos) return std::string(text);
  std::string out(text.substr(0, amp));
  out.reserve(text.size());
  // Each "&" is paired with the first ";" before the next "&", so what a replacement produces is
  // never read again.
  while (amp != std::string_view::npos) {
    std::size_t next = text.find('&', amp + 1);
    std::size_t limit = next == std::string_view::npos ? text.size() : next;
    std::size_t copyFrom = amp;
    if (auto candidate = candidateAt(text, amp, limit)) {
      std::optional<char32_t> cp = numericReference(*candidate);
      if (!cp) cp = namedReference(*candidate);
      if (cp && unicode::isHighSurrogate(*cp)) {
        // Only a pair written as two adjacent references makes a character.
        std::optional<char32_t> low;
        std::size_t lowLimit = limit;
        if (next == amp + candidate->size()) {
          std::size_t after = text.find('&', next + 1);
          lowLimit = after == std::string_view::npos ? text.size() : after;
          if (auto second = candidateAt(text, next, lowLimit)) {
            low = numericReference(*second);
            if (low && unicode::isLowSurrogate(*low)) {
              unicode::appendUTF8(out, unicode::combineSurrogates(*cp, *low));
              copyFrom = next + second->size();
              limit = lowLimit;
              next = after;
            }
          }
        }
      } else if (cp && !unicode::isLowSurrogate(*cp)) {
        unicode::appendUTF8(out, *cp);
        copyFrom = amp + candidate->size();
      }
    }
    out.append(text.substr(copyFrom, limit - copyFrom));
    amp = next;
  }
  return out;
}

}  // namespace zv::html

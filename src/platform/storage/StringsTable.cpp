#include "platform/storage/StringsTable.h"

#include <optional>
#include <string>

#include "platform/foundation/AsciiText.h"
#include "platform/foundation/Unicode.h"
#include "platform/storage/PropertyList.h"

namespace zv::storage {

namespace {

// The table as UTF-8, or nullopt (with *problem) when the encoding is broken.
std::optional<std::string> decodeText(std::string_view bytes, std::string& problem) {
  auto decodeUTF16 = [&](std::string_view body, bool bigEndian) -> std::optional<std::string> {
    if (body.size() % 2 != 0) {
      problem = "UTF-16 text has an odd number of bytes";
      return std::nullopt;
    }
    std::u16string units;
    units.reserve(body.size() / 2);
    for (std::size_t i = 0; i < body.size(); i += 2) {
      auto first = static_cast<unsigned char>(body[i]);
      auto second = static_cast<unsigned char>(body[i + 1]);
      units.push_back(static_cast<char16_t>(bigEndian ? (first << 8 | second) : (second << 8 | first)));
    }
    for (std::size_t i = 0; i < units.size(); ++i) {
      if (unicode::isHighSurrogate(units[i])) {
        if (i + 1 < units.size() && unicode::isLowSurrogate(units[i + 1])) {
          ++i;
          continue;
        }
      } else if (!unicode::isLowSurrogate(units[i])) {
        continue;
      }
      problem = "UTF-16 text holds an unpaired surrogate at unit " + std::to_string(i);
      return std::nullopt;
    }
    return unicode::fromUTF16(units);
  };

  if (bytes.starts_with("\xFF\xFE")) return decodeUTF16(bytes.substr(2), false);
  if (bytes.starts_with("\xFE\xFF")) return decodeUTF16(bytes.substr(2), true);
  if (bytes.starts_with("\xEF\xBB\xBF")) bytes.remove_prefix(3);
  // Without a byte-order mark, text whose first unit has a zero byte is UTF-16 (tables start with
  // ASCII: a quote, a comment or white space).
  else if (bytes.size() >= 2 && bytes[0] != 0 && bytes[1] == 0)
    return decodeUTF16(bytes, false);
  else if (bytes.size() >= 2 && bytes[0] == 0 && bytes[1] != 0)
    return decodeUTF16(bytes, true);
  if (!unicode::isValidUTF8(bytes)) {
    problem = "text is neither valid UTF-8 nor UTF-16";
    return std::nullopt;
  }
  return std::string(bytes);
}

bool isWordCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '$' ||
         c == '+' || c == '/' || c == ':' || c == '.' || c == '-';
}

class Parser {
 public:
  explicit Parser(std::string_view text) : text_(text) {}

  Ref<Dictionary> parse(std::string& problem) {
    auto table = MutableDictionary::make();
    skipSpace();
    bool braced = false;
    if (ok() && peek() == '{') {
      braced = true;
      ++at_;
    }
    for (;;) {
      skipSpace();
      if (!ok()) break;
      if (atEnd()) {
        if (braced) fail("missing closing brace");
        break;
      }
      if (braced && peek() == '}') {
        ++at_;
        skipSpace();
        if (ok() && !atEnd()) fail("text after the closing brace");
        break;
      }
      auto key = token();
      if (!key) break;
      skipSpace();
      std::string value = *key;
      if (ok() && !atEnd() && peek() == '=') {
        ++at_;
        skipSpace();
        auto parsed = token();
        if (!parsed) break;
        value = std::move(*parsed);
        skipSpace();
      }
      if (!ok()) break;
      if (atEnd() || peek() != ';') {
        fail("expected ';'");
        break;
      }
      ++at_;
      table->setObject(String::make(std::move(value)), String::make(std::move(*key)));
    }
    if (!problem_.empty()) {
      problem = problem_;
      return nullptr;
    }
    return table;
  }

 private:
  bool ok() const { return problem_.empty(); }
  bool atEnd() const { return at_ >= text_.size(); }
  char peek() const { return text_[at_]; }

  void fail(const std::string& what) {
    if (!problem_.empty()) return;
    std::size_t line = 1;
    for (std::size_t i = 0; i < at_ && i < text_.size(); ++i)
      if (text_[i] == '\n') ++line;
    problem_ = what + " on line " + std::to_string(line);
  }

  void skipSpace() {
    while (!atEnd()) {
      char c = peek();
      if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v') {
        ++at_;
      } else if (text_.compare(at_, 2, "//") == 0) {
        std::size_t end = text_.find('\n', at_);
        at_ = end == std::string_view::npos ? text_.size() : end + 1;
      } else if (text_.compare(at_, 2, "/*") == 0) {
        std::size_t end = text_.find("*/", at_ + 2);
        if (end == std::string_view::npos) {
          fail("unterminated comment");
          at_ = text_.size();
          return;
        }
        at_ = end + 2;
      } else if (text_.compare(at_, 3, "\xEF\xBB\xBF") == 0) {
        at_ += 3;  // a stray byte-order mark, as concatenated tables carry
      } else {
        return;
      }
    }
  }

  std::optional<std::string> token() {
    if (atEnd()) {
      fail("unexpected end of text");
      return std::nullopt;
    }
    if (peek() == '"') return quoted();
    std::size_t start = at_;
    while (!atEnd() && isWordCharacter(peek())) ++at_;
    if (at_ == start) {
      fail(std::string("unexpected character '") + peek() + "'");
      return std::nullopt;
    }
    return std::string(text_.substr(start, at_ - start));
  }

  std::optional<std::string> quoted() {
    ++at_;  // the opening quote
    std::string out;
    char32_t pendingHigh = 0;  // a high surrogate from \U waiting for its low half
    auto flushPending = [&] {
      if (pendingHigh) unicode::appendUTF8(out, unicode::kReplacementCharacter);
      pendingHigh = 0;
    };
    while (!atEnd()) {
      char c = text_[at_++];
      if (c == '"') {
        flushPending();
        return out;
      }
      if (c != '\\') {
        flushPending();
        out.push_back(c);
        continue;
      }
      if (atEnd()) break;
      char e = text_[at_++];
      if (e == 'U' || e == 'u') {
        char32_t unit = 0;
        int digits = 0;
        while (digits < 4 && !atEnd() && ascii::hexDigitValue(peek()) >= 0) {
          unit = unit * 16 + static_cast<char32_t>(ascii::hexDigitValue(peek()));
          ++at_;
          ++digits;
        }
        if (digits == 0) {
          fail("\\U escape without hexadecimal digits");
          return std::nullopt;
        }
        if (unicode::isLowSurrogate(unit) && pendingHigh) {
          unicode::appendUTF8(out, unicode::combineSurrogates(pendingHigh, unit));
          pendingHigh = 0;
        } else {
          flushPending();
          if (unicode::isHighSurrogate(unit))
            pendingHigh = unit;
          else
            unicode::appendUTF8(out, unicode::isLowSurrogate(unit) ? unicode::kReplacementCharacter : unit);
        }
        continue;
      }
      flushPending();
      if (e >= '0' && e <= '7') {
        char32_t value = static_cast<char32_t>(e - '0');
        for (int i = 0; i < 2 && !atEnd() && peek() >= '0' && peek() <= '7'; ++i)
          value = value * 8 + static_cast<char32_t>(text_[at_++] - '0');
        unicode::appendUTF8(out, value);
        continue;
      }
      switch (e) {
        case 'n': out.push_back('\n'); break;
        case 't': out.push_back('\t'); break;
        case 'r': out.push_back('\r'); break;
        case 'a': out.push_back('\a'); break;
        case 'b': out.push_back('\b'); break;
        case 'f': out.push_back('\f'); break;
        case 'v': out.push_back('\v'); break;
        default: out.push_back(e); break;  // \" \\ \' and any other character stand for themselves
      }
    }
    fail("unterminated string");
    return std::nullopt;
  }

  std::string_view text_;
  std::size_t at_ = 0;
  std::string problem_;
};

}  // namespace

Ref<Dictionary> parseStringsTable(std::string_view bytes, Ref<Error>* error) {
  std::string problem;
  auto text = decodeText(bytes, problem);
  Ref<Dictionary> table;
  if (text) table = Parser(*text).parse(problem);
  if (!table && error)
    *error = Error::make(kPropertyListErrorDomain, kPropertyListReadCorruptError, "strings table: " + problem);
  return table;
}

}  // namespace zv::storage

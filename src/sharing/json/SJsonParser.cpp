#include "sharing/json/SJsonParser.h"

#include <cstring>

#include "platform/foundation/Format.h"
#include "platform/foundation/Unicode.h"
#include "sharing/json/DecimalNumber.h"

namespace zv {

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Bytes that end a run of plain string text: quote, backslash, controls and the terminating zero.
// Bytes of 0x80 and above also stop the fast scan, to be checked as UTF-8.
constexpr bool stopsRun(unsigned char c) { return c < 0x20 || c == '"' || c == '\\' || c >= 0x80; }

}  // namespace

ObjectPtr SJsonParser::fragmentWithString(const Ref<String>& string) {
  clearErrorTrace();
  if (!string) {
    addErrorWithCode(SJsonErrorNilInput, "Input was 'nil'");
    return nullptr;
  }
  depth_ = 0;
  elements_.clear();
  entries_.clear();
  c_ = string->utf8().c_str();
  ObjectPtr value;
  const bool ok = scanValue(value);
  if (ok) {
    skipWhiteSpace();
    if (*c_ != 0) {
      addErrorWithCode(SJsonErrorGarbage, "Garbage after JSON");
      value.reset();
    }
  } else {
    value.reset();
  }
  c_ = nullptr;
  return value;
}

ObjectPtr SJsonParser::objectWithString(const Ref<String>& string) {
  ObjectPtr value = fragmentWithString(string);
  if (!value) return nullptr;
  if (dynamic_cast<const Dictionary*>(value.get()) || dynamic_cast<const Array*>(value.get())) return value;
  addErrorWithCode(SJsonErrorFragment, "Valid fragment, but not JSON");
  return nullptr;
}

Ref<String> SJsonParser::keyFor(std::string&& text) {
  constexpr std::size_t kSlots = 256;
  if (recentKeys_.empty()) recentKeys_.resize(kSlots);
  Ref<String>& slot = recentKeys_[hashText(text) & (kSlots - 1)];
  if (!slot || slot->utf8() != text) slot = std::make_shared<String>(std::move(text));
  return slot;
}

void SJsonParser::skipWhiteSpace() {
  // A local pointer: stores through char pointers would otherwise force a reload of c_ per byte.
  const char* p = c_;
  while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\v' || *p == '\f' || *p == '\r') ++p;
  c_ = p;
}

bool SJsonParser::scanValue(ObjectPtr& out) {
  skipWhiteSpace();
  switch (*c_) {
    case '"': {
      ++c_;
      std::string text;
      if (!scanRestOfString(text)) return false;
      out = std::make_shared<MutableString>(std::move(text));
      return true;
    }
    case '[': ++c_; return scanRestOfArray(out);
    case '{': ++c_; return scanRestOfDictionary(out);
    case 't': return scanLiteral("true", "Expected 'true'", Number::yes(), out);
    case 'f': return scanLiteral("false", "Expected 'false'", Number::no(), out);
    case 'n': return scanLiteral("null", "Expected 'null'", Null::null(), out);
    case '-':
    case '0': case '1': case '2': case '3': case '4': case '5': case '6': case '7': case '8': case '9':
      return scanNumber(out);
    case '+':
      addErrorWithCode(SJsonErrorNumber, "Leading + disallowed in number");
      return false;
    case 0:
      addErrorWithCode(SJsonErrorEndOfInput, "Unexpected end of string");
      return false;
    default:
      addErrorWithCode(SJsonErrorSyntax, "Unrecognised leading character");
      return false;
  }
}

bool SJsonParser::scanLiteral(const char* word, const char* message, ObjectPtr value, ObjectPtr& out) {
  const std::size_t n = std::strlen(word);
  if (std::strncmp(c_, word, n) != 0) {
    addErrorWithCode(SJsonErrorSyntax, message);
    return false;
  }
  c_ += n;
  out = std::move(value);
  return true;
}

bool SJsonParser::scanRestOfArray(ObjectPtr& out) {
  if (!enterLevel()) return false;
  const std::size_t base = elements_.size();
  auto fail = [&](int code, const char* message) {
    addErrorWithCode(code, message);
    elements_.resize(base);
    leaveLevel();
    return false;
  };
  for (;;) {
    skipWhiteSpace();
    if (*c_ == ']') {
      ++c_;
      break;
    }
    ObjectPtr value;
    if (!scanValue(value)) return fail(SJsonErrorSyntax, "Expected value while parsing array");
    elements_.push_back(std::move(value));
    skipWhiteSpace();
    if (*c_ == ',') {
      ++c_;
      skipWhiteSpace();
      if (*c_ == ']') return fail(SJsonErrorTrailingComma, "Trailing comma disallowed in array");
    } else if (*c_ == 0) {
      return fail(SJsonErrorEndOfInput, "End of input while parsing array");
    } else if (*c_ != ']') {
      // Elements must be separated: "[1 2]" is not an array of two.
      return fail(SJsonErrorSyntax, "Expected ',' or ']' while parsing array");
    }
  }
  std::vector<ObjectPtr> elements(std::make_move_iterator(elements_.begin() + static_cast<std::ptrdiff_t>(base)),
                                  std::make_move_iterator(elements_.end()));
  elements_.resize(base);
  leaveLevel();
  out = MutableArray::make(std::move(elements));
  return true;
}

bool SJsonParser::scanRestOfDictionary(ObjectPtr& out) {
  if (!enterLevel()) return false;
  const std::size_t base = entries_.size();
  auto fail = [&](int code, std::string message) {
    addErrorWithCode(code, std::move(message));
    entries_.resize(base);
    leaveLevel();
    return false;
  };
  for (;;) {
    skipWhiteSpace();
    if (*c_ == '}') {
      ++c_;
      break;
    }
    if (*c_ == 0) return fail(SJsonErrorEndOfInput, "End of input while parsing object");
    if (*c_ != '"') return fail(SJsonErrorSyntax, "Object key string expected");
    ++c_;
    std::string keyText;
    if (!scanRestOfString(keyText)) return fail(SJsonErrorSyntax, "Object key string expected");
    skipWhiteSpace();
    if (*c_ != ':') return fail(SJsonErrorSyntax, "Expected ':' separating key and value");
    ++c_;
    ObjectPtr value;
    if (!scanValue(value)) return fail(SJsonErrorSyntax, format("Object value expected for key: %s", keyText.c_str()));
    entries_.emplace_back(keyFor(std::move(keyText)), std::move(value));
    skipWhiteSpace();
    if (*c_ == ',') {
      ++c_;
      skipWhiteSpace();
      if (*c_ == '}') return fail(SJsonErrorTrailingComma, "Trailing comma disallowed in object");
    } else if (*c_ == 0) {
      return fail(SJsonErrorEndOfInput, "End of input while parsing object");
    } else if (*c_ != '}') {
      return fail(SJsonErrorSyntax, "Expected ',' or '}' while parsing object");
    }
  }
  // A later duplicate key replaces the earlier value, as the dictionary's own construction does.
  std::vector<Dictionary::Entry> entries(std::make_move_iterator(entries_.begin() + static_cast<std::ptrdiff_t>(base)),
                                         std::make_move_iterator(entries_.end()));
  entries_.resize(base);
  leaveLevel();
  out = MutableDictionary::make(std::move(entries));
  return true;
}

bool SJsonParser::scanRestOfString(std::string& out) {
  for (;;) {
    const char* run = c_;
    const char* p = run;
    while (!stopsRun(static_cast<unsigned char>(*p))) ++p;
    c_ = p;
    out.append(run, static_cast<std::size_t>(p - run));
    const auto c = static_cast<unsigned char>(*c_);
    if (c >= 0x80) {
      // Text that is not UTF-8 cannot be appended; fail rather than scan the same run again.
      const char* p = c_;
      const char* end = p;
      while (end < p + 4 && *end != 0) ++end;
      const char* start = p;
      const char32_t cp = unicode::decodeUTF8(p, end);
      const bool replacement = (p - start == 3 && std::memcmp(start, "\xEF\xBF\xBD", 3) == 0);
      if (cp == unicode::kReplacementCharacter && !replacement) {
        addErrorWithCode(SJsonErrorUnicode, format("Invalid UTF-8 byte '0x%x'", c));
        return false;
      }
      out.append(start, static_cast<std::size_t>(p - start));
      c_ = p;
      continue;
    }
    if (c == '"') {
      ++c_;
      return true;
    }
    if (c < 0x20) {
      addErrorWithCode(SJsonErrorControlCharacter, format("Unescaped control character '0x%x'", c));
      return false;
    }
    // A backslash.
    ++c_;
    const char e = *c_;
    switch (e) {
      case '"': out.push_back('"'); break;
      case '\\': out.push_back('\\'); break;
      case '/': out.push_back('/'); break;
      case 'b': out.push_back('\b'); break;
      case 'f': out.push_back('\f'); break;
      case 'n': out.push_back('\n'); break;
      case 'r': out.push_back('\r'); break;
      case 't': out.push_back('\t'); break;
      case 'u':
        ++c_;
        if (!scanUnicodeCharacter(out)) {
          addErrorWithCode(SJsonErrorUnicode, "Broken unicode character");
          return false;
        }
        continue;
      case 0:
        addErrorWithCode(SJsonErrorEndOfInput, "Unexpected EOF while parsing string");
        return false;
      default:
        addErrorWithCode(SJsonErrorEscape, format("Illegal escape sequence '0x%x'", static_cast<unsigned char>(e)));
        return false;
    }
    ++c_;
  }
}

bool SJsonParser::scanHexQuad(unsigned& unit) {
  unit = 0;
  for (int i = 0; i < 4; ++i) {
    const char c = *c_;
    unsigned v;
    if (c >= '0' && c <= '9') v = static_cast<unsigned>(c - '0');
    else if (c >= 'a' && c <= 'f') v = static_cast<unsigned>(c - 'a' + 10);
    else if (c >= 'A' && c <= 'F') v = static_cast<unsigned>(c - 'A' + 10);
    else {
      addErrorWithCode(SJsonErrorUnicode, "Missing hex digit in quad");
      return false;
    }
    unit = unit * 16 + v;
    ++c_;
  }
  return true;
}

bool SJsonParser::scanUnicodeCharacter(std::string& out) {
  unsigned high;
  if (!scanHexQuad(high)) {
    addErrorWithCode(SJsonErrorUnicode, "Missing hex quad");
    return false;
  }
  if (high >= 0xDC00 && high <= 0xDFFF) {
    addErrorWithCode(SJsonErrorUnicode, "Invalid high character in surrogate pair");
    return false;
  }
  char32_t codePoint = high;
  if (high >= 0xD800 && high <= 0xDBFF) {
    if (c_[0] != '\\' || c_[1] != 'u') {
      addErrorWithCode(SJsonErrorUnicode, "Missing low character in surrogate pair");
      return false;
    }
    c_ += 2;
    unsigned low;
    if (!scanHexQuad(low)) {
      addErrorWithCode(SJsonErrorUnicode, "Missing hex quad");
      return false;
    }
    if (low < 0xDC00 || low > 0xDFFF) {
      addErrorWithCode(SJsonErrorUnicode, "Invalid low surrogate char");
      return false;
    }
    codePoint = (high - 0xD800) * 0x400 + (low - 0xDC00) + 0x10000;
  }
  unicode::appendUTF8(out, codePoint);
  return true;
}

bool SJsonParser::scanNumber(ObjectPtr& out) {
  const char* start = c_;
  if (*c_ == '-') {
    ++c_;
    if (!isDigit(*c_)) {
      addErrorWithCode(SJsonErrorNumber, "No digits after initial minus");
      return false;
    }
  }
  if (*c_ == '0' && isDigit(c_[1])) {
    addErrorWithCode(SJsonErrorNumber, "Leading 0 disallowed in number");
    return false;
  }
  while (isDigit(*c_)) ++c_;
  if (*c_ == '.') {
    ++c_;
    if (!isDigit(*c_)) {
      addErrorWithCode(SJsonErrorNumber, "No digits after decimal point");
      return false;
    }
    while (isDigit(*c_)) ++c_;
  }
  if (*c_ == 'e' || *c_ == 'E') {
    ++c_;
    if (*c_ == '+' || *c_ == '-') ++c_;
    if (!isDigit(*c_)) {
      addErrorWithCode(SJsonErrorNumber, "No digits after exponent");
      return false;
    }
    while (isDigit(*c_)) ++c_;
  }
  auto number = DecimalNumber::make(std::string_view(start, static_cast<std::size_t>(c_ - start)));
  if (!number) {
    addErrorWithCode(SJsonErrorNumber, "Failed creating decimal instance");
    return false;
  }
  out = std::move(number);
  return true;
}

}  // namespace zv

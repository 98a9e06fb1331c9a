#include "sharing/json/JCParseState.h"

#include <cerrno>
#include <charconv>
#include <clocale>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <locale.h>

#include "platform/foundation/Format.h"
#include "platform/foundation/Values.h"
#include "sharing/json/JCArray.h"
#include "sharing/json/JCDictionary.h"
#include "sharing/json/JCParseOptions.h"
#include "sharing/json/JCUTF8.h"

namespace zv::detail {

namespace {

constexpr const char* kUnexpectedToken =
    "Unexpected token, wanted '{', '}', '[', ']', ',', ':', 'true', 'false', 'null', '\"STRING\"', 'NUMBER'.";

enum Accept : unsigned { kAcceptValue = 1, kAcceptComma = 2, kAcceptEnd = 4 };

bool isDigit(unsigned char c) { return c >= '0' && c <= '9'; }

bool isValueToken(JCTokenType t) {
  return t == JCTokenTypeNumber || t == JCTokenTypeString || t == JCTokenTypeObjectBegin ||
         t == JCTokenTypeArrayBegin || t == JCTokenTypeTrue || t == JCTokenTypeFalse || t == JCTokenTypeNull;
}

std::uint32_t hashOfValue(std::uint32_t start, std::uint64_t bits) {
  std::uint32_t h = start;
  for (int i = 0; i < 8; ++i) h = jcHashStep(h, static_cast<unsigned char>(bits >> (8 * i)));
  return h;
}

const Ref<String>& emptyString() {
  static const Ref<String>& empty = *new Ref<String>(String::make(""));
  return empty;
}

// Number::makeSigned with the value in the arena.
Ref<Number> makeNumber(JCArena* arena, NumberType type, std::int64_t value) {
  return std::allocate_shared<Number>(JCValueAllocator<Number>(arena), type, value, static_cast<std::uint64_t>(value),
                                      static_cast<double>(value));
}

// Only used on the error path, to tell an underflow from an overflow as the C library reads it.
double strtodInCLocale(const char* text) {
  static locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
  return strtod_l(text, nullptr, c);
}

}  // namespace

JCParseState::JCParseState(std::uint32_t options) : options_(options), cache_(kCacheSlots) {
  tokenBuffer_.reserve(2048);
  objects_.reserve(1024);
  keys_.reserve(1024);
  keyHashes_.reserve(1024);
}

void JCParseState::clearCache() {
  for (auto& item : cache_) item = JCTokenCacheItem{};
  ages_.fill(0);
  cachedOfGeneration_.fill(0);
}

void JCParseState::dropOldGeneration() {
  // Runs once generation_ is the new parse's: the count of its parity is that of generation_ - 2.
  std::size_t& old = cachedOfGeneration_[generation_ & 1];
  if (old == 0) return;
  const std::uint32_t previous = generation_ - 1;
  for (std::size_t i = 0; i < cache_.size(); ++i) {
    JCTokenCacheItem& item = cache_[i];
    if (item.object && item.generation != previous) {
      item.object.reset();
      item.keyHash = 0;
      ages_[i] = 0;
    }
  }
  old = 0;
}

void JCParseState::endParse(bool succeeded) {
  // After a success every value the parse made is alive (in the tree, or among the replaced
  // pairs), so the cached ones can take their own reference. After a failure some may be freed
  // already: their items are dropped without touching them (no caller holds such values).
  auto settle = [&](std::size_t slot) {
    JCTokenCacheItem& item = cache_[slot];
    if (item.generation != generation_ || !item.object || item.object.use_count() != 0) return;
    if (succeeded) {
      item.object = item.object->self();
    } else {
      item.object = nullptr;
      item.keyHash = 0;
      ages_[slot] = 0;
      --cachedOfGeneration_[generation_ & 1];
    }
  };
  if (madeSlots_.size() < kCacheSlots) {
    for (std::uint32_t slot : madeSlots_) settle(slot);
  } else {
    for (std::size_t slot = 0; slot < kCacheSlots; ++slot) settle(slot);
  }
  madeSlots_.clear();
  replaced_.clear();
  arena_->close();
  arena_->release();
  arena_ = nullptr;
}

void JCParseState::recordError(const char* fmt, ...) {
  if (error_) return;
  va_list args;
  va_start(args, fmt);
  std::string message = formatv(fmt, args);
  va_end(args);
  auto userInfo = Dictionary::make({
      {kLocalizedDescriptionKey, String::make(std::move(message))},
      {JCAtIndexKey, Number::makeUnsigned(index_, NumberType::UnsignedLongLong)},
      {JCLineNumberKey, Number::makeUnsigned(line_, NumberType::UnsignedLongLong)},
  });
  error_ = Error::make(JCErrorDomain, -1, userInfo);
}

void JCParseState::recordUnexpectedToken() { recordError("%s", kUnexpectedToken); }

void JCParseState::recordExpected(unsigned accept, const char* valueWording, const char* endWording) {
  const char* parts[3];
  int n = 0;
  if (accept & kAcceptValue) parts[n++] = valueWording;
  if (accept & kAcceptComma) parts[n++] = "a comma";
  if (accept & kAcceptEnd) parts[n++] = endWording;
  const int len = static_cast<int>(token_.length);
  const char* raw = reinterpret_cast<const char*>(text_ + token_.start);
  if (n == 1) {
    recordError("Expected %s, not '%*.*s'", parts[0], len, len, raw);
  } else if (n == 2) {
    recordError("Expected %s or %s, not '%*.*s'", parts[0], parts[1], len, len, raw);
  } else {
    recordError("Expected %s, %s or %s, not '%*.*s'", parts[0], parts[1], parts[2], len, len, raw);
  }
}

ObjectPtr JCParseState::parse(const unsigned char* bytes, std::size_t length, bool mutableCollections,
                              Ref<Error>* error) {
  text_ = bytes;
  length_ = length;
  index_ = 0;
  line_ = 1;
  lineStart_ = 0;
  error_.reset();
  mutableCollections_ = mutableCollections;
  depth_ = 0;
  ++generation_;
  dropOldGeneration();
  arena_ = JCArena::open(length);
  ObjectPtr result;
  // Runs on every way out, an exception included.
  struct EndParse {
    JCParseState& state;
    const ObjectPtr& result;
    ~EndParse() { state.endParse(result != nullptr); }
  } endParse{*this, result};

  if (length_ > 0 && nextToken()) {
    if (token_.type != JCTokenTypeArrayBegin && token_.type != JCTokenTypeObjectBegin) {
      recordError("Expected either '[' or '{'.");
    } else if ((result = valueFromToken())) {
      skipWhiteSpace();
      if (index_ < length_ && (options_ & JCParseTrailingText) == 0) {
        recordError("A valid JSON object was parsed but there were additional non-white-space characters remaining.");
        result.reset();
      }
    }
  }
  if (!result) {
    if (index_ == length_) recordError("Reached the end of the buffer.");
    recordError("Unable to parse JSON.");
    if (error) *error = error_;
  }

  objects_.clear();
  keys_.clear();
  keyHashes_.clear();
  error_.reset();
  text_ = nullptr;
  length_ = index_ = lineStart_ = 0;
  line_ = 1;
  mutableCollections_ = false;
  token_ = Token{};
  return result;
}

// --- Tokenizer ---------------------------------------------------------------------------------

std::size_t JCParseState::lineBreakLength(std::size_t at) const {
  const unsigned char c = text_[at];
  if (c == '\n') return 1;
  if (c == '\r') return (at + 1 < length_ && text_[at + 1] == '\n') ? 2 : 1;
  if ((options_ & JCParseUnicodeLineBreaks) != 0) {
    if (c == 0xC2 && at + 1 < length_ && text_[at + 1] == 0x85) return 2;
    if (c == 0xE2 && at + 2 < length_ && text_[at + 1] == 0x80 && (text_[at + 2] == 0xA8 || text_[at + 2] == 0xA9))
      return 3;
  }
  return 0;
}

void JCParseState::skipWhiteSpace() {
  while (index_ < length_) {
    // Runs of indentation are the common case: walk them with locals the compiler can keep in
    // registers (stores through the byte pointer would otherwise force reloads of the members).
    {
      const unsigned char* p = text_ + index_;
      const unsigned char* const end = text_ + length_;
      while (p < end && (*p == ' ' || *p == '\t')) ++p;
      index_ = static_cast<std::size_t>(p - text_);
      if (p == end) return;
    }
    const unsigned char c = text_[index_];
    // Only these bytes can start a line break or a comment.
    if (c != '\n' && c != '\r' && c != '/' && c != 0xC2 && c != 0xE2) return;
    if (std::size_t n = lineBreakLength(index_)) {
      index_ += n;
      ++line_;
      lineStart_ = index_;
      continue;
    }
    if ((options_ & JCParseComments) != 0 && c == '/' && index_ + 1 < length_) {
      if (text_[index_ + 1] == '/') {
        index_ += 2;
        while (index_ < length_) {
          if (std::size_t n = lineBreakLength(index_)) {
            index_ += n;
            ++line_;
            lineStart_ = index_;
            break;
          }
          ++index_;
        }
        continue;
      }
      if (text_[index_ + 1] == '*') {
        index_ += 2;
        while (index_ < length_) {
          if (text_[index_] == '*' && index_ + 1 < length_ && text_[index_ + 1] == '/') {
            index_ += 2;
            break;
          }
          if (std::size_t n = lineBreakLength(index_)) {
            index_ += n;
            ++line_;
            lineStart_ = index_;
          } else {
            ++index_;
          }
        }
        continue;
      }
    }
    return;
  }
}

bool JCParseState::nextToken() {
  skipWhiteSpace();
  token_.start = index_;
  token_.cacheItem = nullptr;
  if (index_ >= length_) {
    token_.length = 0;
    recordUnexpectedToken();
    return false;
  }
  auto single = [&](JCTokenType type) {
    token_.type = type;
    token_.length = 1;
    ++index_;
    return true;
  };
  switch (text_[index_]) {
    case '{': return single(JCTokenTypeObjectBegin);
    case '}': return single(JCTokenTypeObjectEnd);
    case '[': return single(JCTokenTypeArrayBegin);
    case ']': return single(JCTokenTypeArrayEnd);
    case ':': return single(JCTokenTypeSeparator);
    case ',': return single(JCTokenTypeComma);
    case 't': return parseLiteral("true", 4, JCTokenTypeTrue);
    case 'f': return parseLiteral("false", 5, JCTokenTypeFalse);
    case 'n': return parseLiteral("null", 4, JCTokenTypeNull);
    case '"': return parseString();
    case '-':
    case '0': case '1': case '2': case '3': case '4': case '5': case '6': case '7': case '8': case '9':
      return parseNumber();
    default:
      token_.length = 1;
      recordUnexpectedToken();
      return false;
  }
}

bool JCParseState::parseLiteral(const char* word, std::size_t length, JCTokenType type) {
  // The word must be followed by at least one more byte of the text.
  if (index_ + length < length_ && std::memcmp(text_ + index_, word, length) == 0) {
    token_.type = type;
    token_.length = length;
    index_ += length;
    return true;
  }
  token_.length = 1;
  recordUnexpectedToken();
  return false;
}

bool JCParseState::parseNumber() {
  std::size_t i = index_;
  const bool negative = text_[i] == '-';
  bool isDouble = false;
  auto invalid = [&] {
    index_ = i;
    token_.length = i - token_.start;
    recordError("Invalid number.");
    return false;
  };
  if (negative) ++i;
  if (i >= length_) return invalid();
  if (text_[i] == '0') {
    ++i;
  } else if (text_[i] >= '1' && text_[i] <= '9') {
    while (++i < length_ && isDigit(text_[i])) {
    }
  } else {
    return invalid();
  }
  if (i < length_ && text_[i] == '.') {
    isDouble = true;
    if (++i >= length_ || !isDigit(text_[i])) return invalid();
    while (++i < length_ && isDigit(text_[i])) {
    }
  }
  if (i < length_ && (text_[i] == 'e' || text_[i] == 'E')) {
    isDouble = true;
    if (++i < length_ && (text_[i] == '+' || text_[i] == '-')) ++i;
    if (i >= length_ || !isDigit(text_[i])) return invalid();
    while (++i < length_ && isDigit(text_[i])) {
    }
  }
  if (i >= length_) return invalid();
  token_.type = JCTokenTypeNumber;
  token_.length = i - index_;
  token_.value = text_ + index_;
  token_.valueLength = token_.length;
  index_ = i;
  if (token_.length == 2 && negative && token_.value[1] == '0') isDouble = true;  // "-0" keeps its sign
  return convertNumber(negative, isDouble);
}

bool JCParseState::convertNumber(bool negative, bool isDouble) {
  const char* first = reinterpret_cast<const char*>(token_.value);
  const char* last = first + token_.valueLength;
  if (isDouble) {
    double d = 0;
    auto [end, ec] = std::from_chars(first, last, d);
    if (ec == std::errc::result_out_of_range) {
      std::string text(first, last);
      recordError("The value '%s' could not be represented as a 'double' due to %s.", text.c_str(),
                  strtodInCLocale(text.c_str()) == 0.0 ? "underflow" : "overflow");
      return false;
    }
    // The number's grammar was checked above, so the conversion reads all of it; a short read
    // fails the parse rather than returning a value together with an error.
    if (ec != std::errc() || end != last) {
      recordError(ec != std::errc() ? "Invalid number."
                                    : "The conversion function did not consume all of the number tokens characters.");
      return false;
    }
    token_.valueType = JCValueTypeDouble;
    token_.number.doubleValue = d;
    std::uint64_t bits;
    std::memcpy(&bits, &d, sizeof bits);
    token_.hash = hashOfValue(0x539C1512u, bits);
    return true;
  }
  std::uint64_t magnitude = 0;
  bool overflow = false;
  for (const char* p = first + (negative ? 1 : 0); p < last; ++p) {
    const unsigned digit = static_cast<unsigned>(*p - '0');
    if (magnitude > (UINT64_MAX - digit) / 10) overflow = true;
    magnitude = magnitude * 10 + digit;
  }
  if (negative) {
    if (overflow || magnitude > static_cast<std::uint64_t>(INT64_MAX) + 1) {
      std::string text(first, last);
      recordError("The value '%s' exceeded the minimum value that could be represented: %lld.", text.c_str(),
                  static_cast<long long>(INT64_MIN));
      return false;
    }
    const std::int64_t value = static_cast<std::int64_t>(0 - magnitude);
    token_.valueType = JCValueTypeLongLong;
    token_.number.longLongValue = value;
    token_.hash = hashOfValue(0x539C150Cu + static_cast<std::uint32_t>(value), static_cast<std::uint64_t>(value));
    return true;
  }
  if (overflow) {
    std::string text(first, last);
    recordError("The value '%s' exceeded the maximum value that could be represented: %llu.", text.c_str(),
                static_cast<unsigned long long>(UINT64_MAX));
    return false;
  }
  token_.valueType = JCValueTypeUnsignedLongLong;
  token_.number.unsignedLongLongValue = magnitude;
  token_.hash = hashOfValue(0x539C1510u + static_cast<std::uint32_t>(magnitude), magnitude);
  return true;
}

// --- Values ------------------------------------------------------------------------------------

ObjectPtr JCParseState::valueFromToken() {
  switch (token_.type) {
    case JCTokenTypeString:
    case JCTokenTypeNumber:
      return cachedValue();
    case JCTokenTypeTrue: return Number::yes();
    case JCTokenTypeFalse: return Number::no();
    case JCTokenTypeNull: return Null::null();
    case JCTokenTypeArrayBegin: return parseArray();
    case JCTokenTypeObjectBegin: return parseDictionary();
    default: return nullptr;
  }
}

ObjectPtr JCParseState::makeValue() const {
  switch (token_.valueType) {
    case JCValueTypeString:
      // The string decoding checked the bytes, so they need no second pass.
      return std::allocate_shared<String>(JCValueAllocator<String>(arena_),
                                          std::string(reinterpret_cast<const char*>(token_.value), token_.valueLength));
    case JCValueTypeLongLong:
      return makeNumber(arena_, NumberType::LongLong, token_.number.longLongValue);
    case JCValueTypeUnsignedLongLong: {
      const std::uint64_t u = token_.number.unsignedLongLongValue;
      if (u > static_cast<std::uint64_t>(INT64_MAX))
        return std::allocate_shared<Number>(JCValueAllocator<Number>(arena_), NumberType::UnsignedLongLong,
                                            static_cast<std::int64_t>(u), u, static_cast<double>(u));
      return makeNumber(arena_, NumberType::LongLong, static_cast<std::int64_t>(u));
    }
    case JCValueTypeDouble:
      return std::allocate_shared<Number>(JCValueAllocator<Number>(arena_), NumberType::Double, 0, 0,
                                          token_.number.doubleValue);
    default:
      return nullptr;
  }
}

std::size_t JCParseState::nextRandomSlot() {
  prng_ = (prng_ >> 1) ^ ((prng_ & 1u) ? 0x80200003u : 0u);
  return prng_ & (kCacheSlots - 1);
}

void JCParseState::halveAge(std::size_t slot) {
  ages_[slot] >>= 1;
  ages_[nextRandomSlot()] >>= 1;
  ages_[nextRandomSlot()] >>= 1;
}

ObjectPtr JCParseState::cachedValue() {
  if (token_.valueType == JCValueTypeString && token_.valueLength == 0) return emptyString();
  const std::uint32_t hash = token_.hash;
  const std::size_t length = token_.valueLength;
  const std::uint8_t type = token_.valueType;
  std::size_t slot = hash & (kCacheSlots - 1);
  JCTokenCacheItem* chosen = nullptr;
  for (std::size_t probe = 0; probe < kCacheProbes; ++probe) {
    JCTokenCacheItem& item = cache_[slot];
    if (!item.object) {
      if (!chosen) chosen = &item;
      break;
    }
    if (item.hash == hash && item.type == type && item.bytes.size() == length &&
        std::memcmp(item.bytes.data(), token_.value, length) == 0) {
      // Hits age a slot, so the values a document repeats outlive the ones it uses once.
      if (ages_[slot] < 255) ++ages_[slot];
      token_.cacheItem = &item;
      // A value the parse under way made takes its reference at its first hit: a value used once
      // then costs no reference count in the cache at all, one used again costs one.
      if (item.generation == generation_ && item.object.use_count() == 0) item.object = item.object->self();
      return item.object;
    }
    if (!chosen) {
      if (ages_[slot] == 0) {
        chosen = &item;
      } else {
        halveAge(slot);
      }
    }
    slot = (hash + (length + type + 3) * (probe + 1)) & (kCacheSlots - 1);
  }
  ObjectPtr object = makeValue();
  if (chosen) {
    // Recorded first, so an item never points at a value the end of the parse would not visit.
    if (madeSlots_.size() <= kCacheSlots) madeSlots_.push_back(static_cast<std::uint32_t>(chosen - cache_.data()));
    if (chosen->object) --cachedOfGeneration_[chosen->generation & 1];
    ++cachedOfGeneration_[generation_ & 1];
    chosen->generation = generation_;
    chosen->object = ObjectPtr(ObjectPtr(), object.get());
    chosen->bytes.assign(reinterpret_cast<const char*>(token_.value), length);
    chosen->hash = hash;
    chosen->type = type;
    chosen->keyHash = 0;
    ages_[static_cast<std::size_t>(chosen - cache_.data())] = 0;
    token_.cacheItem = chosen;
  }
  return object;
}

std::uint32_t JCParseState::keyHashOfToken(const ObjectPtr& key) {
  if (JCTokenCacheItem* item = token_.cacheItem) {
    if (item->keyHash == 0) item->keyHash = JCDictionary::keyHash(*key);
    return item->keyHash;
  }
  return JCDictionary::keyHash(*key);
}

ObjectPtr JCParseState::parseArray() {
  if (++depth_ > JCMaximumDepth) {
    recordError("Maximum nesting depth of %u exceeded.", JCMaximumDepth);
    --depth_;
    return nullptr;
  }
  const std::size_t base = objects_.size();
  unsigned accept = kAcceptValue | kAcceptEnd;
  for (;;) {
    if (!nextToken()) break;
    const JCTokenType type = token_.type;
    if (isValueToken(type)) {
      if ((accept & kAcceptValue) == 0) {
        recordError("Unexpected value.");
        break;
      }
      ObjectPtr value = valueFromToken();
      if (!value) break;
      objects_.push_back(std::move(value));
      accept = kAcceptComma | kAcceptEnd;
    } else if (type == JCTokenTypeComma) {
      if ((accept & kAcceptComma) == 0) {
        recordError("Unexpected ','.");
        break;
      }
      accept = kAcceptValue;
    } else if (type == JCTokenTypeArrayEnd) {
      if ((accept & kAcceptEnd) == 0) {
        recordError("Unexpected ']'.");
        break;
      }
      auto array = std::allocate_shared<JCArray>(JCValueAllocator<JCArray>(arena_), JCCreationKey(),
                                                 objects_.data() + base, objects_.size() - base, arena_,
                                                 mutableCollections_);
      objects_.resize(base);
      --depth_;
      return array;
    } else {
      recordExpected(accept, "a value", "a ']'");
      break;
    }
  }
  objects_.resize(base);
  --depth_;
  return nullptr;
}

ObjectPtr JCParseState::parseDictionary() {
  if (++depth_ > JCMaximumDepth) {
    recordError("Maximum nesting depth of %u exceeded.", JCMaximumDepth);
    --depth_;
    return nullptr;
  }
  const std::size_t base = objects_.size();
  const std::size_t keyBase = keys_.size();
  unsigned accept = kAcceptValue | kAcceptEnd;
  for (;;) {
    if (!nextToken()) break;
    const JCTokenType type = token_.type;
    if (type == JCTokenTypeString) {
      if ((accept & kAcceptValue) == 0) {
        recordError("Unexpected string.");
        break;
      }
      ObjectPtr key = cachedValue();
      const std::uint32_t hash = keyHashOfToken(key);
      if (!nextToken()) break;
      if (token_.type != JCTokenTypeSeparator) {
        recordError("Expected ':'.");
        break;
      }
      if (!nextToken()) break;
      if (!isValueToken(token_.type)) {
        recordExpected(accept, "a value", "a '}'");
        break;
      }
      ObjectPtr value = valueFromToken();
      if (!value) break;
      keys_.push_back(std::move(key));
      keyHashes_.push_back(hash);
      objects_.push_back(std::move(value));
      accept = kAcceptComma | kAcceptEnd;
    } else if (type == JCTokenTypeComma) {
      if ((accept & kAcceptComma) == 0) {
        recordError("Unexpected ','.");
        break;
      }
      accept = kAcceptValue;
    } else if (type == JCTokenTypeObjectEnd) {
      if ((accept & kAcceptEnd) == 0) {
        recordError("Unexpected '}'.");
        break;
      }
      const std::size_t n = keys_.size() - keyBase;
      auto dictionary = std::allocate_shared<JCDictionary>(JCValueAllocator<JCDictionary>(arena_), JCCreationKey(),
                                                           JCDictionary::capacityForCount(n), n, arena_,
                                                           mutableCollections_);
      for (std::size_t i = 0; i < n; ++i) {
        JCDictionary::Pair replaced;
        dictionary->addEntry(keyHashes_[keyBase + i], std::move(keys_[keyBase + i]), std::move(objects_[base + i]),
                             &replaced);
        if (replaced.key) {
          replaced_.push_back(std::move(replaced.key));
          replaced_.push_back(std::move(replaced.object));
        }
      }
      objects_.resize(base);
      keys_.resize(keyBase);
      keyHashes_.resize(keyBase);
      --depth_;
      return dictionary;
    } else {
      recordExpected(accept, "a \"STRING\"", "a '}'");
      break;
    }
  }
  objects_.resize(base);
  keys_.resize(keyBase);
  keyHashes_.resize(keyBase);
  --depth_;
  return nullptr;
}

}  // namespace zv::detail

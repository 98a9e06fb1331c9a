#pragma once
// Internal to the JSON decoder: the tokenizer, the string decoding, the object stack and the token
// cache of one decoder. Parses straight from the caller's bytes; strings without escapes are not
// copied before their object is made, and the token buffer and object stack are reused by every
// parse of the decoder.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Error.h"
#include "platform/foundation/Object.h"
#include "sharing/json/JCArena.h"

namespace zv::detail {

enum JCTokenType : std::uint8_t {
  JCTokenTypeInvalid = 0,
  JCTokenTypeNumber = 1,
  JCTokenTypeString = 2,
  JCTokenTypeObjectBegin = 3,
  JCTokenTypeObjectEnd = 4,
  JCTokenTypeArrayBegin = 5,
  JCTokenTypeArrayEnd = 6,
  JCTokenTypeSeparator = 7,
  JCTokenTypeComma = 8,
  JCTokenTypeTrue = 9,
  JCTokenTypeFalse = 10,
  JCTokenTypeNull = 11,
};

enum JCValueType : std::uint8_t {
  JCValueTypeNone = 0,
  JCValueTypeString = 5,
  JCValueTypeLongLong = 7,
  JCValueTypeUnsignedLongLong = 11,
  JCValueTypeDouble = 13,
};

struct JCTokenCacheItem {
  // Owns the object for items of earlier parses. An item made by the parse under way only points at
  // it (no reference count) until its first hit: the document under construction keeps every value
  // it made alive until the parse ends, which then gives the items still cached their own reference.
  ObjectPtr object;
  std::uint32_t hash = 0;
  std::uint32_t keyHash = 0;  // 0 until the object is first used as a dictionary key
  std::uint8_t type = JCValueTypeNone;
  std::uint32_t generation = 0;  // the parse whose arena holds the object
  std::string bytes;  // owned copy of the value bytes
};

class JCParseState {
 public:
  static constexpr std::size_t kCacheSlots = 1024;
  static constexpr std::size_t kCacheProbes = 4;

  explicit JCParseState(std::uint32_t options);
  ObjectPtr parse(const unsigned char* bytes, std::size_t length, bool mutableCollections, Ref<Error>* error);
  void clearCache();
  // The cache hash of the string token at the start of `text` (its opening quote), nullopt when the
  // text does not start with a well-formed string: lets checks hold the hash to its definition.
  std::optional<std::uint32_t> hashOfStringToken(const unsigned char* text, std::size_t length);

 private:
  struct Token {
    std::size_t start = 0;
    std::size_t length = 0;
    JCTokenType type = JCTokenTypeInvalid;
    const unsigned char* value = nullptr;
    std::size_t valueLength = 0;
    JCValueType valueType = JCValueTypeNone;
    std::uint32_t hash = 0;
    union {
      std::int64_t longLongValue;
      std::uint64_t unsignedLongLongValue;
      double doubleValue;
    } number{};
    JCTokenCacheItem* cacheItem = nullptr;
  };

  // Tokenizer.
  void skipWhiteSpace();
  std::size_t lineBreakLength(std::size_t at) const;
  bool nextToken();
  bool parseLiteral(const char* word, std::size_t length, JCTokenType type);
  bool parseNumber();
  bool convertNumber(bool negative, bool isDouble);
  bool parseString();
  bool parseStringSlowly(const unsigned char* scanned, const unsigned char* p);

  // Values.
  ObjectPtr valueFromToken();
  ObjectPtr cachedValue();
  ObjectPtr makeValue() const;
  ObjectPtr parseArray();
  ObjectPtr parseDictionary();
  std::uint32_t keyHashOfToken(const ObjectPtr& key);
  void halveAge(std::size_t slot);
  void dropOldGeneration();
  void endParse(bool succeeded);
  std::size_t nextRandomSlot();

  // Errors: the first one recorded in a parse wins.
  void recordError(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void recordUnexpectedToken();
  void recordExpected(unsigned accept, const char* valueWording, const char* endWording);

  const unsigned char* text_ = nullptr;
  std::size_t length_ = 0;
  std::size_t index_ = 0;
  std::size_t line_ = 1;
  std::size_t lineStart_ = 0;
  std::uint32_t options_;
  Token token_;
  std::string tokenBuffer_;
  std::vector<ObjectPtr> objects_;
  std::vector<ObjectPtr> keys_;
  std::vector<std::uint32_t> keyHashes_;
  std::vector<JCTokenCacheItem> cache_;
  // The cache holds values of the current parse's arena and of the one before; at the start of a
  // parse the items of older parses are dropped, so the cache pins at most two arenas. The counts
  // are of the items of each of those two parses, by the parity of their generation.
  std::array<std::size_t, 2> cachedOfGeneration_{};
  std::uint32_t generation_ = 0;
  JCArena* arena_ = nullptr;  // the open arena of the parse under way
  // The slots this parse put values in (while there are few; past kCacheSlots the end of the parse
  // visits every slot), and the pairs that duplicate keys replaced, held until the parse ends so no
  // value the cache points at is freed during the parse.
  std::vector<std::uint32_t> madeSlots_;
  std::vector<ObjectPtr> replaced_;
  std::array<std::uint8_t, kCacheSlots> ages_{};
  std::uint32_t prng_ = 1;
  Ref<Error> error_;
  bool mutableCollections_ = false;
  unsigned depth_ = 0;
};

}  // namespace zv::detail

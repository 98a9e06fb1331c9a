#include "sharing/json/JCSerializer.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <typeinfo>
#include <vector>

#include "platform/foundation/Format.h"
#include "platform/foundation/Unicode.h"
#include "sharing/json/JCArray.h"
#include "sharing/json/JCDictionary.h"
#include "sharing/json/JCParseOptions.h"
#include "sharing/json/JCUTF8.h"
#include "sharing/json/TextOrder.h"

namespace zv {

namespace detail {

namespace {

enum Kind { kString, kNumber, kDictionary, kArray, kNull, kKinds, kUnsupported = kKinds };

// 0: written as it is; 1: always escaped; 2: escaped with JCSerializeEscapeSlash; 3: non-ASCII.
constexpr std::array<std::uint8_t, 256> makeEscapeTable() {
  std::array<std::uint8_t, 256> table{};
  for (int c = 0; c < 0x20; ++c) table[static_cast<std::size_t>(c)] = 1;
  table['"'] = 1;
  table['\\'] = 1;
  table['/'] = 2;
  for (int c = 0x80; c < 0x100; ++c) table[static_cast<std::size_t>(c)] = 3;
  return table;
}
constexpr std::array<std::uint8_t, 256> kEscape = makeEscapeTable();

}  // namespace

class JCEncodeState {
 public:
  JCEncodeState(JCSerializeOptionFlags options, JCEncodeOptionType encodeOption,
                const JCSerializer::UnsupportedClassBlock& block, const ObjectPtr& delegate, std::string_view selector)
      : options_(options), encodeOption_(encodeOption), block_(block), delegate_(delegate), selector_(selector),
        cache_(1024) {
    out_.reserve(4096);
  }

  ObjectPtr run(const ObjectPtr& object, Ref<Error>* error);

 private:
  // An object written before and where its output lies. `key` alone identifies the object while
  // something else is sure to keep it alive for the whole call (the caller's root and the elements
  // of the decoder's own collections, as long as no converter has run); otherwise `held` keeps it
  // alive, so a freed object's address can never give a false hit.
  struct CacheEntry {
    const Object* key = nullptr;
    ObjectPtr held;
    std::size_t offset = 0;
    std::size_t length = 0;
  };
  // A class seen before and how it is written.
  struct KnownClass {
    const std::type_info* type;
    Kind kind;
  };
  static constexpr std::size_t kKnownClasses = 16;

  void recordError(const char* fmt, ...) __attribute__((format(printf, 2, 3)));
  Kind kindOf(const Object& object);
  Kind kindOfNewClass(const Object& object, const std::type_info* type);
  // `owned`: the object is kept alive by the root or by a decoded collection's storage.
  bool writeObject(const ObjectPtr& object, bool topLevel, bool owned);
  // Records where `object`'s output lies, holding the object.
  void remember(CacheEntry& entry, ObjectPtr object, std::size_t start);
  // Fails the call when a converter changed the collection being written.
  bool unchanged(const Object& collection, std::uint32_t before, std::uint32_t now);
  ObjectPtr convert(const ObjectPtr& object);
  bool writeValue(const ObjectPtr& object, Kind kind, bool topLevel, bool owned);
  bool writeString(const String& string, bool quoted);
  bool writeNumber(const Number& number);
  bool writeArray(const Array& array, bool owned);
  bool writeDictionary(const Dictionary& dictionary, bool owned);
  bool enterCollection(const Object& collection);
  void leaveCollection() {
    active_.pop_back();
  }
  void punctuate(char token) {
    if (!pretty()) {
      out_.push_back(token);
      return;
    }
    punctuatePretty(token);
  }
  void punctuatePretty(char token);
  void indent() {
    out_.push_back('\n');
    out_.append(2 * nesting_, ' ');
  }
  bool pretty() const { return (options_ & JCSerializePretty) != 0; }

  JCSerializeOptionFlags options_;
  JCEncodeOptionType encodeOption_;
  const JCSerializer::UnsupportedClassBlock& block_;
  ObjectPtr delegate_;
  std::string selector_;
  std::string out_;
  std::vector<CacheEntry> cache_;
  // The classes met so far, the decoder's and the standard ones first; unknown classes are added
  // after one dynamic test each while there is room.
  std::array<KnownClass, kKnownClasses> known_{{{&typeid(String), kString},
                                                 {&typeid(Number), kNumber},
                                                 {&typeid(JCDictionary), kDictionary},
                                                 {&typeid(JCArray), kArray},
                                                 {&typeid(Null), kNull}}};
  std::size_t knownCount_ = 5;
  bool converted_ = false;  // a converter has run, so any object may have been freed since
  std::vector<const Object*> active_;
  std::size_t nesting_ = 0;
  Ref<Error> error_;
};

void JCEncodeState::recordError(const char* fmt, ...) {
  if (error_) return;
  va_list args;
  va_start(args, fmt);
  std::string message = formatv(fmt, args);
  va_end(args);
  error_ = Error::make(JCErrorDomain, -1, std::move(message));
}

Kind JCEncodeState::kindOf(const Object& object) {
  // The dynamic type works as a tag: one type_info object per class in a program, so comparing
  // addresses finds a known class without comparing names or walking the class hierarchy.
  const std::type_info* type = &typeid(object);
  for (std::size_t i = 0; i < knownCount_; ++i)
    if (known_[i].type == type) return known_[i].kind;
  return kindOfNewClass(object, type);
}

Kind JCEncodeState::kindOfNewClass(const Object& object, const std::type_info* type) {
  Kind kind;
  if (dynamic_cast<const String*>(&object)) kind = kString;
  else if (dynamic_cast<const Number*>(&object)) kind = kNumber;
  else if (dynamic_cast<const Dictionary*>(&object)) kind = kDictionary;
  else if (dynamic_cast<const Array*>(&object)) kind = kArray;
  else if (dynamic_cast<const Null*>(&object)) kind = kNull;
  else kind = kUnsupported;
  if (knownCount_ < kKnownClasses) known_[knownCount_++] = {type, kind};
  return kind;
}

ObjectPtr JCEncodeState::convert(const ObjectPtr& object) {
  // The converter may change or free any part of the tree, so from now on every cache entry keeps
  // its object alive, and entries that did not are forgotten.
  if (!converted_) {
    converted_ = true;
    for (CacheEntry& entry : cache_)
      if (!entry.held) entry.key = nullptr;
  }
  if (block_) return block_(object);
  if (delegate_) return delegate_->performSelector(selector_, {object});
  return nullptr;
}

ObjectPtr JCEncodeState::run(const ObjectPtr& object, Ref<Error>* error) {
  ObjectPtr result;
  const JCEncodeOptionType asType = encodeOption_ & JCEncodeAsTypeMask;
  if (asType != JCEncodeAsData && asType != JCEncodeAsString) {
    recordError("Unknown encode as type.");
  } else if (!object) {
    recordError("Unable to serialize object class %s.", "(null)");
  } else if ((encodeOption_ & JCEncodeRequireCollection) != 0 && !dynamic_cast<const Array*>(object.get()) &&
             !dynamic_cast<const Dictionary*>(object.get())) {
    recordError("Unable to serialize object class %s, expected a NSArray or NSDictionary.",
                object->className().c_str());
  } else if ((encodeOption_ & JCEncodeRequireString) != 0 && !dynamic_cast<const String*>(object.get())) {
    recordError("Unable to serialize object class %s, expected a NSString.", object->className().c_str());
  } else if (writeObject(object, true, true)) {
    if (asType == JCEncodeAsString) {
      result = std::make_shared<String>(std::move(out_));
    } else {
      result = Data::make(out_.data(), out_.size());
    }
  }
  if (error && error_) *error = error_;
  return result;
}

bool JCEncodeState::writeObject(const ObjectPtr& object, bool topLevel, bool owned) {
  const auto p = reinterpret_cast<std::uintptr_t>(object.get());
  CacheEntry& entry = cache_[(((p >> 21) ^ (p >> 9)) + (p >> 4)) & 1023];
  if (entry.key == object.get()) {
    // Appending from the string's own bytes is safe: they are copied before any reallocation frees them.
    out_.append(out_.data() + entry.offset, entry.length);
    return true;
  }
  Kind kind = kindOf(*object);
  if (kind == kUnsupported) {
    // `object` may refer into the storage of a collection the converter changes: hold the object
    // itself across the call.
    ObjectPtr original = object;
    ObjectPtr replacement = convert(original);
    if (!replacement) {
      recordError("Unable to serialize object class %s.", original->className().c_str());
      return false;
    }
    kind = kindOf(*replacement);
    if (kind == kUnsupported) {
      recordError("Unable to serialize object class %s that was returned by the unsupported class formatter.  "
                  "Original object class was %s.",
                  replacement->className().c_str(), original->className().c_str());
      return false;
    }
    const std::size_t start = out_.size();
    if (!writeValue(replacement, kind, topLevel, false)) return false;
    if (kind == kString || kind == kNumber || kind == kNull) remember(entry, std::move(original), start);
    return true;
  }
  if (kind == kArray || kind == kDictionary) {
    // A converter met inside may release the collection from its parent: hold it while it is walked.
    ObjectPtr collection = object;
    return writeValue(collection, kind, topLevel, owned);
  }
  const std::size_t start = out_.size();
  if (!writeValue(object, kind, topLevel, owned)) return false;
  if (owned && !converted_) {
    entry.key = object.get();
    entry.held.reset();
    entry.offset = start;
    entry.length = out_.size() - start;
  } else {
    remember(entry, object, start);
  }
  return true;
}

void JCEncodeState::remember(CacheEntry& entry, ObjectPtr object, std::size_t start) {
  entry.key = object.get();
  entry.held = std::move(object);
  entry.offset = start;
  entry.length = out_.size() - start;
}

bool JCEncodeState::writeValue(const ObjectPtr& object, Kind kind, bool topLevel, bool owned) {
  switch (kind) {
    case kString:
      return writeString(static_cast<const String&>(*object),
                         !(topLevel && (encodeOption_ & JCEncodeOmitQuotes) != 0));
    case kNumber: return writeNumber(static_cast<const Number&>(*object));
    case kNull: out_.append("null"); return true;
    case kArray: return writeArray(static_cast<const Array&>(*object), owned);
    case kDictionary: return writeDictionary(static_cast<const Dictionary&>(*object), owned);
    default: return false;
  }
}

bool JCEncodeState::writeString(const String& string, bool quoted) {
  const std::string& text = string.utf8();
  const bool escapeSlash = (options_ & JCSerializeEscapeSlash) != 0;
  const bool escapeUnicode = (options_ & JCSerializeEscapeUnicode) != 0;
  if (quoted) out_.push_back('"');
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const auto* const end = p + text.size();
  while (p < end) {
    const unsigned char* run = p;
    while (p < end) {
      const std::uint8_t e = kEscape[*p];
      if (e == 0 || (e == 2 && !escapeSlash)) {
        ++p;
      } else {
        break;
      }
    }
    out_.append(reinterpret_cast<const char*>(run), static_cast<std::size_t>(p - run));
    if (p == end) break;
    const unsigned char c = *p;
    if (c >= 0x80) {
      // A String made straight from bytes may hold ill-formed UTF-8, which would make the output
      // ill-formed JSON: such text does not convert.
      const char* q = reinterpret_cast<const char*>(p);
      const char32_t decoded = unicode::decodeUTF8(q, reinterpret_cast<const char*>(end));
      const auto length = static_cast<std::size_t>(reinterpret_cast<const unsigned char*>(q) - p);
      const bool replacement = length == 3 && p[0] == 0xEF && p[1] == 0xBF && p[2] == 0xBD;
      if (decoded == unicode::kReplacementCharacter && !replacement) {
        recordError("An error occurred converting the contents of a NSString to UTF8.");
        return false;
      }
      if (!escapeUnicode) {
        out_.append(reinterpret_cast<const char*>(p), length);
        p += length;
        continue;
      }
      const JCUTF8Sequence sequence = checkUTF8Sequence(p, end);
      if (sequence.result != JCUTF8Result::WellFormed) {
        recordError("Error converting UTF8.");
        return false;
      }
      char buffer[16];
      const char32_t cp = sequence.codePoint;
      if (cp <= 0xFFFF) {
        std::snprintf(buffer, sizeof buffer, "\\u%4.4x", static_cast<unsigned>(cp));
      } else {
        std::snprintf(buffer, sizeof buffer, "\\u%4.4x\\u%4.4x", static_cast<unsigned>(0xD7C0 + (cp >> 10)),
                      static_cast<unsigned>(0xDC00 | (cp & 0x3FF)));
      }
      out_.append(buffer);
      p += sequence.length;
      continue;
    }
    switch (c) {
      case '\b': out_.append("\\b"); break;
      case '\t': out_.append("\\t"); break;
      case '\n': out_.append("\\n"); break;
      case '\f': out_.append("\\f"); break;
      case '\r': out_.append("\\r"); break;
      case '"': out_.append("\\\""); break;
      case '\\': out_.append("\\\\"); break;
      case '/': out_.append("\\/"); break;
      default: {
        char buffer[8];
        std::snprintf(buffer, sizeof buffer, "\\u%4.4x", static_cast<unsigned>(c));
        out_.append(buffer);
      }
    }
    ++p;
  }
  if (quoted) out_.push_back('"');
  return true;
}

bool JCEncodeState::writeNumber(const Number& number) {
  char buffer[64];
  std::to_chars_result r{};
  switch (number.type()) {
    case NumberType::Bool:
      out_.append(number.boolValue() ? "true" : "false");
      return true;
    case NumberType::Float:
    case NumberType::Double: {
      const double d = number.doubleValue();
      if (!std::isfinite(d)) {
        recordError("Floating point values must be finite.  JSON does not support NaN or Infinity.");
        return false;
      }
      // "%.17g" of the C locale, whatever the process locale says.
      r = std::to_chars(buffer, buffer + sizeof buffer, d, std::chars_format::general, 17);
      break;
    }
    default:
      if (number.isUnsigned()) {
        r = std::to_chars(buffer, buffer + sizeof buffer, number.unsignedLongLongValue());
      } else {
        r = std::to_chars(buffer, buffer + sizeof buffer, number.longLongValue());
      }
  }
  out_.append(buffer, r.ptr);
  return true;
}

void JCEncodeState::punctuatePretty(char token) {
  switch (token) {
    case '[':
    case '{':
      out_.push_back(token);
      ++nesting_;
      indent();
      break;
    case ',':
      out_.push_back(',');
      indent();
      break;
    case ']':
    case '}':
      --nesting_;
      indent();
      out_.push_back(token);
      break;
    case ':':
      out_.append(": ");
      break;
    default:
      out_.push_back(token);
  }
}

bool JCEncodeState::enterCollection(const Object& collection) {
  if (std::find(active_.begin(), active_.end(), &collection) != active_.end()) {
    recordError("Unable to serialize object class %s: it contains itself.", collection.className().c_str());
    return false;
  }
  if (active_.size() >= JCMaximumDepth) {
    recordError("Unable to serialize: nesting deeper than %u.", JCMaximumDepth);
    return false;
  }
  active_.push_back(&collection);
  return true;
}

bool JCEncodeState::unchanged(const Object& collection, std::uint32_t before, std::uint32_t now) {
  if (before == now) return true;
  recordError("Unable to serialize object class %s: it was changed while being serialized.",
              collection.className().c_str());
  return false;
}

bool JCEncodeState::writeArray(const Array& array, bool owned) {
  if (!enterCollection(array)) return false;
  punctuate('[');
  bool ok = true;
  if (typeid(array) == typeid(JCArray)) {
    // The elements in place: writeObject holds what a converter could free, and the index and the
    // mutation count are read again after each element, since a converter may change this array.
    auto* decoded = static_cast<const JCArray*>(&array);
    const std::uint32_t mutations = decoded->mutations();
    for (std::size_t i = 0; ok && i < decoded->storage().size(); ++i) {
      if (i) punctuate(',');
      ok = writeObject(decoded->storage()[i], false, owned) && unchanged(array, mutations, decoded->mutations());
    }
  } else {
    const std::size_t n = array.count();
    for (std::size_t i = 0; ok && i < n; ++i) {
      if (i) punctuate(',');
      ok = writeObject(array.objectAtIndex(i), false, false);
    }
  }
  if (!ok) return false;
  punctuate(']');
  leaveCollection();
  return true;
}

bool JCEncodeState::writeDictionary(const Dictionary& dictionary, bool owned) {
  if (!enterCollection(dictionary)) return false;
  punctuate('{');
  bool ok = true;
  bool first = true;
  auto writePair = [&](const ObjectPtr& key, const ObjectPtr& value, bool owned) {
    if (!first) punctuate(',');
    first = false;
    if (kindOf(*key) != kString) {
      recordError("Key must be a string object.");
      return false;
    }
    if (!writeObject(key, false, owned)) return false;
    punctuate(':');
    return writeObject(value, false, owned);
  };
  if (pretty()) {
    std::vector<Dictionary::Entry> entries = dictionary.entries();
    for (const auto& entry : entries) {
      if (!dynamic_cast<const String*>(entry.first.get())) {
        recordError("Key must be a string object.");
        return false;
      }
    }
    std::sort(entries.begin(), entries.end(), [](const Dictionary::Entry& a, const Dictionary::Entry& b) {
      return lessInUTF16Order(static_cast<const String&>(*a.first).utf8(),
                              static_cast<const String&>(*b.first).utf8());
    });
    for (const auto& [key, value] : entries)
      if (!(ok = writePair(key, value, false))) break;
  } else if (typeid(dictionary) == typeid(JCDictionary)) {
    // Slot by slot, as for decoded arrays: a converter that adds keys moves the table.
    const auto& decoded = static_cast<const JCDictionary&>(dictionary);
    const std::uint32_t mutations = decoded.mutations();
    for (std::size_t slot = 0; ok && slot < decoded.capacity(); ++slot) {
      const JCDictionary::Pair* pair = decoded.pairAtSlot(slot);
      if (pair) ok = writePair(pair->key, pair->object, owned) && unchanged(dictionary, mutations, decoded.mutations());
    }
  } else {
    dictionary.enumerate(
        [&](const ObjectPtr& key, const ObjectPtr& value) { return ok = writePair(key, value, false); });
  }
  if (!ok) return false;
  punctuate('}');
  leaveCollection();
  return true;
}

}  // namespace detail

ObjectPtr JCSerializer::serializeObject(const ObjectPtr& object, JCSerializeOptionFlags options,
                                        JCEncodeOptionType encodeOption, const UnsupportedClassBlock& block,
                                        const ObjectPtr& delegate, std::string_view selector, Ref<Error>* error) {
  return std::make_shared<JCSerializer>()->serialize(object, options, encodeOption, block, delegate, selector, error);
}

JCSerializer::JCSerializer() = default;
JCSerializer::~JCSerializer() = default;

void JCSerializer::releaseState() { state_.reset(); }

ObjectPtr JCSerializer::serialize(const ObjectPtr& object, JCSerializeOptionFlags options,
                                  JCEncodeOptionType encodeOption, const UnsupportedClassBlock& block,
                                  const ObjectPtr& delegate, std::string_view selector, Ref<Error>* error) {
  releaseState();
  if (error) error->reset();
  if (delegate && selector.empty())
    Exception::raise(kInvalidArgumentException,
                     "The delegate argument is not NULL, but the selector argument is NULL.");
  if (delegate && !delegate->respondsToSelector(selector))
    Exception::raise(kInvalidArgumentException,
                     "The serializeUnsupportedClassesUsingDelegate: delegate does not respond to the selector "
                     "argument.");
  state_ = std::make_unique<detail::JCEncodeState>(options, encodeOption, block, delegate, selector);
  ObjectPtr result = state_->run(object, error);
  releaseState();
  return result;
}

}  // namespace zv

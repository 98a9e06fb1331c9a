#include "platform/storage/KeyedArchive.h"

#include <unordered_map>

#include "platform/storage/PropertyList.h"

// The archive is one binary property list:
//   { "archiver": "zv.archive", "version": 1, "root": <index>, "objects": [ <entry>, ... ] }
// Each entry is a dictionary with a one-letter kind "t" and its payload; containers refer to their
// members by index into "objects", so an object reached twice is stored once and comes back as
// one shared object, and dictionary keys may be any archivable value.
//   "s" string    "v": text ("b": UTF-8 bytes instead when the text holds NUL)
//   "n" number    "c": the one-character type code, "v": boolean, integer or real
//   "d" data      "v": bytes
//   "t" date      "v": seconds since the reference date as a real (exact, unlike plist dates)
//   "0" null
//   "a" array     "v": [index]
//   "m" dictionary "k": [index], "v": [index] (pairwise)
//   "e" set       "v": [index]
// Strings, data and containers carry "mutable": true when the archived object was mutable.

namespace zv::storage {

namespace {

constexpr const char* kArchiverName = "zv.archive";
constexpr std::int64_t kArchiveVersion = 1;
constexpr std::size_t kMaximumDepth = 512;

[[noreturn]] void invalidArchive(const std::string& reason) {
  Exception::raise(kInvalidArchiveOperationException, "*** unarchiving failed: " + reason);
}

class Archiver {
 public:
  std::string finish(const Object& root) {
    std::int64_t rootIndex = add(root, 0);
    auto archive = Dictionary::make({{"archiver", box(kArchiverName)},
                                     {"version", box(static_cast<long long>(kArchiveVersion))},
                                     {"root", box(static_cast<long long>(rootIndex))},
                                     {"objects", Array::make(std::move(entries_))}});
    Ref<Error> error;
    auto bytes = serializePropertyList(*archive, PropertyListFormat::Binary, &error);
    if (!bytes) Exception::raise(kInvalidArgumentException, "*** archiving failed: " + describe(error));
    return *bytes;
  }

 private:
  // The index of the object's entry, adding it (and its members) when not yet archived.
  std::int64_t add(const Object& object, std::size_t depth) {
    if (auto found = indexes_.find(&object); found != indexes_.end()) {
      if (found->second < 0)
        Exception::raise(kInvalidArgumentException,
                         "*** archiving failed: a " + object.className() + " contains itself");
      return found->second;
    }
    if (depth > kMaximumDepth) Exception::raise(kInvalidArgumentException, "*** archiving failed: nested too deeply");
    indexes_[&object] = -1;  // on the current path: reaching it again means a cycle
    auto entry = MutableDictionary::make();
    if (auto text = dynamic_cast<const String*>(&object)) {
      entry->setObject(box("s"), "t");
      if (text->utf8().find('\0') == std::string::npos)
        entry->setObject(String::make(text->utf8()), "v");
      else
        entry->setObject(Data::make(text->utf8()), "b");
      if (dynamic_cast<const MutableString*>(&object)) entry->setObject(box(true), "mutable");
    } else if (auto number = dynamic_cast<const Number*>(&object)) {
      entry->setObject(box("n"), "t");
      entry->setObject(box(std::string(1, static_cast<char>(number->type()))), "c");
      if (number->isBoolean())
        entry->setObject(box(number->boolValue()), "v");
      else if (number->isFloatingPoint())
        entry->setObject(box(number->doubleValue()), "v");
      else if (number->isUnsigned())
        entry->setObject(box(static_cast<unsigned long long>(number->unsignedLongLongValue())), "v");
      else
        entry->setObject(box(static_cast<long long>(number->longLongValue())), "v");
    } else if (auto data = dynamic_cast<const Data*>(&object)) {
      entry->setObject(box("d"), "t");
      entry->setObject(Data::make(data->bytes()), "v");
      if (dynamic_cast<const MutableData*>(&object)) entry->setObject(box(true), "mutable");
    } else if (auto date = dynamic_cast<const Date*>(&object)) {
      entry->setObject(box("t"), "t");
      entry->setObject(box(date->timeIntervalSinceReferenceDate()), "v");
    } else if (dynamic_cast<const Null*>(&object)) {
      entry->setObject(box("0"), "t");
    } else if (auto array = dynamic_cast<const Array*>(&object)) {
      entry->setObject(box("a"), "t");
      entry->setObject(references(array->objects(), depth), "v");
      if (array->isMutable()) entry->setObject(box(true), "mutable");
    } else if (auto dictionary = dynamic_cast<const Dictionary*>(&object)) {
      std::vector<ObjectPtr> keys, values;
      dictionary->enumerate([&](const ObjectPtr& key, const ObjectPtr& value) {
        keys.push_back(key);
        values.push_back(value);
        return true;
      });
      entry->setObject(box("m"), "t");
      entry->setObject(references(keys, depth), "k");
      entry->setObject(references(values, depth), "v");
      if (dictionary->isMutable()) entry->setObject(box(true), "mutable");
    } else if (auto set = dynamic_cast<const Set*>(&object)) {
      entry->setObject(box("e"), "t");
      entry->setObject(references(set->allObjects(), depth), "v");
      if (set->isMutable()) entry->setObject(box(true), "mutable");
    } else {
      Exception::raise(kInvalidArgumentException,
                       "*** archiving failed: instances of " + object.className() + " cannot be archived");
    }
    auto index = static_cast<std::int64_t>(entries_.size());
    entries_.push_back(entry);
    indexes_[&object] = index;
    return index;
  }

  Ref<Array> references(const std::vector<ObjectPtr>& members, std::size_t depth) {
    std::vector<ObjectPtr> indexes;
    indexes.reserve(members.size());
    for (const ObjectPtr& member : members) {
      retained_.push_back(member);
      indexes.push_back(box(static_cast<long long>(add(*member, depth + 1))));
    }
    return Array::make(std::move(indexes));
  }

  std::vector<ObjectPtr> entries_;
  // Members stay alive until the archive is done, so no address in indexes_ is reused by another
  // object (collections may hand out members made on the fly).
  std::vector<ObjectPtr> retained_;
  std::unordered_map<const Object*, std::int64_t> indexes_;
};

class Unarchiver {
 public:
  explicit Unarchiver(const Ref<Array>& entries)
      : entries_(entries), decoded_(entries->count()), state_(entries->count(), Unvisited) {}

  ObjectPtr decode(const ObjectPtr& reference, std::size_t depth) {
    auto number = dyn<Number>(reference);
    if (!number || number->isBoolean() || number->isFloatingPoint()) invalidArchive("a reference is not an index");
    auto index = number->longLongValue();
    if (index < 0 || static_cast<std::uint64_t>(index) >= entries_->count())
      invalidArchive("reference " + std::to_string(index) + " is out of range");
    auto slot = static_cast<std::size_t>(index);
    if (state_[slot] == Done) return decoded_[slot];
    if (state_[slot] == Open) invalidArchive("object " + std::to_string(index) + " contains itself");
    if (depth > kMaximumDepth) invalidArchive("nested too deeply");
    state_[slot] = Open;
    decoded_[slot] = decodeEntry(entries_->objectAtIndexAs<Dictionary>(slot), depth);
    state_[slot] = Done;
    return decoded_[slot];
  }

 private:
  enum State : unsigned char { Unvisited, Open, Done };

  template <class T>
  static Ref<T> field(const Dictionary& entry, const char* key) {
    auto value = dyn<T>(entry.objectForKey(key));
    if (!value) invalidArchive(std::string("an entry lacks its \"") + key + "\" field");
    return value;
  }

  std::vector<ObjectPtr> members(const Dictionary& entry, const char* key, std::size_t depth) {
    auto references = field<Array>(entry, key);
    std::vector<ObjectPtr> out;
    out.reserve(references->count());
    for (const ObjectPtr& reference : *references) out.push_back(decode(reference, depth + 1));
    return out;
  }

  ObjectPtr decodeEntry(const Ref<Dictionary>& entry, std::size_t depth) {
    if (!entry) invalidArchive("an entry is not a dictionary");
    auto kind = entry->stringForKey("t");
    if (!kind || kind->size() != 1) invalidArchive("an entry has no kind");
    bool isMutable = boolValueOf(entry->objectForKey("mutable"));
    switch ((*kind)[0]) {
      case 's': {
        std::string text;
        if (auto bytes = dyn<Data>(entry->objectForKey("b")))
          text.assign(bytes->view());
        else
          text = field<String>(*entry, "v")->utf8();
        if (isMutable) return MutableString::make(text);
        return String::make(std::move(text));
      }
      case 'n':
        return decodeNumber(*entry);
      case 'd': {
        auto bytes = field<Data>(*entry, "v");
        if (isMutable) return MutableData::make(bytes->bytes());
        return bytes;
      }
      case 't': {
        auto seconds = field<Number>(*entry, "v");
        if (!seconds->isFloatingPoint()) invalidArchive("a date is not a real number");
        return Date::make(seconds->doubleValue());
      }
      case '0':
        return Null::null();
      case 'a': {
        auto items = members(*entry, "v", depth);
        if (isMutable) return MutableArray::make(std::move(items));
        return Array::make(std::move(items));
      }
      case 'm': {
        auto keys = members(*entry, "k", depth);
        auto values = members(*entry, "v", depth);
        if (keys.size() != values.size()) invalidArchive("a dictionary has unequal key and value counts");
        std::vector<Dictionary::Entry> pairs;
        pairs.reserve(keys.size());
        for (std::size_t i = 0; i < keys.size(); ++i) pairs.emplace_back(keys[i], values[i]);
        if (isMutable) return MutableDictionary::make(std::move(pairs));
        return Dictionary::make(std::move(pairs));
      }
      case 'e': {
        auto items = members(*entry, "v", depth);
        if (isMutable) return MutableSet::make(std::move(items));
        return Set::make(std::move(items));
      }
      default:
        invalidArchive("an entry has the unknown kind \"" + *kind + "\"");
    }
  }

  static ObjectPtr decodeNumber(const Dictionary& entry) {
    auto code = entry.stringForKey("c");
    auto value = field<Number>(entry, "v");
    if (!code || code->size() != 1) invalidArchive("a number has no type code");
    auto type = static_cast<NumberType>((*code)[0]);
    switch (type) {
      case NumberType::Bool:
        return Number::make(value->boolValue());
      case NumberType::Float:
        return Number::make(value->floatValue());
      case NumberType::Double:
        return Number::make(value->doubleValue());
      case NumberType::Char:
      case NumberType::Short:
      case NumberType::Int:
      case NumberType::Long:
      case NumberType::LongLong:
        return Number::makeSigned(value->longLongValue(), type);
      case NumberType::UnsignedChar:
      case NumberType::UnsignedShort:
      case NumberType::UnsignedInt:
      case NumberType::UnsignedLong:
      case NumberType::UnsignedLongLong:
        return Number::makeUnsigned(value->unsignedLongLongValue(), type);
    }
    invalidArchive("a number has the unknown type code \"" + *code + "\"");
  }

  Ref<Array> entries_;
  std::vector<ObjectPtr> decoded_;
  std::vector<State> state_;
};

}  // namespace

std::string archivedDataWithRootObject(const Object& root) { return Archiver().finish(root); }

ObjectPtr unarchiveObjectWithData(std::string_view bytes) {
  Ref<Error> error;
  auto archive = dyn<Dictionary>(parsePropertyList(bytes, &error));
  if (!archive) invalidArchive(error ? error->localizedDescription() : "the archive is not a dictionary");
  if (archive->stringForKey("archiver") != kArchiverName) invalidArchive("the bytes are not an archive");
  auto version = dyn<Number>(archive->objectForKey("version"));
  if (!version || version->longLongValue() != kArchiveVersion) invalidArchive("unknown archive version");
  auto entries = dyn<Array>(archive->objectForKey("objects"));
  if (!entries) invalidArchive("the archive has no object table");
  return Unarchiver(entries).decode(archive->objectForKey("root"), 0);
}

}  // namespace zv::storage

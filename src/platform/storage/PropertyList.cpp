#include "platform/storage/PropertyList.h"

#include <plist/plist.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>

#include "platform/storage/AtomicFile.h"
#include "platform/storage/PropertyListShape.h"

namespace zv::storage {

namespace {

struct PlistDeleter {
  void operator()(void* node) const {
    if (node) plist_free(static_cast<plist_t>(node));
  }
};
using PlistHandle = std::unique_ptr<void, PlistDeleter>;

// The library's array and dictionary iterators are allocated with malloc and released with free.
struct IteratorDeleter {
  void operator()(void* iterator) const { std::free(iterator); }
};
using IteratorHandle = std::unique_ptr<void, IteratorDeleter>;

void setError(Ref<Error>* slot, std::int64_t code, const std::string& message) {
  if (slot) *slot = Error::make(kPropertyListErrorDomain, code, message);
}

// libplist 2.2 keeps integers as 64-bit patterns with a hidden "unsigned" flag that only its own
// parsers set and only its writers read. Both directions go through that flag: a value above
// INT64_MAX is made by parsing its XML text, and a node's flag is read back from its XML form.
plist_t makeUnsignedNode(std::uint64_t value) {
  if (value <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) return plist_new_uint(value);
  char xml[96];
  int n = std::snprintf(xml, sizeof xml, "<plist><integer>%llu</integer></plist>",
                        static_cast<unsigned long long>(value));
  plist_t node = nullptr;
  plist_from_xml(xml, static_cast<std::uint32_t>(n), &node);
  return node;
}

bool integerNodeIsUnsigned(plist_t node, std::uint64_t value) {
  if (value <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) return false;
  char* xml = nullptr;
  std::uint32_t length = 0;
  plist_to_xml(node, &xml, &length);
  if (!xml) return false;
  bool negative = std::string_view(xml, length).find("<integer>-") != std::string_view::npos;
  plist_to_xml_free(xml);
  return !negative;
}

// The seconds a date node holds. The decoder's own accessor truncates the microseconds and drops
// the sign of the fraction of dates before the reference date, so the exact real is read from
// the node's binary form (a header, the marker 0x33, then the big-endian real).
std::optional<double> dateNodeSeconds(plist_t node) {
  char* bytes = nullptr;
  std::uint32_t length = 0;
  plist_to_bin(node, &bytes, &length);
  std::optional<double> seconds;
  if (bytes && length >= 17 && static_cast<unsigned char>(bytes[8]) == 0x33) {
    std::uint64_t bits = 0;
    for (int i = 0; i < 8; ++i) bits = (bits << 8) | static_cast<unsigned char>(bytes[9 + i]);
    double value;
    std::memcpy(&value, &bits, sizeof value);
    seconds = value;
  }
  plist_to_bin_free(bytes);
  return seconds;
}

// Dates are kept to the microsecond, with whole seconds that fit the writer's 32-bit field.
// A date outside that range has no faithful reading, so it is refused rather than clamped.
std::optional<double> toMicroseconds(double seconds) {
  if (!std::isfinite(seconds)) return std::nullopt;
  double whole = std::floor(seconds);
  double microseconds = std::round((seconds - whole) * 1e6);
  if (microseconds >= 1e6) {
    whole += 1;
    microseconds -= 1e6;
  }
  if (whole < std::numeric_limits<std::int32_t>::min() || whole > std::numeric_limits<std::int32_t>::max())
    return std::nullopt;
  return whole + microseconds / 1e6;
}

class Reader {
 public:
  explicit Reader(bool mutableContainers) : mutable_(mutableContainers) {}

  ObjectPtr read(plist_t node, std::size_t depth, Ref<Error>* error) {
    if (depth > kPropertyListMaximumDepth) {
      setError(error, kPropertyListReadCorruptError, "property list nested too deeply");
      return nullptr;
    }
    switch (plist_get_node_type(node)) {
      case PLIST_BOOLEAN: {
        std::uint8_t value = 0;
        plist_get_bool_val(node, &value);
        return Number::make(value != 0);
      }
      case PLIST_UINT: {
        std::uint64_t value = 0;
        plist_get_uint_val(node, &value);
        if (integerNodeIsUnsigned(node, value)) return Number::makeUnsigned(value, NumberType::UnsignedLongLong);
        return Number::makeSigned(static_cast<std::int64_t>(value), NumberType::LongLong);
      }
      case PLIST_REAL: {
        double value = 0;
        plist_get_real_val(node, &value);
        return Number::make(value);
      }
      case PLIST_STRING:
      case PLIST_KEY: {
        std::uint64_t length = 0;
        const char* text = plist_get_string_ptr(node, &length);
        std::string_view view(text ? text : "", text ? length : 0);
        // The writer refuses NUL, so a string holding one could be read but never written back.
        if (view.find('\0') != std::string_view::npos) {
          setError(error, kPropertyListReadCorruptError, "property list strings cannot hold a NUL character");
          return nullptr;
        }
        return String::make(view);
      }
      case PLIST_DATA: {
        std::uint64_t length = 0;
        const char* bytes = plist_get_data_ptr(node, &length);
        return Data::make(bytes, bytes ? length : 0);
      }
      case PLIST_DATE: {
        std::optional<double> seconds = dateNodeSeconds(node);
        if (seconds) seconds = toMicroseconds(*seconds);
        if (!seconds) {
          setError(error, kPropertyListReadCorruptError, "date out of the range property lists can hold");
          return nullptr;
        }
        return Date::make(*seconds);
      }
      case PLIST_ARRAY: {
        // Walked with the iterator, which steps from child to child: fetching by index starts
        // from the first child every time for a parsed array, and would make reading quadratic.
        std::vector<ObjectPtr> items;
        items.reserve(plist_array_get_size(node));
        plist_array_iter iterator = nullptr;
        plist_array_new_iter(node, &iterator);
        IteratorHandle ownedIterator(iterator);
        for (;;) {
          plist_t child = nullptr;
          plist_array_next_item(node, iterator, &child);
          if (!child) break;
          ObjectPtr item = read(child, depth + 1, error);
          if (!item) return nullptr;
          items.push_back(std::move(item));
        }
        if (mutable_) return MutableArray::make(std::move(items));
        return Array::make(std::move(items));
      }
      case PLIST_DICT: {
        std::vector<Dictionary::Entry> entries;
        // The dictionary iterator steps through the children too, so this stays linear as well.
        plist_dict_iter iterator = nullptr;
        plist_dict_new_iter(node, &iterator);
        IteratorHandle ownedIterator(iterator);
        for (;;) {
          char* key = nullptr;
          plist_t value = nullptr;
          plist_dict_next_item(node, iterator, &key, &value);
          if (!value) {
            std::free(key);
            break;
          }
          std::string keyText = key ? key : "";
          std::free(key);
          ObjectPtr object = read(value, depth + 1, error);
          if (!object) return nullptr;
          entries.emplace_back(String::make(keyText), std::move(object));
        }
        if (mutable_) return MutableDictionary::make(std::move(entries));
        return Dictionary::make(std::move(entries));
      }
      default:
        setError(error, kPropertyListReadCorruptError, "property list holds a value of an unknown kind");
        return nullptr;
    }
  }

 private:
  bool mutable_;
};

class Writer {
 public:
  // A new node for the value, nullptr with *error set when it cannot be written.
  plist_t write(const Object& value, std::size_t depth, Ref<Error>* error) {
    if (depth > kPropertyListMaximumDepth) {
      setError(error, kPropertyListWriteInvalidError, "property list nested too deeply (or holds itself)");
      return nullptr;
    }
    if (auto text = dynamic_cast<const String*>(&value)) {
      if (text->utf8().find('\0') != std::string::npos) {
        setError(error, kPropertyListWriteInvalidError, "property list strings cannot hold a NUL character");
        return nullptr;
      }
      return plist_new_string(text->utf8().c_str());
    }
    if (auto number = dynamic_cast<const Number*>(&value)) {
      if (number->isBoolean()) return plist_new_bool(number->boolValue() ? 1 : 0);
      if (number->isFloatingPoint()) return plist_new_real(number->doubleValue());
      if (number->isUnsigned()) {
        plist_t node = makeUnsignedNode(number->unsignedLongLongValue());
        if (!node) setError(error, kPropertyListWriteInvalidError, "unsigned integer could not be written");
        return node;
      }
      return plist_new_uint(static_cast<std::uint64_t>(number->longLongValue()));
    }
    if (auto data = dynamic_cast<const Data*>(&value)) {
      return plist_new_data(reinterpret_cast<const char*>(data->data()), data->length());
    }
    if (auto date = dynamic_cast<const Date*>(&value)) {
      std::optional<double> seconds = toMicroseconds(date->timeIntervalSinceReferenceDate());
      if (!seconds) {
        setError(error, kPropertyListWriteInvalidError, "date out of the range property lists can hold");
        return nullptr;
      }
      double whole = std::floor(*seconds);
      auto microseconds = static_cast<std::int32_t>(std::lround((*seconds - whole) * 1e6));
      return plist_new_date(static_cast<std::int32_t>(whole), microseconds);
    }
    if (auto array = dynamic_cast<const Array*>(&value)) {
      PlistHandle node(plist_new_array());
      for (const ObjectPtr& item : *array) {
        plist_t child = write(*item, depth + 1, error);
        if (!child) return nullptr;
        plist_array_append_item(node.get(), child);
      }
      return node.release();
    }
    if (auto dictionary = dynamic_cast<const Dictionary*>(&value)) {
      PlistHandle node(plist_new_dict());
      bool ok = true;
      dictionary->enumerate([&](const ObjectPtr& key, const ObjectPtr& object) {
        auto keyText = dyn<String>(key);
        if (!keyText || keyText->utf8().find('\0') != std::string::npos) {
          setError(error, kPropertyListWriteInvalidError,
                   "property list dictionary keys must be strings (found " + key->className() + ")");
          ok = false;
          return false;
        }
        plist_t child = write(*object, depth + 1, error);
        if (!child) {
          ok = false;
          return false;
        }
        plist_dict_set_item(node.get(), keyText->utf8().c_str(), child);
        return true;
      });
      if (!ok) return nullptr;
      return node.release();
    }
    setError(error, kPropertyListWriteInvalidError,
             "property lists cannot hold a value of class " + value.className());
    return nullptr;
  }
};

}  // namespace

ObjectPtr parsePropertyList(std::string_view bytes, Ref<Error>* error, bool mutableContainers) {
  if (bytes.empty()) {
    setError(error, kPropertyListReadCorruptError, "property list is empty");
    return nullptr;
  }
  if (bytes.size() > std::numeric_limits<std::uint32_t>::max()) {
    setError(error, kPropertyListReadCorruptError, "property list is too large");
    return nullptr;
  }
  plist_t root = nullptr;
  auto length = static_cast<std::uint32_t>(bytes.size());
  if (bytes.starts_with("bplist00")) {
    std::string problem = checkBinaryPropertyListShape(bytes, kPropertyListMaximumDepth);
    if (!problem.empty()) {
      setError(error, kPropertyListReadCorruptError, "binary property list is malformed: " + problem);
      return nullptr;
    }
    plist_from_bin(bytes.data(), length, &root);
  } else {
    std::string problem = checkXMLPropertyListShape(bytes, kPropertyListMaximumDepth);
    if (!problem.empty()) {
      setError(error, kPropertyListReadCorruptError, "XML property list is malformed: " + problem);
      return nullptr;
    }
    plist_from_xml(bytes.data(), length, &root);
  }
  PlistHandle handle(root);
  if (!root) {
    setError(error, kPropertyListReadCorruptError, "bytes are not a property list");
    return nullptr;
  }
  return Reader(mutableContainers).read(root, 1, error);
}

std::optional<std::string> serializePropertyList(const Object& root, PropertyListFormat format, Ref<Error>* error) {
  PlistHandle node(Writer().write(root, 1, error));
  if (!node) return std::nullopt;
  char* bytes = nullptr;
  std::uint32_t length = 0;
  std::string out;
  if (format == PropertyListFormat::XML) {
    plist_to_xml(node.get(), &bytes, &length);
    if (bytes) out.assign(bytes, length);
    plist_to_xml_free(bytes);
  } else {
    plist_to_bin(node.get(), &bytes, &length);
    if (bytes) out.assign(bytes, length);
    plist_to_bin_free(bytes);
  }
  if (out.empty()) {
    setError(error, kPropertyListWriteInvalidError, "property list could not be serialized");
    return std::nullopt;
  }
  return out;
}

ObjectPtr readPropertyList(const std::filesystem::path& path, Ref<Error>* error, bool mutableContainers,
                           std::uint64_t limit) {
  auto bytes = readFile(path, error, limit);
  if (!bytes) return nullptr;
  return parsePropertyList(*bytes, error, mutableContainers);
}

bool writePropertyList(const std::filesystem::path& path, const Object& root, PropertyListFormat format,
                       Ref<Error>* error, std::filesystem::perms permissions) {
  auto bytes = serializePropertyList(root, format, error);
  if (!bytes) return false;
  if (Ref<Error> failure = writeFileAtomically(path, *bytes, permissions)) {
    if (error) *error = failure;
    return false;
  }
  return true;
}

}  // namespace zv::storage

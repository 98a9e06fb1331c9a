#include "sharing/json/SJsonWriter.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "platform/foundation/Format.h"
#include "platform/foundation/Unicode.h"
#include "sharing/json/DecimalNumber.h"
#include "sharing/json/TextOrder.h"

namespace zv {

namespace {

// A proxy that answers with another proxy, again and again, stops here.
constexpr unsigned kMaximumProxyChain = 64;

}  // namespace

ObjectPtr SJsonWriter::proxyOf(const ObjectPtr& object) const {
  if (!object || !object->respondsToSelector("proxyForJson")) return nullptr;
  return object->performSelector("proxyForJson");
}

Ref<String> SJsonWriter::stringWithFragment(const ObjectPtr& object) {
  clearErrorTrace();
  depth_ = 0;
  std::string out;
  out.reserve(128);
  if (!appendValue(object, out)) return nullptr;
  return std::make_shared<String>(std::move(out));
}

Ref<String> SJsonWriter::stringWithObject(const ObjectPtr& object) {
  if (dynamic_cast<const Dictionary*>(object.get()) || dynamic_cast<const Array*>(object.get()))
    return stringWithFragment(object);
  if (ObjectPtr proxy = proxyOf(object)) {
    if (proxyDepth_ < kMaximumProxyChain) {
      ++proxyDepth_;
      Ref<String> result = stringWithObject(proxy);
      --proxyDepth_;
      if (result) return result;
    }
  }
  clearErrorTrace();
  addErrorWithCode(SJsonErrorFragment, "Not valid type for JSON");
  return nullptr;
}

bool SJsonWriter::appendValue(const ObjectPtr& object, std::string& out) {
  if (auto* dictionary = dynamic_cast<const Dictionary*>(object.get())) return appendDictionary(*dictionary, out);
  if (auto* array = dynamic_cast<const Array*>(object.get())) return appendArray(*array, out);
  if (auto* string = dynamic_cast<const String*>(object.get())) return appendString(string->utf8(), out);
  if (auto* number = dynamic_cast<const Number*>(object.get())) return appendNumber(*number, out);
  if (dynamic_cast<const Null*>(object.get())) {
    out.append("null");
    return true;
  }
  return appendProxy(object, out);
}

bool SJsonWriter::appendProxy(const ObjectPtr& object, std::string& out) {
  ObjectPtr proxy = proxyOf(object);
  if (!proxy) {
    addErrorWithCode(SJsonErrorUnsupported,
                     format("JSON serialisation not supported for %s", object ? object->className().c_str() : "(null)"));
    return false;
  }
  if (proxyDepth_ >= kMaximumProxyChain) {
    addErrorWithCode(SJsonErrorDepth, "Nested too deep");
    return false;
  }
  ++proxyDepth_;
  const bool ok = appendValue(proxy, out);
  --proxyDepth_;
  return ok;
}

bool SJsonWriter::appendNumber(const Number& number, std::string& out) {
  if (number.isBoolean()) {
    out.append(number.boolValue() ? "true" : "false");
    return true;
  }
  // A decimal number writes the digits it was read from, even those a double cannot hold.
  if (auto* decimal = dynamic_cast<const DecimalNumber*>(&number)) {
    out.append(decimal->text());
    return true;
  }
  char buffer[64];
  std::to_chars_result r{};
  if (number.isFloatingPoint()) {
    const double d = number.doubleValue();
    if (!std::isfinite(d)) {
      addErrorWithCode(SJsonErrorUnsupported, "JSON serialisation not supported for NaN or infinity");
      return false;
    }
    // The shortest text that reads back the same value, whatever the process locale.
    r = number.type() == NumberType::Float ? std::to_chars(buffer, buffer + sizeof buffer, static_cast<float>(d))
                                            : std::to_chars(buffer, buffer + sizeof buffer, d);
  } else if (number.isUnsigned()) {
    r = std::to_chars(buffer, buffer + sizeof buffer, number.unsignedLongLongValue());
  } else {
    r = std::to_chars(buffer, buffer + sizeof buffer, number.longLongValue());
  }
  out.append(buffer, r.ptr);
  return true;
}

void SJsonWriter::appendIndentation(std::string& out) const {
  out.push_back('\n');
  out.append(2 * static_cast<std::size_t>(depth_), ' ');
}

bool SJsonWriter::appendArray(const Array& array, std::string& out) {
  if (!enterLevel()) return false;
  out.push_back('[');
  const std::size_t n = array.count();
  for (std::size_t i = 0; i < n; ++i) {
    if (i) out.push_back(',');
    if (humanReadable_) appendIndentation(out);
    if (!appendValue(array.objectAtIndex(i), out)) {
      leaveLevel();
      return false;
    }
  }
  leaveLevel();
  if (humanReadable_ && n) appendIndentation(out);
  out.push_back(']');
  return true;
}

bool SJsonWriter::appendDictionary(const Dictionary& dictionary, std::string& out) {
  if (!enterLevel()) return false;
  out.push_back('{');
  std::vector<Dictionary::Entry> entries = dictionary.entries();
  if (sortKeys_) {
    std::stable_sort(entries.begin(), entries.end(), [](const Dictionary::Entry& a, const Dictionary::Entry& b) {
      auto* x = dynamic_cast<const String*>(a.first.get());
      auto* y = dynamic_cast<const String*>(b.first.get());
      if (!x || !y) return x != nullptr && y == nullptr;  // non-strings last; they fail when reached
      return lessInUTF16Order(x->utf8(), y->utf8());
    });
  }
  const char* separator = humanReadable_ ? " : " : ":";
  bool first = true;
  for (const auto& [key, value] : entries) {
    if (!first) out.push_back(',');
    first = false;
    if (humanReadable_) appendIndentation(out);
    auto* keyText = dynamic_cast<const String*>(key.get());
    if (!keyText) {
      addErrorWithCode(SJsonErrorUnsupported, "JSON object key must be string");
      leaveLevel();
      return false;
    }
    if (!appendString(keyText->utf8(), out)) {
      leaveLevel();
      return false;
    }
    out.append(separator);
    if (!appendValue(value, out)) {
      addErrorWithCode(SJsonErrorUnsupported, format("Unsupported value for key %s in object", keyText->utf8().c_str()));
      leaveLevel();
      return false;
    }
  }
  leaveLevel();
  if (humanReadable_ && !entries.empty()) appendIndentation(out);
  out.push_back('}');
  return true;
}

bool SJsonWriter::appendString(const std::string& text, std::string& out) {
  // A String made straight from bytes may hold ill-formed UTF-8, which would make the output
  // ill-formed JSON.
  if (!unicode::isValidUTF8(text)) {
    addErrorWithCode(SJsonErrorUnsupported, "JSON serialisation not supported for text that is not UTF-8");
    return false;
  }
  out.push_back('"');
  const auto needsEscape = [](unsigned char c) { return c < 0x20 || c == '"' || c == '\\'; };
  std::size_t runStart = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (!needsEscape(c)) continue;
    out.append(text, runStart, i - runStart);
    runStart = i + 1;
    switch (c) {
      case '"': out.append("\\\""); break;
      case '\\': out.append("\\\\"); break;
      case '\b': out.append("\\b"); break;
      case '\t': out.append("\\t"); break;
      case '\n': out.append("\\n"); break;
      case '\f': out.append("\\f"); break;
      case '\r': out.append("\\r"); break;
      default: out.append(format("\\u%04x", c));
    }
  }
  out.append(text, runStart, std::string::npos);
  out.push_back('"');
  return true;
}

}  // namespace zv

#include "platform/foundation/PropertyListDescription.h"

#include <cctype>

#include "platform/foundation/Array.h"
#include "platform/foundation/Dictionary.h"
#include "platform/foundation/String.h"

namespace zv {

namespace {

constexpr int kMaximumDepth = 512;

std::string quoteIfNeeded(const std::string& text) {
  bool plain = !text.empty();
  for (unsigned char c : text) {
    if (!(std::isalnum(c) || c == '_' || c == '.' || c == '$' || c == '/' || c == ':' || c == '-')) {
      plain = false;
      break;
    }
  }
  if (plain) return text;
  std::string out = "\"";
  for (char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      default: out.push_back(c);
    }
  }
  return out + "\"";
}

std::string describeAt(const Object& object, int level) {
  if (level > kMaximumDepth) return "...";
  std::string indent(static_cast<std::size_t>(level) * 4, ' ');
  std::string inner(static_cast<std::size_t>(level + 1) * 4, ' ');
  if (auto* s = dynamic_cast<const String*>(&object)) return quoteIfNeeded(s->utf8());
  if (auto* a = dynamic_cast<const Array*>(&object)) {
    if (a->count() == 0) return "(\n" + indent + ")";
    std::string out = "(\n";
    std::size_t n = a->count();
    for (std::size_t i = 0; i < n; ++i) {
      out += inner + describeAt(*a->objectAtIndex(i), level + 1);
      out += i + 1 < n ? ",\n" : "\n";
    }
    return out + indent + ")";
  }
  if (auto* d = dynamic_cast<const Dictionary*>(&object)) {
    std::string out = "{\n";
    d->enumerate([&](const ObjectPtr& key, const ObjectPtr& value) {
      out += inner + describeAt(*key, level + 1) + " = " + describeAt(*value, level + 1) + ";\n";
      return true;
    });
    return out + indent + "}";
  }
  return object.description();
}

}  // namespace

std::string describePropertyList(const Object& object, int indentLevel) { return describeAt(object, indentLevel); }

}  // namespace zv

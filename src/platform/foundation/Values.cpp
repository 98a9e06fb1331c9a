#include "platform/foundation/Values.h"

namespace zv {

bool boolValueOf(const ObjectPtr& value) {
  if (auto n = dyn<Number>(value)) return n->boolValue();
  if (auto s = dyn<String>(value)) return s->boolValue();
  return false;
}

std::int32_t intValueOf(const ObjectPtr& value) {
  if (auto n = dyn<Number>(value)) return n->intValue();
  if (auto s = dyn<String>(value)) return s->intValue();
  return 0;
}

std::int64_t integerValueOf(const ObjectPtr& value) {
  if (auto n = dyn<Number>(value)) return n->integerValue();
  if (auto s = dyn<String>(value)) return s->integerValue();
  return 0;
}

float floatValueOf(const ObjectPtr& value) { return static_cast<float>(doubleValueOf(value)); }

double doubleValueOf(const ObjectPtr& value) {
  if (auto n = dyn<Number>(value)) return n->doubleValue();
  if (auto s = dyn<String>(value)) return s->doubleValue();
  return 0.0;
}

std::optional<std::string> stringValueOf(const ObjectPtr& value) {
  if (!value) return std::nullopt;
  if (auto s = dyn<String>(value)) return s->utf8();
  return value->description();
}

}  // namespace zv

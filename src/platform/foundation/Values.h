#pragma once
// The value model in one include: every property-list value, JSON result, archived item and
// user-defaults value is one of these objects. `box` makes values from C++ ones.

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/foundation/Array.h"
#include "platform/foundation/Data.h"
#include "platform/foundation/Date.h"
#include "platform/foundation/Dictionary.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/IndexPath.h"
#include "platform/foundation/Null.h"
#include "platform/foundation/Number.h"
#include "platform/foundation/Object.h"
#include "platform/foundation/Set.h"
#include "platform/foundation/String.h"
#include "platform/foundation/URL.h"

namespace zv {

inline Ref<String> box(std::string_view text) { return String::make(text); }
inline Ref<String> box(const char* text) { return String::make(text); }
inline Ref<String> box(const std::string& text) { return String::make(std::string_view(text)); }
inline Ref<Number> box(bool value) { return Number::make(value); }
inline Ref<Number> box(int value) { return Number::make(value); }
inline Ref<Number> box(unsigned value) { return Number::make(value); }
inline Ref<Number> box(long value) { return Number::make(value); }
inline Ref<Number> box(unsigned long value) { return Number::make(value); }
inline Ref<Number> box(long long value) { return Number::make(value); }
inline Ref<Number> box(unsigned long long value) { return Number::make(value); }
inline Ref<Number> box(float value) { return Number::make(value); }
inline Ref<Number> box(double value) { return Number::make(value); }

// Scalar readings of any value as the platform's collections answered them: numbers and strings
// read their numeric value, anything else (or nullptr) reads as 0 / NO.
bool boolValueOf(const ObjectPtr& value);
std::int32_t intValueOf(const ObjectPtr& value);
std::int64_t integerValueOf(const ObjectPtr& value);
float floatValueOf(const ObjectPtr& value);
double doubleValueOf(const ObjectPtr& value);
// The text of a String, or the description of another value; nullopt for nullptr.
std::optional<std::string> stringValueOf(const ObjectPtr& value);

}  // namespace zv

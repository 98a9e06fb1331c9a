#include "platform/foundation/Number.h"

#include <cmath>
#include <cstdio>
#include <functional>
#include <limits>

#include "platform/foundation/Format.h"

namespace zv {

Ref<Number> Number::make(bool value) { return value ? yes() : no(); }

const Ref<Number>& Number::yes() {
  static const Ref<Number>& value = *new Ref<Number>(std::make_shared<Number>(NumberType::Bool, 1, 1, 1.0));
  return value;
}

const Ref<Number>& Number::no() {
  static const Ref<Number>& value = *new Ref<Number>(std::make_shared<Number>(NumberType::Bool, 0, 0, 0.0));
  return value;
}

Ref<Number> Number::make(float value) {
  return std::make_shared<Number>(NumberType::Float, 0, 0, static_cast<double>(value));
}

Ref<Number> Number::make(double value) { return std::make_shared<Number>(NumberType::Double, 0, 0, value); }

Ref<Number> Number::makeSigned(std::int64_t value, NumberType type) {
  return std::make_shared<Number>(type, value, static_cast<std::uint64_t>(value), static_cast<double>(value));
}

Ref<Number> Number::makeUnsigned(std::uint64_t value, NumberType type) {
  return std::make_shared<Number>(type, static_cast<std::int64_t>(value), value, static_cast<double>(value));
}

bool Number::isUnsigned() const {
  switch (type_) {
    case NumberType::UnsignedChar:
    case NumberType::UnsignedShort:
    case NumberType::UnsignedInt:
    case NumberType::UnsignedLong:
    case NumberType::UnsignedLongLong:
      return true;
    default:
      return false;
  }
}

bool Number::boolValue() const { return isFloatingPoint() ? d_ != 0.0 : u_ != 0; }

std::int64_t Number::longLongValue() const {
  if (!isFloatingPoint()) return i_;
  if (std::isnan(d_)) return 0;
  if (d_ >= 9.2233720368547758e18) return INT64_MAX;
  if (d_ <= -9.2233720368547758e18) return INT64_MIN;
  return static_cast<std::int64_t>(d_);
}

std::uint64_t Number::unsignedLongLongValue() const {
  if (!isFloatingPoint()) return u_;
  if (std::isnan(d_) || d_ <= -9.2233720368547758e18) return 0;
  if (d_ < 0) return static_cast<std::uint64_t>(static_cast<std::int64_t>(d_));
  if (d_ >= 1.8446744073709552e19) return UINT64_MAX;
  return static_cast<std::uint64_t>(d_);
}

double Number::doubleValue() const { return d_; }

std::string Number::stringValue() const {
  if (isFloatingPoint()) {
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, type_ == NumberType::Float ? "%.7g" : "%.17g", d_);
    // Prefer the shortest text that reads back the same value.
    for (int precision = 1; precision <= 17; ++precision) {
      char shorter[40];
      std::snprintf(shorter, sizeof shorter, "%.*g", precision, d_);
      double back = std::strtod(shorter, nullptr);
      if (type_ == NumberType::Float ? static_cast<float>(back) == static_cast<float>(d_) : back == d_) {
        return shorter;
      }
    }
    return buffer;
  }
  if (isUnsigned()) return std::to_string(u_);
  return std::to_string(i_);
}

int Number::compare(const Number& other) const {
  if (isFloatingPoint() || other.isFloatingPoint()) {
    double a = doubleValue(), b = other.doubleValue();
    return a < b ? -1 : (a > b ? 1 : 0);
  }
  bool aNegative = !isUnsigned() && i_ < 0;
  bool bNegative = !other.isUnsigned() && other.i_ < 0;
  if (aNegative != bNegative) return aNegative ? -1 : 1;
  if (aNegative) return i_ < other.i_ ? -1 : (i_ > other.i_ ? 1 : 0);
  return u_ < other.u_ ? -1 : (u_ > other.u_ ? 1 : 0);
}

bool Number::isEqual(const Object& other) const {
  if (this == &other) return true;
  auto* n = dynamic_cast<const Number*>(&other);
  if (n == nullptr) return false;
  // compare() finds NaN neither below nor above anything; as a value NaN equals only NaN.
  const bool nan = isFloatingPoint() && std::isnan(d_);
  const bool otherNaN = n->isFloatingPoint() && std::isnan(n->d_);
  if (nan || otherNaN) return nan && otherNaN;
  return compare(*n) == 0;
}

std::size_t Number::hash() const {
  // Equal values hash alike whatever their types: integral doubles hash as integers.
  if (isFloatingPoint()) {
    // Every NaN is equal to every other, whatever its sign and payload bits.
    if (std::isnan(d_)) return std::hash<double>{}(std::numeric_limits<double>::quiet_NaN());
    double whole;
    if (std::modf(d_, &whole) == 0.0 && std::fabs(d_) < 9.2e18) return std::hash<std::int64_t>{}(static_cast<std::int64_t>(d_));
    return std::hash<double>{}(d_);
  }
  return std::hash<std::int64_t>{}(i_);
}

namespace {
// Made with the process, before any thread can fork: a child made by fork never finds one half made
// (its guard held by a thread it does not have).
[[maybe_unused]] const bool gBooleansMade = (Number::yes(), Number::no(), true);
}  // namespace

}  // namespace zv

#pragma once
// A number that remembers the C type it was made from, as property lists, the JSON serializer and
// the archive need to tell a boolean from an integer from a double.

#include <cstdint>
#include <string>

#include "platform/foundation/Object.h"

namespace zv {

enum class NumberType : char {
  Bool = 'B',  // written as true/false by property lists and JSON
  Char = 'c',
  UnsignedChar = 'C',
  Short = 's',
  UnsignedShort = 'S',
  Int = 'i',
  UnsignedInt = 'I',
  Long = 'l',
  UnsignedLong = 'L',
  LongLong = 'q',
  UnsignedLongLong = 'Q',
  Float = 'f',
  Double = 'd',
};

class Number : public Object {
 public:
  static Ref<Number> make(bool value);
  static Ref<Number> make(int value) { return makeSigned(value, NumberType::Int); }
  static Ref<Number> make(unsigned value) { return makeUnsigned(value, NumberType::UnsignedInt); }
  static Ref<Number> make(long value) { return makeSigned(value, NumberType::LongLong); }
  static Ref<Number> make(unsigned long value) { return makeUnsigned(value, NumberType::UnsignedLongLong); }
  static Ref<Number> make(long long value) { return makeSigned(value, NumberType::LongLong); }
  static Ref<Number> make(unsigned long long value) { return makeUnsigned(value, NumberType::UnsignedLongLong); }
  static Ref<Number> make(float value);
  static Ref<Number> make(double value);
  static Ref<Number> makeSigned(std::int64_t value, NumberType type);
  static Ref<Number> makeUnsigned(std::uint64_t value, NumberType type);
  // The shared true and false numbers.
  static const Ref<Number>& yes();
  static const Ref<Number>& no();

  NumberType type() const { return type_; }
  // The one-character type code ("c", "i", "q", "Q", "f", "d", ...); booleans answer "c".
  char typeCode() const { return type_ == NumberType::Bool ? 'c' : static_cast<char>(type_); }
  bool isBoolean() const { return type_ == NumberType::Bool; }
  bool isFloatingPoint() const { return type_ == NumberType::Float || type_ == NumberType::Double; }
  bool isUnsigned() const;

  bool boolValue() const;
  std::int32_t intValue() const { return static_cast<std::int32_t>(longLongValue()); }
  std::int64_t integerValue() const { return longLongValue(); }
  std::int64_t longLongValue() const;
  std::uint64_t unsignedLongLongValue() const;
  float floatValue() const { return static_cast<float>(doubleValue()); }
  double doubleValue() const;
  // The decimal text: "1"/"0" for booleans, integers in full, floating point with up to 17
  // significant digits (15 for floats).
  std::string stringValue() const;

  // -1, 0, 1.
  int compare(const Number& other) const;

  std::string description() const override { return stringValue(); }
  bool isEqual(const Object& other) const override;
  std::size_t hash() const override;

  Number(NumberType type, std::int64_t i, std::uint64_t u, double d) : type_(type), i_(i), u_(u), d_(d) {}

 private:
  NumberType type_;
  std::int64_t i_;
  std::uint64_t u_;
  double d_;
};

}  // namespace zv

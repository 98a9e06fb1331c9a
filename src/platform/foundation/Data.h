#pragma once
// Bytes as an object.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Object.h"

namespace zv {

class Data : public Object {
 public:
  static Ref<Data> make(std::vector<std::uint8_t> bytes = {});
  static Ref<Data> make(const void* bytes, std::size_t length);
  static Ref<Data> make(std::string_view bytes) { return make(bytes.data(), bytes.size()); }

  const std::vector<std::uint8_t>& bytes() const { return bytes_; }
  const std::uint8_t* data() const { return bytes_.data(); }
  std::size_t length() const { return bytes_.size(); }
  std::string_view view() const {
    return {reinterpret_cast<const char*>(bytes_.data()), bytes_.size()};
  }
  std::span<const std::uint8_t> span() const { return bytes_; }

  // "<0a1b 2c3d ...>", as the host printed data.
  std::string description() const override;
  bool isEqual(const Object& other) const override;
  std::size_t hash() const override;
  ObjectPtr copy() const override { return self(); }
  ObjectPtr mutableCopy() const override;

  explicit Data(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}

 protected:
  std::vector<std::uint8_t> bytes_;
};

class MutableData : public Data {
 public:
  static Ref<MutableData> make(std::vector<std::uint8_t> bytes = {});
  std::vector<std::uint8_t>& mutableBytes() { return bytes_; }
  void append(const void* bytes, std::size_t length);
  void append(std::string_view bytes) { append(bytes.data(), bytes.size()); }
  void setLength(std::size_t length) { bytes_.resize(length); }
  ObjectPtr copy() const override { return Data::make(bytes_); }

  explicit MutableData(std::vector<std::uint8_t> bytes) : Data(std::move(bytes)) {}
};

}  // namespace zv

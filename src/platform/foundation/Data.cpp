#include "platform/foundation/Data.h"

#include <cstring>

#include "platform/foundation/String.h"

namespace zv {

Ref<Data> Data::make(std::vector<std::uint8_t> bytes) { return std::make_shared<Data>(std::move(bytes)); }

Ref<Data> Data::make(const void* bytes, std::size_t length) {
  auto p = static_cast<const std::uint8_t*>(bytes);
  return std::make_shared<Data>(std::vector<std::uint8_t>(p, p + length));
}

std::string Data::description() const {
  static const char* hex = "0123456789abcdef";
  std::string out = "<";
  for (std::size_t i = 0; i < bytes_.size(); ++i) {
    if (i > 0 && i % 4 == 0) out.push_back(' ');
    out.push_back(hex[bytes_[i] >> 4]);
    out.push_back(hex[bytes_[i] & 15]);
  }
  out.push_back('>');
  return out;
}

bool Data::isEqual(const Object& other) const {
  if (this == &other) return true;
  auto* d = dynamic_cast<const Data*>(&other);
  return d != nullptr && d->bytes_ == bytes_;
}

std::size_t Data::hash() const { return hashText(view()); }

ObjectPtr Data::mutableCopy() const { return MutableData::make(bytes_); }

Ref<MutableData> MutableData::make(std::vector<std::uint8_t> bytes) {
  return std::make_shared<MutableData>(std::move(bytes));
}

void MutableData::append(const void* bytes, std::size_t length) {
  auto p = static_cast<const std::uint8_t*>(bytes);
  bytes_.insert(bytes_.end(), p, p + length);
}

}  // namespace zv

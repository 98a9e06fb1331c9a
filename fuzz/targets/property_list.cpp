// The property-list reader (the shape check in front of the decoder, then the decoder) on
// arbitrary bytes, XML or binary as the bytes say. Whatever reads must write back in both forms:
// the binary form reads again to an equal value, the XML form to a value that is stable from its
// second trip on (XML keeps dates to the second), and equal at once when the input was XML.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/storage/PropertyList.h"

namespace {

bool same(const zv::ObjectPtr& a, const zv::ObjectPtr& b) { return a && b && a->isEqual(*b); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace zv;
  using namespace zv::storage;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  Ref<Error> error;
  ObjectPtr value = parsePropertyList(bytes, &error);
  if (!value != !!error) std::abort();  // exactly one of a value and an error
  if (!value) return 0;
  ObjectPtr mutableValue = parsePropertyList(bytes, nullptr, true);
  if (!same(value, mutableValue)) std::abort();

  auto binary = serializePropertyList(*value, PropertyListFormat::Binary);
  if (!binary) std::abort();
  if (!same(parsePropertyList(*binary), value)) std::abort();

  auto xml = serializePropertyList(*value, PropertyListFormat::XML);
  if (!xml) std::abort();
  ObjectPtr once = parsePropertyList(*xml);
  if (!once) std::abort();
  if (!bytes.starts_with("bplist00") && !same(once, value)) std::abort();
  auto xmlAgain = serializePropertyList(*once, PropertyListFormat::XML);
  if (!xmlAgain || !same(parsePropertyList(*xmlAgain), once)) std::abort();
  return 0;
}

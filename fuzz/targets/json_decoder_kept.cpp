// The JSON decoder kept across inputs: one decoder per option set lives for the whole run, so its
// token cache carries values from one document into the next, and some decoded values are kept
// past later documents and released at points the input picks. Every value a kept decoder gives
// must equal what a fresh decoder gives, and a kept value must still write the text it wrote when
// it was decoded.

#include <array>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "sharing/json/JSONCodecConversions.h"
#include "sharing/json/JSONDecoder.h"

namespace {

struct Kept {
  zv::ObjectPtr value;
  std::string text;  // what the value wrote when it was decoded
};

std::string written(const zv::ObjectPtr& value) {
  auto text = zv::jsoncodec::JSONStringWithOptions(value, zv::JCSerializeOptionNone);
  if (!text) std::abort();  // whatever decodes must write
  return text->utf8();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace zv;
  static std::array<std::unique_ptr<JSONDecoder>, 16> decoders;
  static std::vector<Kept> kept;
  if (size < 2) return 0;
  const JCParseOptionFlags options = data[0] & 15u;
  // Second byte: bit 0 keeps this document's value, bits 1-2 decode mutable, bits 3-7 pick how many
  // kept values (oldest first) to release before decoding.
  const std::uint8_t plan = data[1];
  const char* text = reinterpret_cast<const char*>(data + 2);
  const std::size_t length = size - 2;

  for (std::size_t n = plan >> 3; n > 0 && !kept.empty(); --n) {
    if (written(kept.front().value) != kept.front().text) std::abort();
    kept.erase(kept.begin());
  }

  auto& decoder = decoders[options];
  if (!decoder) decoder = std::make_unique<JSONDecoder>(options);
  const bool mutableResult = (plan & 6u) != 0;
  Ref<Error> error;
  ObjectPtr value = mutableResult ? decoder->mutableObjectWithUTF8String(text, length, &error)
                                  : decoder->objectWithUTF8String(text, length, &error);
  if (!value != !!error) std::abort();

  JSONDecoder fresh(options);
  ObjectPtr expected = fresh.objectWithUTF8String(text, length);
  if (!value != !expected) std::abort();
  if (!value) return 0;
  if (!value->isEqual(*expected)) std::abort();

  for (const Kept& k : kept)
    if (written(k.value) != k.text) std::abort();
  if ((plan & 1u) != 0 && kept.size() < 64) kept.push_back({value, written(value)});
  return 0;
}

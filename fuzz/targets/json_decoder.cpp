// The JSON decoder on arbitrary bytes: the first byte picks the parse options, the rest is the
// text. Whatever parses must write back through the serializer and decode again to an equal tree.

#include <cstdint>
#include <cstdlib>
#include <string>

#include "sharing/json/JSONCodecConversions.h"
#include "sharing/json/JSONDecoder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace zv;
  if (size == 0) return 0;
  const JCParseOptionFlags options = data[0] & 15u;
  const JCSerializeOptionFlags writeOptions = (data[0] >> 4) & (JCSerializePretty | JCSerializeEscapeUnicode);
  const char* text = reinterpret_cast<const char*>(data + 1);
  const std::size_t length = size - 1;

  JSONDecoder decoder(options);
  Ref<Error> error;
  ObjectPtr value = decoder.objectWithUTF8String(text, length, &error);
  if (!value != !!error) std::abort();  // exactly one of a value and an error
  ObjectPtr mutableValue = decoder.mutableObjectWithUTF8String(text, length);
  if (!value != !mutableValue) std::abort();
  if (!value) return 0;
  if (!value->isEqual(*mutableValue)) std::abort();

  Ref<Error> writeError;
  auto written = jsoncodec::JSONStringWithOptions(value, writeOptions, &writeError);
  if (!written) {
    // Only noncharacters passed through leniently... none survive decoding, so writing must work.
    std::abort();
  }
  Ref<Error> againError;
  JSONDecoder fresh;
  ObjectPtr again = fresh.objectWithUTF8String(written->utf8().data(), written->utf8().size(), &againError);
  if (!again || !again->isEqual(*value)) std::abort();
  return 0;
}

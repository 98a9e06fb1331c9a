// The second JSON library's parser on arbitrary bytes (a NUL ends the text, as for its callers).
// Whatever parses must write back and parse again to an equal tree.

#include <cstdint>
#include <cstdlib>
#include <string>

#include "sharing/json/SJsonParser.h"
#include "sharing/json/SJsonWriter.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace zv;
  if (size == 0) return 0;
  const std::uint8_t flags = data[0];
  // Unreplaced bytes, as a String's storage could hold them.
  auto text = std::make_shared<String>(std::string(reinterpret_cast<const char*>(data + 1), size - 1));
  SJsonParser parser;
  if (flags & 1) parser.setMaxDepth(0);
  ObjectPtr value = (flags & 2) ? parser.fragmentWithString(text) : parser.objectWithString(text);
  if (!value != !!parser.errorTrace()) std::abort();
  if (!value) return 0;

  SJsonWriter writer;
  writer.setMaxDepth(parser.maxDepth());
  writer.setHumanReadable(flags & 4);
  writer.setSortKeys(flags & 8);
  auto written = writer.stringWithFragment(value);
  if (!written) std::abort();
  SJsonParser again;
  again.setMaxDepth(parser.maxDepth());
  ObjectPtr reread = again.fragmentWithString(written);
  if (!reread || !reread->isEqual(*value)) std::abort();
  return 0;
}

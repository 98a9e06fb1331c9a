// Photo-service replies of arbitrary bytes: the XML mapper maps or refuses (with a reason), never
// crashes, and what it maps holds only dictionaries, arrays of dictionaries and texts; the
// query-string reader answers a dictionary of texts or nothing.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <string_view>

#include "platform/foundation/Array.h"
#include "platform/foundation/String.h"
#include "sharing/services/flickr/FKXMLMapper.h"
#include "sharing/services/flickr/FlickrUtilities.h"

namespace {

void check(const zv::ObjectPtr& value, int depth) {
  if (depth > 200) std::abort();
  if (zv::dyn<zv::String>(value)) return;
  if (auto list = zv::dyn<zv::Array>(value)) {
    for (const auto& entry : *list) {
      if (!zv::dyn<zv::Dictionary>(entry)) std::abort();
      check(entry, depth + 1);
    }
    return;
  }
  auto dictionary = zv::dyn<zv::Dictionary>(value);
  if (!dictionary) std::abort();
  dictionary->enumerate([&](const zv::ObjectPtr& key, const zv::ObjectPtr& entry) {
    if (!zv::dyn<zv::String>(key)) std::abort();
    check(entry, depth + 1);
    return true;
  });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  auto mapper = zv::FKXMLMapper::make();
  const bool mapped = mapper->runWithData(text);
  if (mapped != mapper->failureReason().empty()) std::abort();
  if (mapped) check(mapper->resultantDictionary(), 0);
  if (auto values = zv::FKQueryDictionaryFromString(text)) {
    values->enumerate([](const zv::ObjectPtr& key, const zv::ObjectPtr& value) {
      if (!zv::dyn<zv::String>(key) || !zv::dyn<zv::String>(value)) std::abort();
      return true;
    });
  }
  return 0;
}

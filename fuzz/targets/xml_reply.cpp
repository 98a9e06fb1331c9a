// XML replies of arbitrary bytes: the reader answers a value or nothing, never crashes, and what
// it read holds only texts and attribute dictionaries of texts.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/foundation/Log.h"
#include "platform/foundation/String.h"
#include "sharing/core/SXXMLResponseParser.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static bool quiet = (zv::setLogSink([](std::string_view) {}), true);
  (void)quiet;
  auto parser = zv::SXXMLResponseParser::initWithData(zv::Data::make(data, size));
  bool parsed = parser->parse();
  if (parsed != parser->parseError().empty()) std::abort();
  if (!parsed || !parser->parsedResponse()) return 0;
  parser->parsedResponse()->enumerate([](const zv::ObjectPtr& key, const zv::ObjectPtr& value) {
    if (!zv::dyn<zv::String>(key)) std::abort();
    if (auto attributes = zv::dyn<zv::Dictionary>(value)) {
      attributes->enumerate([](const zv::ObjectPtr& name, const zv::ObjectPtr& text) {
        if (!zv::dyn<zv::String>(name) || !zv::dyn<zv::String>(text)) std::abort();
        return true;
      });
    } else if (!zv::dyn<zv::String>(value)) {
      std::abort();
    }
    return true;
  });
  zv::SXXMLResponseParser::findRecursivelyValueForKey("id", parser->parsedResponse());
  return 0;
}

// A stored share item (a property list read back from the offline queue or a parked share) is
// restored without crashing whatever its entries hold, and a restored item survives a second
// trip through its dictionary form unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/foundation/Log.h"
#include "platform/storage/PropertyList.h"
#include "sharing/core/SXConfiguration.h"
#include "sharing/core/SXItem.h"

namespace {

bool sameText(const std::optional<std::string>& a, const std::optional<std::string>& b) { return a == b; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool configured = [] {
    zv::setLogSink([](std::string_view) {});
    zv::SXConfiguration::sharedInstanceWithConfigurator(std::make_shared<zv::DefaultSXConfigurator>());
    return true;
  }();
  (void)configured;

  auto root = zv::storage::parsePropertyList(std::string_view(reinterpret_cast<const char*>(data), size));
  auto item = zv::SXItem::itemFromDictionary(root);
  if (!item) return 0;
  (void)item->description();

  auto again = zv::SXItem::itemFromDictionary(item->dictionaryRepresentation());
  if (!again) std::abort();
  if (again->shareType != item->shareType || again->URLContentType != item->URLContentType) std::abort();
  if (!sameText(again->title, item->title) || !sameText(again->text, item->text) ||
      !sameText(again->tags, item->tags) || !sameText(again->mailBody, item->mailBody)) {
    std::abort();
  }
  if ((again->url == nullptr) != (item->url == nullptr)) std::abort();
  if (item->url && again->url->absoluteString() != item->url->absoluteString()) std::abort();
  if ((again->image == nullptr) != (item->image == nullptr)) std::abort();
  if (again->mailToRecipients != item->mailToRecipients) std::abort();
  return 0;
}

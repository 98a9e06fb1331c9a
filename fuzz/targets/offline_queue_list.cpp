// A stored offline-queue list of arbitrary bytes: every entry is either accepted whole (a uid that
// names a file inside the queue folder, a sharer id and a rebuilt item) or refused, never a crash.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string_view>

#include "platform/foundation/Array.h"
#include "platform/foundation/Log.h"
#include "platform/storage/PropertyList.h"
#include "platform/system/ApplicationEnvironment.h"
#include "sharing/core/SXConfiguration.h"
#include "sharing/core/SXOfflineQueue.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool configured = [] {
    zv::setLogSink([](std::string_view) {});
    // The queue folder is only named, but naming it makes it: keep it out of the user's home.
    zv::ApplicationEnvironment::shared().setHomeDirectory(std::filesystem::temp_directory_path() / "zv-fuzz-queue");
    zv::SXConfiguration::sharedInstanceWithConfigurator(std::make_shared<zv::DefaultSXConfigurator>());
    return true;
  }();
  (void)configured;

  auto root = zv::storage::parsePropertyList(std::string_view(reinterpret_cast<const char*>(data), size));
  auto list = zv::dyn<zv::Array>(root);
  if (!list) return 0;
  const auto folder = zv::SXOfflineQueue::offlineQueuePath();
  for (const auto& object : list->objects()) {
    auto entry = zv::SXOfflineQueue::entryFromObject(object);
    if (!entry) continue;
    auto payload = zv::SXOfflineQueue::payloadPath(entry->uid);
    if (!entry->item || entry->sharerId.empty() || !payload || payload->parent_path() != folder) std::abort();
  }
  return 0;
}

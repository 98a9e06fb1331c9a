// The keyed-archive reader on arbitrary bytes. Malformed bytes raise the invalid-archive
// exception and nothing else; a value that reads must archive again and read back equal, with
// its shared members still shared.

#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/storage/KeyedArchive.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace zv;
  using namespace zv::storage;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  ObjectPtr value;
  try {
    value = unarchiveObjectWithData(bytes);
  } catch (const Exception& e) {
    if (e.name() != kInvalidArchiveOperationException) std::abort();
    return 0;
  }
  if (!value) std::abort();
  const std::string archived = archivedDataWithRootObject(*value);
  ObjectPtr again = unarchiveObjectWithData(archived);
  if (!again) std::abort();
  if (!again->isEqual(*value)) std::abort();
  // Archiving what came back gives the same bytes: nothing drifts from one trip to the next.
  if (archivedDataWithRootObject(*again) != archived) std::abort();
  return 0;
}

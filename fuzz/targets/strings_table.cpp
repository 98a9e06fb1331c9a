// The ".strings" table reader on arbitrary bytes (UTF-8 or UTF-16, as the bytes say). It gives a
// table of strings or an error, never both, and never a crash; the table does not depend on
// whether the text came as UTF-8 or as UTF-16.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/foundation/Unicode.h"
#include "platform/storage/StringsTable.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace zv;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  Ref<Error> error;
  Ref<Dictionary> table = storage::parseStringsTable(bytes, &error);
  if (!table != !!error) std::abort();
  if (!table) return 0;
  bool allText = true;
  table->enumerate([&](const ObjectPtr& key, const ObjectPtr& value) {
    allText = dyn<String>(key) && dyn<String>(value);
    return allText;
  });
  if (!allText) std::abort();

  // Well-formed UTF-8 text without NUL reads the same when handed over as UTF-16 with a byte-order mark.
  if (bytes.find('\0') != std::string_view::npos || !unicode::isValidUTF8(bytes) ||
      bytes.starts_with("\xEF\xBB\xBF"))
    return 0;
  std::u16string units = unicode::toUTF16(bytes);
  std::string utf16 = "\xFF\xFE";
  for (char16_t unit : units) {
    utf16.push_back(static_cast<char>(unit & 0xFF));
    utf16.push_back(static_cast<char>(unit >> 8));
  }
  Ref<Dictionary> again = storage::parseStringsTable(utf16);
  if (!again || !again->isEqual(*table)) std::abort();
  return 0;
}

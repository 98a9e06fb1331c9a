#pragma once
// The ".strings" table format: `"key" = "value";` pairs (the old text property-list syntax, with
// comments and escapes), in UTF-8 or UTF-16 (detected from a byte-order mark, or from zero bytes). Pure; any thread.

#include <string_view>

#include "platform/foundation/Values.h"

namespace zv::storage {

// A dictionary of String keys to String values; nullptr with *error set when malformed.
Ref<Dictionary> parseStringsTable(std::string_view bytes, Ref<Error>* error = nullptr);

}  // namespace zv::storage

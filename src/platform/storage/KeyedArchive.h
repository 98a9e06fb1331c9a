#pragma once
// Keyed archives: a value tree (strings, numbers including booleans, data, dates, null, arrays,
// dictionaries whose keys may be any archivable value, sets) stored as one binary property list.
// Unarchiving malformed bytes raises Exception "NSInvalidArchiveOperationException", as the
// platform's unarchiver raised. Pure; any thread.

#include <string>
#include <string_view>

#include "platform/foundation/Values.h"

namespace zv::storage {

inline constexpr const char* kInvalidArchiveOperationException = "NSInvalidArchiveOperationException";

// The archive bytes; raises "NSInvalidArgumentException" for a value that cannot be archived.
std::string archivedDataWithRootObject(const Object& root);
// The root value; raises kInvalidArchiveOperationException when the bytes are not an archive.
ObjectPtr unarchiveObjectWithData(std::string_view bytes);

}  // namespace zv::storage

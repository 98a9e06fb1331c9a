#pragma once
// Property lists in their XML and binary forms (through libplist): Dictionary, Array, String,
// Number (booleans, integers, reals), Data and Date. Reading takes bytes and gives a value or an
// error; nothing here opens files except the two file conveniences at the end. No shared state; any thread.
//
// Numbers read back as booleans, as LongLong integers (UnsignedLongLong above INT64_MAX) and as
// Double reals; the type of a Float or Int is not kept (the keyed archive keeps it). Dates are
// kept to the microsecond (rounded) in the binary form and to the second in XML, and must lie
// between 1932-12-13 and 2069-01-19 (32-bit seconds either side of 2001); strings may not hold
// NUL. Input that would read as something other than what it says (a date out of that range, an
// XML integer with a leading zero or beyond 64 bits, a string holding NUL) is refused, not bent.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Values.h"
#include "platform/storage/AtomicFile.h"

namespace zv::storage {

enum class PropertyListFormat { XML, Binary };

// Error domain of property-list failures.
inline constexpr const char* kPropertyListErrorDomain = "PropertyListErrorDomain";
// Codes of that domain, as the platform numbered them: bytes that are not a readable property
// list, and values that cannot be written as one.
inline constexpr std::int64_t kPropertyListReadCorruptError = 3840;
inline constexpr std::int64_t kPropertyListWriteInvalidError = 3851;
// Deeper nesting is refused on reading and writing; it also bounds the recursion of both.
inline constexpr std::size_t kPropertyListMaximumDepth = 512;

// Parses XML or binary (detected from the bytes). Collections come back mutable when asked.
// nullptr with *error set when the bytes are not a property list (malformed, too deep, or holding
// values a property list cannot hold).
ObjectPtr parsePropertyList(std::string_view bytes, Ref<Error>* error = nullptr, bool mutableContainers = false);

// Serializes a value tree; nullopt with *error set when it holds something other than the
// property-list kinds (or dictionary keys that are not strings).
std::optional<std::string> serializePropertyList(const Object& root, PropertyListFormat format,
                                                 Ref<Error>* error = nullptr);

// Reads the property list at `path` through storage::readFile (regular files of at most `limit`
// bytes); nullptr (with *error) when missing, unreadable or malformed.
ObjectPtr readPropertyList(const std::filesystem::path& path, Ref<Error>* error = nullptr,
                           bool mutableContainers = false, std::uint64_t limit = kDefaultReadLimit);
// Writes atomically (see AtomicFile.h) with the given permissions; false (with *error) on failure,
// and then the previous file is untouched.
bool writePropertyList(const std::filesystem::path& path, const Object& root, PropertyListFormat format,
                       Ref<Error>* error = nullptr,
                       std::filesystem::perms permissions = std::filesystem::perms::owner_read |
                                                            std::filesystem::perms::owner_write |
                                                            std::filesystem::perms::group_read |
                                                            std::filesystem::perms::others_read);

}  // namespace zv::storage

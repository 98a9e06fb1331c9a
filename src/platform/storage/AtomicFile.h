#pragma once
// Whole-file writes that are never seen half done: the bytes go to a temporary file in the same
// folder, are flushed to disk, and the temporary file is renamed over the target. A write that
// fails at any step leaves the previous file as it was. Any thread; of two concurrent writers of
// one path the later rename wins whole.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Error.h"

namespace zv::storage {

// Writes `bytes` to `path` atomically with the given permission bits (applied to the new file).
// Creates missing parent folders. Returns nullptr on success, the error otherwise.
Ref<Error> writeFileAtomically(const std::filesystem::path& path, std::string_view bytes,
                               std::filesystem::perms permissions = std::filesystem::perms::owner_read |
                                                                    std::filesystem::perms::owner_write |
                                                                    std::filesystem::perms::group_read |
                                                                    std::filesystem::perms::others_read);

// The whole content of a file; nullopt (and *error set when given) when it cannot be read.
std::optional<std::string> readFile(const std::filesystem::path& path, Ref<Error>* error = nullptr);

}  // namespace zv::storage

#pragma once
// Whole-file writes that are never seen half done: the bytes go to a temporary file in the same
// folder, are flushed to disk, and the temporary file is renamed over the target. A write that
// fails at any step leaves the previous file as it was. Any thread; of two concurrent writers of
// one path the later rename wins whole.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Error.h"

namespace zv::storage {

// Writes `bytes` to `path` atomically with the given permission bits (applied to the new file).
// Creates missing parent folders (mode 0700, as createPrivateFolders). Returns nullptr on
// success, the error otherwise; the temporary file is gone either way.
Ref<Error> writeFileAtomically(const std::filesystem::path& path, std::string_view bytes,
                               std::filesystem::perms permissions = std::filesystem::perms::owner_read |
                                                                    std::filesystem::perms::owner_write |
                                                                    std::filesystem::perms::group_read |
                                                                    std::filesystem::perms::others_read);

// Every read of a file by path goes through readFile or openFileForReading, so one rule holds for
// all of them: the open never blocks (a named pipe nobody writes to is refused, not waited on),
// only a regular file is read (checked on the descriptor, so a link to a device or a pipe is
// refused too), and readFile takes no more than the caller's limit.

// As writeFileAtomically, but never replaces: when `path` exists (or appears meanwhile) nothing is
// written and the error is EEXIST. The finished temporary file is put in place with link(2), or,
// on a file system without hard links (vfat, exFAT, some network shares), with a rename that
// refuses to replace (renameat2 RENAME_NOREPLACE): either way `path` holds the whole file or
// nothing, whatever happens to the writer. Only where both are refused is the file created there
// with O_EXCL and written, so readers may see it grow, a writer cut off leaves it partial, and a
// write that fails removes it again.
Ref<Error> writeNewFileAtomically(const std::filesystem::path& path, std::string_view bytes,
                                  std::filesystem::perms permissions = std::filesystem::perms::owner_read |
                                                                       std::filesystem::perms::owner_write |
                                                                       std::filesystem::perms::group_read |
                                                                       std::filesystem::perms::others_read);

// Makes `folder` and its missing parents, each one it makes with mode 0700: the folders the
// system keeps its own state in are the user's alone. Folders that exist keep their mode.
// Succeeds when `folder` is a folder afterwards (also one another process made meanwhile).
bool createPrivateFolders(const std::filesystem::path& folder, std::error_code& error);

// Test seams: while true, link(2) in writeNewFileAtomically fails with EPERM as on a file system
// without hard links, and its rename without replacing fails with EINVAL as on one that cannot
// do that either. Nothing but tests sets them.
void setHardLinksFailForTesting(bool fail);
void setNoReplaceRenameFailsForTesting(bool fail);

// The largest file readFile takes when the caller names no limit: no file this program keeps
// comes near it. Callers that know their files are small pass a smaller limit.
inline constexpr std::uint64_t kDefaultReadLimit = std::uint64_t{512} << 20;
// The limit for files that hold settings, tables, scripts or secrets rather than media.
inline constexpr std::uint64_t kSmallFileReadLimit = std::uint64_t{16} << 20;

// The whole content of a regular file of at most `limit` bytes; nullopt (and *error set when
// given) when it cannot be read, is not a regular file (POSIX domain, EISDIR for a folder, EINVAL
// for anything else) or is larger than `limit` (EFBIG). A missing file is ENOENT.
std::optional<std::string> readFile(const std::filesystem::path& path, Ref<Error>* error = nullptr,
                                    std::uint64_t limit = kDefaultReadLimit);

// Opens a regular file for reading under the same rule as readFile, for callers that stream it:
// a blocking, close-on-exec descriptor the caller closes, or -1 (and *error set when given).
int openFileForReading(const std::filesystem::path& path, Ref<Error>* error = nullptr);

}  // namespace zv::storage

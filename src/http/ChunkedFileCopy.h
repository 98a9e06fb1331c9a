#pragma once
// The file-to-file loop shared by the two gzip helpers: read a source in chunks of 262144 bytes,
// hand each chunk to a transform and write what it yields. Internal to the http library.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "platform/foundation/Data.h"
#include "platform/foundation/Error.h"

namespace zv::httpdetail {

inline constexpr std::size_t kFileChunkSize = 262144;

// Writes one piece of output to the destination; NO when the write failed.
using ChunkWriter = std::function<bool(const std::uint8_t* bytes, std::size_t length)>;

// `transform(bytes, length, isLast, write, error)` hands its output to `write` piece by piece (so a
// chunk that grows a thousandfold never has to be held whole) and answers NO with *error set when
// it fails; a failed write stops the copy with the write error. It is called with isLast YES
// exactly once when the source is exhausted, with the final (possibly empty) chunk; an empty
// source calls it never. `verb` is "Compression" or "Decompression" for the messages. Then, however
// the copy went, `closeStream` ends the transform's stream; its failure is reported only when the
// copy itself succeeded (a copy's own failure is the one that explains what went wrong).
using ChunkTransform = std::function<bool(const void*, std::size_t, bool, const ChunkWriter&, Ref<Error>*)>;
bool transformFile(const std::string& verb, const std::string& sourcePath, const std::string& destinationPath,
                   const ChunkTransform& transform, const std::function<Ref<Error>()>& closeStream, Ref<Error>* error);

// Moves a file, also to another file system: where a rename cannot (EXDEV) the bytes are copied
// to a temporary file beside the destination, flushed and renamed over it, and only then is the
// source removed, so the destination is never seen half written. 0, or the errno of the failure
// (the source is then left in place).
int moveFile(const std::string& from, const std::string& to);

// Copies a file in pieces of kFileChunkSize bytes (never whole in memory) to a temporary file
// beside `to`, created with `mode`, flushed and renamed over `to`: `to` holds the whole copy or
// what it held before. The number of bytes copied goes to *copied. 0, or the errno of the failure.
int copyFile(const std::string& from, const std::string& to, unsigned mode, std::uint64_t* copied = nullptr);

// A path for a temporary file in the same folder as `path` (so it can be renamed over it).
std::string siblingTemporaryPath(const std::string& path);

// A new path in the process's own temporary folder (removed with what is in it at the next start
// after a crash or a kill).
std::string newTemporaryFilePath();

// Opens a file for writing (emptied, or appended to) that only the user can read: what the client
// writes (bodies with passwords, downloads of credentialed requests) is created mode 0600; an
// existing file keeps its mode. nullptr (errno set) on failure.
std::FILE* openPrivateFile(const std::string& path, bool append);

}  // namespace zv::httpdetail

#pragma once
// The file-to-file loop shared by the two gzip helpers: read a source in chunks of 262144 bytes,
// hand each chunk to a transform and write what it yields. Internal to the http library.

#include <cstddef>
#include <functional>
#include <string>

#include "platform/foundation/Data.h"
#include "platform/foundation/Error.h"

namespace zv::httpdetail {

inline constexpr std::size_t kFileChunkSize = 262144;

// `transform(bytes, length, isLast, error)` returns the bytes to write (nullptr with no error
// writes nothing). It is called with isLast YES exactly once when the source is exhausted, with
// the final (possibly empty) chunk; an empty source calls it never. `verb` is "Compression" or
// "Decompression" for the messages.
bool transformFile(const std::string& verb, const std::string& sourcePath, const std::string& destinationPath,
                   const std::function<Ref<Data>(const void*, std::size_t, bool, Ref<Error>*)>& transform,
                   Ref<Error>* error);

}  // namespace zv::httpdetail

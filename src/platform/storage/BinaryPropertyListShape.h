#pragma once
// A structural check of binary property-list bytes before they reach the decoder: the trailer,
// the offset table and every container's references must lie in bounds, and the object graph
// must be free of cycles, no deeper than a bound, and not blow up when shared objects are
// expanded into a tree (the decoder copies each shared object once per reference).

#include <cstddef>
#include <string>
#include <string_view>

namespace zv::storage {

// An empty string when the bytes pass, otherwise what is wrong with them.
std::string checkBinaryPropertyListShape(std::string_view bytes, std::size_t maximumDepth);

}  // namespace zv::storage

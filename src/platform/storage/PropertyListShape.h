#pragma once
// Checks of property-list bytes before they reach the decoder, which is lenient where it should
// not be (it reads "<integer>abc</integer>" as 0) and recursive where input may be hostile. Pure; any thread.

#include <cstddef>
#include <string>
#include <string_view>

namespace zv::storage {

// Binary form: the trailer, the offset table and every container's references must lie in bounds,
// and the object graph must be free of cycles, no deeper than the bound, and not blow up when
// shared objects are expanded into a tree (the decoder copies a shared object per reference, so
// the bytes of the tree it would build are counted, a shared string's text once per reference).
// An empty string when the bytes pass, otherwise what is wrong with them.
std::string checkBinaryPropertyListShape(std::string_view bytes, std::size_t maximumDepth);

// XML form: arrays and dictionaries nested no deeper than the bound, and the text of every
// integer, real, date and data element well formed. Tags inside comments, CDATA sections,
// processing instructions, declarations (their quoted literals and internal subset included) and
// quoted attribute values count for nothing, as they do for the decoder; any of those left
// unterminated is refused.
std::string checkXMLPropertyListShape(std::string_view text, std::size_t maximumDepth);

}  // namespace zv::storage

#pragma once
// The character-reference tables of the HTML escaping, each sorted by ascending code unit so it
// can be searched by bisection. Constant data; any thread.

#include <cstddef>
#include <span>

namespace zv::html {

struct HTMLEscapeMap {
  const char* escapeSequence;  // "&amp;"
  char16_t uchar;
};

// Every named reference of HTML 4.01 plus "&apos;" (253 entries).
std::span<const HTMLEscapeMap> fullEscapeTable();
// The HTML 4.01 special set plus "&apos;" (33 entries).
std::span<const HTMLEscapeMap> shortEscapeTable();

}  // namespace zv::html

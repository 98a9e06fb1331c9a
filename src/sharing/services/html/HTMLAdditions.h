#pragma once
// HTML-safe text by character references, and back. Text is UTF-8 in and out; the tables are
// searched per UTF-16 code unit, as the escaping was defined. Pure; any thread.

#include <span>
#include <string>
#include <string_view>

#include "sharing/services/html/HTMLEntityTables.h"

namespace zv::html {

// Every escaper here writes only characters XML 1.0 can carry: a C0 control other than tab, line
// feed and carriage return is dropped (vertical tab and form feed become a line feed), U+FFFE and
// U+FFFF become U+FFFD, and so do ill-formed UTF-8 bytes.
//
// Escapes with the short table (the markup characters and the HTML special set); everything else
// is copied.
std::string html_stringByEscapingForHTML(std::string_view text);
// Escapes with the full table; every other character of 128 or above becomes one decimal
// reference (a character outside the basic plane gives one reference to its code point), so the
// result is plain ASCII.
std::string html_stringByEscapingForAsciiHTML(std::string_view text);
// Text for plain XML (no DTD): only the five predefined entities are used.
std::string xml_stringByEscaping(std::string_view text);
// The common worker.
std::string html_stringByEscapingHTMLUsingTable(std::string_view text, std::span<const HTMLEscapeMap> table,
                                                bool escapingUnicode);
// Replaces named, decimal and hexadecimal references (4 to 10 characters from "&" to ";") by their
// characters; a reference that the result of an earlier one forms is not read again. Numeric
// references from 1 to 65534 and of supplementary-plane code points are read; a surrogate is read
// only as the high half of a pair of references immediately followed by its low half, so the result
// never holds a lone surrogate. Anything else stays as text.
std::string html_stringByUnescapingFromHTML(std::string_view text);

}  // namespace zv::html

#pragma once
// The document title of an HTML page, read with a forgiving HTML parser (no network access, no
// error output): the text of the first <title> element with its white space collapsed; empty when
// the page has none. Pure; any thread.

#include <string>
#include <string_view>

namespace zv::ui {

std::string htmlDocumentTitle(std::string_view html);

}  // namespace zv::ui

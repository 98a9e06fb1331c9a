#pragma once
// What a page says about itself, read with a forgiving HTML parser (no network access, no error
// output): its document title, and the properties of an element named by id. Pure; any thread.

#include <optional>
#include <string>
#include <string_view>

namespace zv::ui {

// The text of the first <title> element with its white space collapsed; empty when the page has
// none.
std::string htmlDocumentTitle(std::string_view html);

// A property of the first element whose id attribute is `id`: "innerHTML" (its children written
// out as HTML), "innerText" (its text with white space collapsed) or "value" (a text area's text,
// else the value attribute, empty when absent). nullopt when no element has that id or the
// property is none of these.
std::optional<std::string> htmlElementProperty(std::string_view html, std::string_view id, std::string_view property);

}  // namespace zv::ui

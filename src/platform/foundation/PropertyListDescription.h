#pragma once
// The text form collections print as their description: the old property-list text style,
// ("(a, b)" arrays and "{key = value;}" dictionaries, indented four spaces per level).

#include <string>

#include "platform/foundation/Object.h"

namespace zv {

std::string describePropertyList(const Object& object, int indentLevel = 0);

}  // namespace zv

#pragma once
// One-call conversions of the second JSON library, each with a fresh parser or writer. A failure
// logs its error trace and gives nullptr. Any thread.

#include "platform/foundation/Values.h"

namespace zv::sjson {

// An array or a dictionary read from the text.
ObjectPtr JSONValue(const Ref<String>& string);
// Any value read from the text.
ObjectPtr JSONFragmentValue(const Ref<String>& string);
// An array or a dictionary (or an object with a proxy) as JSON text.
Ref<String> JSONRepresentation(const ObjectPtr& object);
// Any value as JSON text.
Ref<String> JSONFragment(const ObjectPtr& object);

}  // namespace zv::sjson

#include "platform/foundation/Null.h"

namespace zv {

const Ref<Null>& Null::null() {
  static const Ref<Null>& instance = *new Ref<Null>(std::make_shared<Null>());
  return instance;
}

namespace {
// Made with the process, before any thread can fork: a child made by fork never finds one half made
// (its guard held by a thread it does not have).
[[maybe_unused]] const bool gNullMade = (Null::null(), true);
}  // namespace

}  // namespace zv

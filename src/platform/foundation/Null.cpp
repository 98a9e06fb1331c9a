#include "platform/foundation/Null.h"

namespace zv {

const Ref<Null>& Null::null() {
  static const Ref<Null>& instance = *new Ref<Null>(std::make_shared<Null>());
  return instance;
}

}  // namespace zv

#include "settings/PrefsSettingsStoreUserDefaults.h"

#include <limits>

namespace zv {

Ref<PrefsSettingsStoreUserDefaults> PrefsSettingsStoreUserDefaults::make() {
  return make(UserDefaults::standardUserDefaults());
}

Ref<PrefsSettingsStoreUserDefaults> PrefsSettingsStoreUserDefaults::make(Ref<UserDefaults> defaults) {
  return std::make_shared<PrefsSettingsStoreUserDefaults>(std::move(defaults));
}

std::int32_t PrefsSettingsStoreUserDefaults::integerForKey(std::string_view key) {
  std::int64_t value = defaults_->integerForKey(key);
  // The store's integers are 32-bit: saturate rather than wrap.
  if (value > std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
  if (value < std::numeric_limits<std::int32_t>::min()) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(value);
}

}  // namespace zv

#pragma once
// First-run defaults of the settings description: every row of "Root" and of the child panes it
// names (each pane once) that has a "Key" and a "DefaultValue" gets that value stored in the user
// defaults, unless a value is stored there already, or is in the defaults file when it is saved
// (another process may have stored the user's choice meanwhile).

#include <cstddef>
#include <string_view>

#include "platform/system/Bundle.h"
#include "platform/system/UserDefaults.h"

namespace zv {

// Returns how many values it stored.
std::size_t registerSettingsDefaults(UserDefaults& defaults, const Ref<Bundle>& bundle,
                                     std::string_view rootFile = "Root");

}  // namespace zv

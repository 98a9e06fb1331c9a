#include "app/SettingsDefaults.h"

#include <set>
#include <string>
#include <vector>

#include "settings/PrefsSettingsReader.h"

namespace zv {

std::size_t registerSettingsDefaults(UserDefaults& defaults, const Ref<Bundle>& bundle, std::string_view rootFile) {
  std::size_t stored = 0;
  std::vector<std::string> pending{std::string(rootFile)};
  std::set<std::string> seen;
  while (!pending.empty()) {
    std::string file = pending.back();
    pending.pop_back();
    if (!seen.insert(file).second) continue;  // panes may name each other
    auto reader = PrefsSettingsReader::make(file, bundle);
    auto description = reader->settingsDictionary();
    auto rows = description ? description->objectForKeyAs<Array>("PreferenceSpecifiers") : nullptr;
    if (!rows) continue;
    for (const auto& item : *rows) {
      auto row = dyn<Dictionary>(item);
      if (!row) continue;
      if (row->stringForKey("Type") == kPrefsPSChildPaneSpecifier) {
        if (auto child = row->stringForKey("File"); child && !row->objectForKey("PrefsViewControllerClass"))
          pending.push_back(*child);
      }
      auto key = row->stringForKey("Key");
      auto value = row->objectForKey("DefaultValue");
      // Only where the file has no value either when it is saved: another process may have
      // stored the user's choice since this one read the file.
      if (!key || !value || defaults.objectForKey(*key)) continue;
      if (defaults.setObjectIfAbsent(value, *key)) ++stored;
    }
  }
  return stored;
}

}  // namespace zv

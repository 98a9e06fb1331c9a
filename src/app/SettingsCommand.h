#pragma once
// The "settings" command: shows the Settings tab as a table (every pane, section and row with
// its current value, read through the settings screens themselves) and edits one value through
// the same paths a user's touch takes, so a change is stored and announced exactly as on the
// screen. Registers the description's defaults on the first run. Main thread only.

#include <iosfwd>
#include <string>
#include <vector>

namespace zv {

// `arguments` follow the word "settings": none (show), or "set KEY VALUE". Returns the exit
// status: 0 on success, 1 for a value the row does not take, 2 for misuse or an unknown key.
int runSettingsCommand(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);

}  // namespace zv

#pragma once
// The "settings" command: shows the Settings tab as a table (every pane, section and row with
// its current value, read through the settings screens themselves) and edits one value through
// the same paths a user's touch takes, so a change is stored and announced exactly as on the
// screen. Registers the description's defaults on the first run. Main thread only.

#include <iosfwd>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace zv {

// `arguments` follow the word "settings": none (show), "set KEY VALUE", or a help request. Returns
// the exit status: 0 on success, 1 for a value the row does not take, a value or default that
// could not be saved, or settings that cannot be read (a pane among them: the table shows the
// others, and a key not found in them may be one of its); 2 for misuse or an unknown key. Help
// and misuse touch nothing in the home.
int runSettingsCommand(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);

// "--help", "-h" or "help".
bool isHelpRequest(const std::string& argument);
// The commands and the environment variables they read.
std::string usageText();

// `text` for a terminal: control characters escaped (\n, \t, \r, \xHH, \uHHHH for C1 controls),
// cut to `maximumCharacters` characters with a trailing ellipsis when longer.
std::string terminalSafeText(std::string_view text, std::size_t maximumCharacters);

}  // namespace zv

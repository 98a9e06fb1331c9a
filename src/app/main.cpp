// zerivudor: the services' command line. "settings" shows and edits the Settings tab.

#include <iostream>
#include <string>
#include <vector>

#include "app/SettingsCommand.h"
#include "platform/foundation/Log.h"
#include "platform/runloop/RunLoop.h"
#include "utilities/RegisterUtilitiesClasses.h"

int main(int argc, char** argv) {
  zv::RunLoop::setMainThreadToCurrent();
  zv::registerUtilitiesClasses();
  // The Settings tab screen announces on creation that it no longer loads nibs, and readers note
  // descriptions they do not find; neither is news to a person at a terminal.
  zv::setLogSink([](std::string_view line) {
    if (line.starts_with("[DEBUG]") || line.ends_with("is now deprecated, we are moving away from nibs.")) return;
    std::cerr << line << '\n';
  });
  std::vector<std::string> arguments(argv + 1, argv + argc);
  if (!arguments.empty() && zv::isHelpRequest(arguments[0])) {
    std::cout << zv::usageText();
    return 0;
  }
  if (arguments.empty() || arguments[0] != "settings") {
    std::cerr << zv::usageText();
    return 2;
  }
  arguments.erase(arguments.begin());
  return zv::runSettingsCommand(arguments, std::cout, std::cerr);
}

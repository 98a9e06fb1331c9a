// zerivudor: the services' command line. "settings" shows and edits the Settings tab.

#include <iostream>
#include <string>
#include <vector>

#include "app/SettingsCommand.h"
#include "platform/runloop/RunLoop.h"

int main(int argc, char** argv) {
  zv::RunLoop::setMainThreadToCurrent();
  std::vector<std::string> arguments(argv + 1, argv + argc);
  if (arguments.empty() || arguments[0] != "settings") {
    std::cerr << "usage: zerivudor settings [set KEY VALUE]\n";
    return 2;
  }
  arguments.erase(arguments.begin());
  return zv::runSettingsCommand(arguments, std::cout, std::cerr);
}

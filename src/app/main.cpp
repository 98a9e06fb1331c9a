// zerivudor: the services' command line. "settings" shows and edits the Settings tab.

#include <signal.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "app/SettingsCommand.h"
#include "platform/foundation/Log.h"
#include "platform/runloop/RunLoop.h"
#include "utilities/RegisterUtilitiesClasses.h"

namespace {

int run(std::vector<std::string> arguments) {
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

// A command whose output did not all reach standard output (a full disk, say) has failed,
// whatever it did besides, as with the standard tools.
int finishOutput(int status) {
  errno = 0;
  std::cout.flush();
  bool failed = std::fflush(stdout) != 0 || std::ferror(stdout) || !std::cout;
  int code = errno;
  if (!failed) return status;
  std::cerr << "zerivudor: the output could not be written"
            << (code != 0 ? std::string(": ") + std::strerror(code) : std::string()) << "\n";
  return status != 0 ? status : 1;
}

}  // namespace

int main(int argc, char** argv) {
  // A file-size limit (ulimit -f) makes a write that goes past it fail with EFBIG instead of
  // killing the process, so a save that cannot be made is reported as such and its temporary
  // file removed.
  ::signal(SIGXFSZ, SIG_IGN);
  zv::RunLoop::setMainThreadToCurrent();
  zv::registerUtilitiesClasses();
  // The Settings tab screen announces on creation that it no longer loads nibs, and readers note
  // descriptions they do not find; neither is news to a person at a terminal.
  zv::setLogSink([](std::string_view line) {
    if (line.starts_with("[DEBUG]") || line.ends_with("is now deprecated, we are moving away from nibs.")) return;
    std::cerr << line << '\n';
  });
  return finishOutput(run(std::vector<std::string>(argv + 1, argv + argc)));
}

// zerivudor: the services' command line. "settings" shows and edits the Settings tab.

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

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

// A standard descriptor the program was started without is held on /dev/null before anything
// else runs, so no descriptor the program or its libraries open (a run loop's eventfd, a lock
// file, a socket) ever takes its number and receives what was meant for the terminal. Output
// and error are held read-only and input write-only: writing the output then fails with "Bad
// file descriptor", and the command reports it, as the standard tools do.
__attribute__((constructor(101))) void holdClosedStandardDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // Every lower number is open by now, so the lowest free one is this.
    int held = ::open("/dev/null", (fd == 0 ? O_WRONLY : O_RDONLY) | O_NOCTTY);
    if (held != fd) ::_exit(1);
  }
}

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

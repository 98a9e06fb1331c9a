#pragma once
// The process log: one line per event, "[LEVEL] message". Lines go to standard error unless a
// sink is installed (tests capture lines with LogCapture). Secrets never go to the log: callers
// log names of things, never tokens or passwords.

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace zv {

enum class LogLevel { Info, Trace, Debug, Warning, Error };

// "INFO", "TRACE", "DEBUG", "WARNING", "ERROR".
const char* logLevelWord(LogLevel level);

using LogSink = std::function<void(std::string_view line)>;

// Writes "[LEVEL] message" as one line.
void log(LogLevel level, std::string_view message);
// Writes a line as it stands (the caller formatted any prefix).
void logLine(std::string_view line);
void logInfo(std::string_view message);
void logDebug(std::string_view message);
void logError(std::string_view message);

// Installs a sink for every line; nullptr restores standard error. Returns the previous sink.
LogSink setLogSink(LogSink sink);

// Captures log lines for the lifetime of the object (tests). Any thread may log meanwhile; a line
// that another thread logs while the capture ends is safe to deliver late. Captures may end in any
// order: the log then goes to the newest capture still alive, else where it went before the first.
class LogCapture {
 public:
  LogCapture();
  ~LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;
  std::vector<std::string> lines() const;
  bool contains(std::string_view fragment) const;

  // Shared with the installed sink, which a logging thread may still hold after the capture ends.
  struct State;

 private:
  std::shared_ptr<State> state_;
};

}  // namespace zv

#include "platform/foundation/Log.h"

#include <cstdio>

#include "platform/foundation/ForkHandlers.h"

namespace zv {

struct LogCapture::State {
  std::mutex mutex;
  std::vector<std::string> lines;
  bool open = true;
  // What was installed before this capture (guarded by sinkMutex()).
  LogSink previous;
  std::shared_ptr<State> previousCapture;
};

namespace {
// Held across a fork, so a child can log (ForkHandlers.h).
ForkMutex& sinkMutex() {
  static ForkMutex& mutex = *new ForkMutex(ForkLockLevel::LogSink);
  return mutex;
}
LogSink& currentSink() {
  static LogSink& sink = *new LogSink;
  return sink;
}
// The capture whose sink is installed; nullptr when another sink (or none) is.
// Never destroyed: threads may still log while the process exits.
std::shared_ptr<LogCapture::State>& installedCaptureSlot() {
  static auto* slot = new std::shared_ptr<LogCapture::State>;
  return *slot;
}

void deliver(const LogSink& sink, std::string_view line) {
  if (sink) {
    sink(line);
    return;
  }
  std::string text(line);
  text.push_back('\n');
  std::fwrite(text.data(), 1, text.size(), stderr);
}
}  // namespace

const char* logLevelWord(LogLevel level) {
  switch (level) {
    case LogLevel::Info: return "INFO";
    case LogLevel::Trace: return "TRACE";
    case LogLevel::Debug: return "DEBUG";
    case LogLevel::Warning: return "WARNING";
    case LogLevel::Error: return "ERROR";
  }
  return "INFO";
}

void logLine(std::string_view line) {
  LogSink sink;
  {
    std::lock_guard lock(sinkMutex());
    sink = currentSink();
  }
  deliver(sink, line);
}

void log(LogLevel level, std::string_view message) {
  std::string line = "[";
  line += logLevelWord(level);
  line += "] ";
  line += message;
  logLine(line);
}

void logInfo(std::string_view message) { log(LogLevel::Info, message); }
void logDebug(std::string_view message) { log(LogLevel::Debug, message); }
void logError(std::string_view message) { log(LogLevel::Error, message); }

LogSink setLogSink(LogSink sink) {
  std::lock_guard lock(sinkMutex());
  LogSink previous = std::move(currentSink());
  currentSink() = std::move(sink);
  installedCaptureSlot() = nullptr;
  return previous;
}

LogCapture::LogCapture() : state_(std::make_shared<State>()) {
  // The sink holds the state, not the capture: a thread may have taken the sink just before the
  // capture ends and call it afterwards; the line then goes where it would have gone without it.
  LogSink sink = [state = state_](std::string_view line) {
    {
      std::lock_guard lock(state->mutex);
      if (state->open) {
        state->lines.emplace_back(line);
        return;
      }
    }
    LogSink previous;
    {
      std::lock_guard lock(sinkMutex());
      previous = state->previous;
    }
    deliver(previous, line);
  };
  std::lock_guard lock(sinkMutex());
  state_->previous = std::move(currentSink());
  state_->previousCapture = std::move(installedCaptureSlot());
  currentSink() = std::move(sink);
  installedCaptureSlot() = state_;
}

LogCapture::~LogCapture() {
  {
    std::lock_guard lock(state_->mutex);
    state_->open = false;
  }
  std::lock_guard lock(sinkMutex());
  // Ended out of order: a newer capture stays installed and skips this one when it ends.
  if (installedCaptureSlot() != state_) return;
  auto restored = state_;
  while (restored && !restored->open) {
    currentSink() = restored->previous;
    restored = restored->previousCapture;
  }
  installedCaptureSlot() = std::move(restored);
}

std::vector<std::string> LogCapture::lines() const {
  std::lock_guard lock(state_->mutex);
  return state_->lines;
}

bool LogCapture::contains(std::string_view fragment) const {
  std::lock_guard lock(state_->mutex);
  for (const auto& line : state_->lines)
    if (line.find(fragment) != std::string::npos) return true;
  return false;
}

namespace {
// Made with the process, before any thread can fork: a child made by fork never finds one half made
// (its guard held by a thread it does not have).
[[maybe_unused]] const bool gLogStateMade = [] {
  sinkMutex();
  currentSink();
  installedCaptureSlot();
  return true;
}();
}  // namespace

}  // namespace zv

#include "platform/foundation/Log.h"

#include <cstdio>

namespace zv {

namespace {
std::mutex sinkMutex;
LogSink& currentSink() {
  static LogSink sink;
  return sink;
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
    std::lock_guard lock(sinkMutex);
    sink = currentSink();
  }
  if (sink) {
    sink(line);
    return;
  }
  std::string text(line);
  text.push_back('\n');
  std::fwrite(text.data(), 1, text.size(), stderr);
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
  std::lock_guard lock(sinkMutex);
  LogSink previous = std::move(currentSink());
  currentSink() = std::move(sink);
  return previous;
}

LogCapture::LogCapture() {
  previous_ = setLogSink([this](std::string_view line) {
    std::lock_guard lock(mutex_);
    lines_.emplace_back(line);
  });
}

LogCapture::~LogCapture() { setLogSink(std::move(previous_)); }

std::vector<std::string> LogCapture::lines() const {
  std::lock_guard lock(mutex_);
  return lines_;
}

bool LogCapture::contains(std::string_view fragment) const {
  std::lock_guard lock(mutex_);
  for (const auto& line : lines_)
    if (line.find(fragment) != std::string::npos) return true;
  return false;
}

}  // namespace zv

#include "platform/foundation/Format.h"

#include <cstdio>

namespace zv {

std::string formatv(const char* fmt, va_list args) {
  char stackBuffer[512];
  va_list copy;
  va_copy(copy, args);
  int needed = std::vsnprintf(stackBuffer, sizeof stackBuffer, fmt, copy);
  va_end(copy);
  if (needed < 0) return {};
  if (static_cast<size_t>(needed) < sizeof stackBuffer) return std::string(stackBuffer, needed);
  std::string result(static_cast<size_t>(needed), '\0');
  std::vsnprintf(result.data(), result.size() + 1, fmt, args);
  return result;
}

std::string format(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  std::string result = formatv(fmt, args);
  va_end(args);
  return result;
}

}  // namespace zv

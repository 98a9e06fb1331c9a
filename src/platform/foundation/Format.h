#pragma once
// printf-style formatting into a std::string. Objects are formatted by passing
// describe(object).c_str() to a "%s"; the texts the system quotes with "%@" are written that way.

#include <cstdarg>
#include <string>

namespace zv {

std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string formatv(const char* fmt, va_list args);

}  // namespace zv

#include "platform/foundation/Date.h"

#include <cmath>
#include <cstdio>
#include <ctime>
#include <functional>

#include "platform/foundation/Clock.h"

namespace zv {

Ref<Date> Date::now() { return make(Clock::current()->now()); }
Ref<Date> Date::make(double seconds) { return std::make_shared<Date>(seconds); }
Ref<Date> Date::fromUnixTime(double seconds) { return make(seconds - kReferenceDateOffset); }
Ref<Date> Date::distantPast() { return make(-63114076800.0); }
Ref<Date> Date::distantFuture() { return make(63113904000.0); }

double Date::timeIntervalSince1970() const { return seconds_ + kReferenceDateOffset; }
double Date::timeIntervalSinceNow() const { return seconds_ - Clock::current()->now(); }

namespace {
bool toUTC(double seconds, std::tm& out) {
  double unix = std::floor(seconds + kReferenceDateOffset);
  if (!std::isfinite(unix)) return false;
  std::time_t t = static_cast<std::time_t>(unix);
  return gmtime_r(&t, &out) != nullptr;
}
}  // namespace

std::string Date::description() const {
  std::tm tm{};
  if (!toUTC(seconds_, tm)) return "(invalid date)";
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d +0000", tm.tm_year + 1900, tm.tm_mon + 1,
                tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
  return buffer;
}

std::string Date::iso8601() const {
  std::tm tm{};
  if (!toUTC(seconds_, tm)) return "";
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02dZ", tm.tm_year + 1900, tm.tm_mon + 1,
                tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
  return buffer;
}

Ref<Date> Date::fromISO8601(std::string_view text) {
  int year, month, day, hour, minute, second;
  char tail = 0;
  std::string s(text);
  if (std::sscanf(s.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c", &year, &month, &day, &hour, &minute, &second, &tail) != 7 ||
      tail != 'Z')
    return nullptr;
  if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60) return nullptr;
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  std::time_t t = timegm(&tm);
  return fromUnixTime(static_cast<double>(t));
}

bool Date::isEqual(const Object& other) const {
  if (this == &other) return true;
  auto* d = dynamic_cast<const Date*>(&other);
  return d != nullptr && d->seconds_ == seconds_;
}

std::size_t Date::hash() const { return std::hash<double>{}(seconds_); }

}  // namespace zv

#pragma once
// A point in time: seconds since 2001-01-01 00:00:00 UTC, the reference date of property lists.

#include <string>

#include "platform/foundation/Object.h"

namespace zv {

class Date : public Object {
 public:
  // The current time from Clock::current().
  static Ref<Date> now();
  static Ref<Date> make(double secondsSinceReferenceDate);
  static Ref<Date> fromUnixTime(double secondsSince1970);
  static Ref<Date> distantPast();
  static Ref<Date> distantFuture();

  double timeIntervalSinceReferenceDate() const { return seconds_; }
  double timeIntervalSince1970() const;
  double timeIntervalSinceDate(const Date& other) const { return seconds_ - other.seconds_; }
  double timeIntervalSinceNow() const;
  Ref<Date> dateByAddingTimeInterval(double seconds) const { return make(seconds_ + seconds); }
  int compare(const Date& other) const { return seconds_ < other.seconds_ ? -1 : (seconds_ > other.seconds_ ? 1 : 0); }

  // "2001-01-01 00:00:00 +0000"
  std::string description() const override;
  // ISO 8601 in UTC, "2001-01-01T00:00:00Z", as XML property lists write dates.
  std::string iso8601() const;
  // Parses the ISO 8601 form above; nullptr when malformed.
  static Ref<Date> fromISO8601(std::string_view text);

  bool isEqual(const Object& other) const override;
  std::size_t hash() const override;

  explicit Date(double seconds) : seconds_(seconds) {}

 private:
  double seconds_;
};

}  // namespace zv

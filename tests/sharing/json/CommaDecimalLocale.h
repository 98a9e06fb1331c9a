#pragma once
// Switches LC_NUMERIC to an installed locale whose decimal separator is a comma for the life of
// the object, so a test can show that numbers are read and written the same whatever the
// process locale says. scripts/setup generates de_DE.UTF-8; a test skips, and says why, when no
// such locale is installed. Tests run one at a time in a binary, so the process-wide switch is safe.

#include <gtest/gtest.h>

#include <clocale>
#include <cstring>
#include <string>

namespace zv::testing {

class CommaDecimalLocale {
 public:
  CommaDecimalLocale() {
    const char* previous = std::setlocale(LC_NUMERIC, nullptr);
    saved_ = previous ? previous : "C";
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8", "nl_NL.UTF-8"}) {
      if (std::setlocale(LC_NUMERIC, name) && std::strcmp(std::localeconv()->decimal_point, ",") == 0) {
        active_ = true;
        return;
      }
    }
    std::setlocale(LC_NUMERIC, saved_.c_str());
  }
  ~CommaDecimalLocale() { std::setlocale(LC_NUMERIC, saved_.c_str()); }
  CommaDecimalLocale(const CommaDecimalLocale&) = delete;
  CommaDecimalLocale& operator=(const CommaDecimalLocale&) = delete;

  bool active() const { return active_; }

 private:
  std::string saved_;
  bool active_ = false;
};

}  // namespace zv::testing

// Skips the calling test, visibly, when `locale` could not switch.
#define ZV_SKIP_WITHOUT_COMMA_DECIMAL_LOCALE(locale)                                                       \
  if (!(locale).active())                                                                                   \
  GTEST_SKIP() << "no locale with a comma decimal separator is installed (scripts/setup generates de_DE.UTF-8)"

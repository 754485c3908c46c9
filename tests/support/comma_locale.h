// A locale with a decimal comma, active in the whole process for the life of the guard: the
// locale a desktop program sets at start, under which printf-family numbers would change.
#pragma once

#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <string>

namespace vl::test {

class CommaLocale {
 public:
  CommaLocale() {
    const char* prev = std::setlocale(LC_ALL, nullptr);
    previous_ = prev ? prev : "C";
    active_ = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
    if (active_) {
      // Proof that the locale really changes printf's numbers, so a pass means something.
      char buf[16];
      std::snprintf(buf, sizeof buf, "%g", 0.5);
      active_ = std::string(buf) == "0,5";
    }
  }
  ~CommaLocale() { std::setlocale(LC_ALL, previous_.c_str()); }
  CommaLocale(const CommaLocale&) = delete;
  CommaLocale& operator=(const CommaLocale&) = delete;

  bool active() const { return active_; }

 private:
  std::string previous_;
  bool active_ = false;
};

}  // namespace vl::test

// Skips the test when the machine lacks the locale (scripts/install-deps generates it).
#define VELMORA_WITH_COMMA_LOCALE(guard)                                                            \
  ::vl::test::CommaLocale guard;                                                                    \
  if (!guard.active()) GTEST_SKIP() << "locale de_DE.UTF-8 is not installed (run scripts/install-deps)"

// Outside text in the agent's log: bounded, counted, and unable to forge a line.
#include "agent/log_text.h"

#include <gtest/gtest.h>

namespace vl {
namespace {

TEST(LogText, CutsCountsAndEscapes) {
  const std::string e = "\xC3\xA9";  // é, two bytes
  struct Case {
    std::string in;
    size_t limit;
    std::string out;
  } cases[] = {
      {"Cursor Speed Cmd", 200, "Cursor Speed Cmd"},
      {"", 200, ""},
      {std::string(10, 'A'), 4, "AAAA\xE2\x80\xA6 (6 more bytes)"},
      {"one\ntwo\r\x7f", 200, "one\\x0atwo\\x0d\\x7f"},
      // An escape is not split either: it is shown whole or not at all.
      {"ab\ncd", 4, "ab\xE2\x80\xA6 (3 more bytes)"},
      // A UTF-8 sequence is kept whole or left out whole.
      {e + e + e, 3, e + "\xE2\x80\xA6 (4 more bytes)"},
      {"x" + e, 200, "x" + e},
      // Bytes that are no whole sequence are shown, not passed on.
      {"a\xC3", 200, "a\\xc3"},
      {"\xFF\xFE", 200, "\\xff\\xfe"},
      {"\xE2\x80z", 200, "\\xe2\\x80z"},
  };
  for (const auto& c : cases) EXPECT_EQ(textForLog(c.in, c.limit), c.out) << c.in;

  std::string huge(2 * 1024 * 1024, 'Q');
  std::string cut = textForLog(huge);
  EXPECT_EQ(cut.substr(0, kLogTextLimit), std::string(kLogTextLimit, 'Q'));
  EXPECT_EQ(cut.substr(kLogTextLimit), "\xE2\x80\xA6 (2096952 more bytes)");
}

}  // namespace
}  // namespace vl

// Locale-independent number texts: printf's C-locale forms, the strict and the lenient reading,
// and both under a locale with a decimal comma.
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <limits>
#include <random>

#include "core/errors/error_stack.h"
#include "core/plist/codec.h"
#include "core/plist/number_text.h"
#include "core/system/versions.h"
#include "support/comma_locale.h"

namespace pl {
namespace {

std::string cFormat(const char* conv, double v) {
  char buf[512];
  std::snprintf(buf, sizeof buf, conv, v);
  return buf;
}

TEST(NumberText, KnownPrintfForms) {
  struct Case {
    double v;
    int precision;
    const char* g;
  } cases[] = {
      {400, 6, "400"},           {0.6875, 6, "0.6875"},   {1e6, 6, "1e+06"},        {123456, 6, "123456"},
      {1234567, 6, "1.23457e+06"}, {0.0001, 6, "0.0001"},   {0.00001, 6, "1e-05"},    {-0.0, 6, "-0"},
      {0.6889, 3, "0.689"},      {2.25, 3, "2.25"},        {0.6875, 5, "0.6875"},    {0.1, 17, "0.10000000000000001"},
      {1e100, 17, "1e+100"},     {1e-300, 6, "1e-300"},    {2000, 1, "2e+03"},       {5, 0, "5"},
  };
  for (const auto& c : cases) EXPECT_EQ(formatG(c.v, c.precision), c.g) << c.v << " %." << c.precision << "g";
  EXPECT_EQ(formatFixed(852.0352, 4), "852.0352");
  EXPECT_EQ(formatFixed(0.68755, 4), cFormat("%.4f", 0.68755)) << "rounding of the binary value, as printf";
  EXPECT_EQ(formatFixed(2.5, 0), "2");
  EXPECT_EQ(formatFixed(1e308, 2).size(), 312u);
  EXPECT_EQ(formatFixed(-1.0, 1), "-1.0");
}

// The helpers stand in for printf everywhere, so they must agree with it in the C locale for
// any value and precision, not only the ones above.
TEST(NumberText, AgreesWithPrintfInTheCLocale) {
  ASSERT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");
  std::mt19937_64 rng(7);
  std::uniform_int_distribution<int> exponent(-30, 30);
  std::uniform_real_distribution<double> mantissa(-10, 10);
  for (int i = 0; i < 3000; ++i) {
    double v = mantissa(rng) * std::pow(10.0, exponent(rng));
    if (i % 3 == 0) v = std::round(v * 1000) / 1000;  // short decimals and exact halves
    int p = i % 18;
    char g[16], f[16];
    std::snprintf(g, sizeof g, "%%.%dg", p);
    std::snprintf(f, sizeof f, "%%.%df", p);
    ASSERT_EQ(formatG(v, p), cFormat(g, v)) << v << " " << g;
    ASSERT_EQ(formatFixed(v, p), cFormat(f, v)) << v << " " << f;
  }
  for (double v : {std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
                   std::numeric_limits<double>::denorm_min(), std::numeric_limits<double>::max()}) {
    EXPECT_EQ(formatG(v), cFormat("%g", v));
    EXPECT_EQ(formatFixed(v, 3), cFormat("%.3f", v));
  }
}

TEST(NumberText, PrintfConversionsWithFlagsAndWidth) {
  for (const char* conv : {"%g", "%-.5g", "%8.2f", "%-8.2f", "%08.3f", "%+g", "% .1f", "%e", "%.3E", "%G", "%12g",
                           "%.0f", "%#g"}) {
    for (double v : {0.6875, -3.25, 1234567.0, 0.0, 1e-7}) {
      std::string out;
      ASSERT_TRUE(formatPrintfReal(conv, v, &out)) << conv;
      // '#' keeps trailing zeros in printf; the helper ignores it, which no pattern here uses.
      if (std::string(conv) != "%#g") {
        EXPECT_EQ(out, cFormat(conv, v)) << conv << " " << v;
      }
    }
  }
  std::string out;
  for (const char* bad : {"%d", "g", "%", "%5", "%.2gx", "%s"}) EXPECT_FALSE(formatPrintfReal(bad, 1, &out)) << bad;
}

TEST(NumberText, StrictReadingTakesOnlyAWholeDecimalNumber) {
  struct Case {
    const char* text;
    std::optional<double> value;
  } cases[] = {
      {"400", 400},   {"-0.5", -0.5}, {"+1", 1},      {".5", 0.5},        {"5.", 5},         {"1e3", 1000},
      {"1E-3", 0.001}, {"0.6875", 0.6875}, {"1e-999", 0.0},
      {"", {}},       {" 1", {}},     {"1 ", {}},     {"1,5", {}},        {"0x10", {}},      {"nan", {}},
      {"inf", {}},    {"-infinity", {}}, {"1e999", {}}, {"-1e999", {}},   {"1e", {}},        {"e5", {}},
      {"--1", {}},    {"1.2.3", {}},  {"abc", {}},    {".", {}},          {"+", {}},         {"1e+", {}},
  };
  for (const auto& c : cases) EXPECT_EQ(parseDecimal(c.text), c.value) << "'" << c.text << "'";
}

TEST(NumberText, LenientReadingTakesTheLeadingNumber) {
  struct Case {
    const char* text;
    double value;
  } cases[] = {
      {"  12abc", 12}, {"abc", 0},     {"1,5", 1},    {"nan", 0},      {"inf", 0},   {"-3.5e2x", -350},
      {"1e", 1},       {"\t0.6875", 0.6875}, {"", 0}, {"1e999", 0},    {"-", 0},     {"400 dpi", 400},
  };
  for (const auto& c : cases) EXPECT_EQ(parseLeadingDecimal(c.text), c.value) << "'" << c.text << "'";
  EXPECT_EQ(parseLeadingDecimal("x", -1), -1);
  auto n = parseLeadingNumber("  7.5 and more");
  ASSERT_TRUE(n);
  EXPECT_EQ(n->value, 7.5);
  EXPECT_EQ(n->length, 5u);
  EXPECT_TRUE(std::isinf(parseLeadingNumber("1e999")->value)) << "overflow is an infinity, as strtod gives it";
}

TEST(NumberText, IntegerAndSwitchTexts) {
  EXPECT_EQ(parseIntegerText("3"), 3);
  EXPECT_EQ(parseIntegerText("-2"), -2);
  EXPECT_EQ(parseIntegerText("2.5"), 2) << "cut toward zero, as a real number object is";
  EXPECT_EQ(parseIntegerText("1e30"), std::nullopt);
  EXPECT_EQ(parseIntegerText("three"), std::nullopt);
  for (const char* yes : {"YES", "yes", "true", "T", "1", "  +07", "9"}) EXPECT_TRUE(parseBoolText(yes)) << yes;
  for (const char* no : {"NO", "no", "false", "0", "", "000", " ", "x1"}) EXPECT_FALSE(parseBoolText(no)) << no;
}

TEST(NumberText, DecimalCommaIsRecognised) {
  for (const char* comma : {"1,5", "-0,6875", "20,0", "1,5e3"}) EXPECT_TRUE(looksLikeDecimalComma(comma)) << comma;
  for (const char* other : {"1.5", "1,5,6", ",5", "1,", "a,b", "1,x", "15", ""})
    EXPECT_FALSE(looksLikeDecimalComma(other)) << other;
}

// What a desktop program does at start (setlocale(LC_ALL, "")) must not change a single
// number text: written, read, and the plist codecs that carry them.
TEST(NumberTextCommaLocale, WritingAndReadingAreUnchanged) {
  VELMORA_WITH_COMMA_LOCALE(locale);
  EXPECT_EQ(formatG(0.6875), "0.6875");
  EXPECT_EQ(formatG(1234567.0), "1.23457e+06");
  EXPECT_EQ(formatFixed(852.0352, 4), "852.0352");
  std::string out;
  ASSERT_TRUE(formatPrintfReal("%-8.2f", 2.5, &out));
  EXPECT_EQ(out, "2.50    ");
  EXPECT_EQ(parseDecimal("0.6875"), 0.6875);
  EXPECT_EQ(parseDecimal("0,6875"), std::nullopt);
  EXPECT_EQ(parseLeadingDecimal("0.6875"), 0.6875);
  EXPECT_EQ(formatShortest(0.1), "0.1");

  Value v(Dict{{"real", Value(0.6875)}, {"big", Value(1.5e300)}, {"date", Value(Date{12.5})}});
  for (Format f : {Format::Xml, Format::Binary, Format::OpenStep}) {
    Data bytes = write(v, f);
    ReadResult r = read(std::span<const uint8_t>(bytes));
    ASSERT_TRUE(r) << r.error;
    if (f == Format::OpenStep) {
      // OpenStep text has no number type: the value comes back as its text.
      EXPECT_EQ(r.value->stringFor("real"), "0.6875");
    } else {
      EXPECT_EQ(r.value->numberFor("real"), 0.6875) << static_cast<int>(f);
      EXPECT_EQ(r.value->numberFor("big"), 1.5e300) << static_cast<int>(f);
    }
  }
  EXPECT_NE(v.describe().find("0.6875"), std::string::npos) << v.describe();
  EXPECT_NE(v.describe().find("@12.500"), std::string::npos) << v.describe();
}

}  // namespace
}  // namespace pl

namespace vl {
namespace {

TEST(NumberTextCommaLocale, ErrorNumbersAndRounding) {
  VELMORA_WITH_COMMA_LOCALE(locale);
  EXPECT_EQ(QS812round1(4, 0.687549), 0.6875);
  EXPECT_EQ(QS812round1(2, 1.005), 1.0) << "1.005 is a little below the half in binary, as printf rounds it";
  EXPECT_EQ(QS812round1(0, 7.5), 8);
  ErrorStack errors;
  QS810stackError(errors, nullptr, 8520352);
  ASSERT_FALSE(errorStackEntries(errors).empty());
  EXPECT_EQ(errorStackEntries(errors).front(), "852.0352");
}

}  // namespace
}  // namespace vl

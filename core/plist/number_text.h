// Number texts that do not depend on the process's locale: the printf-style forms the stored
// data, exchange files, notifications and command output use, and the two ways of reading them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace pl {

// "%.*g" as printf writes it in the C locale (trailing zeros dropped, "1e+06" exponents);
// "%g" is precision 6. A precision below 1 counts as 1, as printf does.
std::string formatG(double v, int precision = 6);
// "%.*f" as printf writes it in the C locale.
std::string formatFixed(double v, int precision);
// The shortest text that reads back as the same double ("nan", "inf", "-inf" for the specials).
std::string formatShortest(double v);

// One printf conversion for a double: "%[flags][width][.precision](g|G|f|F|e|E)", flags among
// "-+ 0#" ('#' is ignored). False when the conversion is not of that form.
[[nodiscard]] bool formatPrintfReal(std::string_view conversion, double v, std::string* out);

// Strict reading, for files, definitions, exchange values and command-line values: the whole
// text is one decimal number (optional sign, digits with an optional fraction, optional
// exponent); no white space, no hexadecimal, no "nan" or "inf". A value too large for a double
// is refused; one too small reads as 0.
std::optional<double> parseDecimal(std::string_view s);

// Lenient reading, for stored texts written by any program: leading white space is skipped and
// the longest decimal number at the start is read, the rest ignored (as the platform's
// doubleValue reads a string). Nothing readable, a special value or an overflow reads as
// `fallback`.
double parseLeadingDecimal(std::string_view s, double fallback = 0);

// The same prefix reading, telling how many bytes the number took (leading space included);
// nullopt when no number begins the text. Overflow yields an infinity, like strtod.
struct LeadingNumber {
  double value;
  size_t length;
};
std::optional<LeadingNumber> parseLeadingNumber(std::string_view s);

// An integer kept as text ("3", "-2", "2.5" reads as 2): the strict reading cut toward zero, as
// a real number object becomes an integer; nullopt when it is no number or beyond 64 bits.
std::optional<int64_t> parseIntegerText(std::string_view s);

// A switch kept as text, read as the platform's boolValue reads a string: after white space and
// a sign and leading zeros, true when it begins with Y, y, T, t or a digit 1 to 9.
bool parseBoolText(std::string_view s);

// True for a text such as "1,5" or "-0,6875": a number written with a decimal comma.
bool looksLikeDecimalComma(std::string_view s);

}  // namespace pl

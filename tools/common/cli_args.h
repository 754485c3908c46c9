// Argument and output helpers shared by the command-line programs.
#pragma once

#include <string>
#include <vector>

#include "platform/api/status.h"

namespace vl::cli {

using Args = std::vector<std::string>;

bool isHelp(const std::string& a);
// Takes "--name VALUE" or "--name=VALUE" out of args; false when absent. A flag without a
// value is an error, reported through *error (and the flag is taken out).
bool takeOption(Args& args, const std::string& name, std::string* value, std::string* error);
bool takeFlag(Args& args, const std::string& name);
// Decimal or 0x-hex into an unsigned 64-bit number; false on anything else.
[[nodiscard]] bool parseUnsigned(const std::string& text, unsigned long long* out);
// A whole decimal number with a dot as separator, finite; false on anything else (hex, "nan",
// "inf", "1,5", overflow), so no such value can reach the store or a device.
[[nodiscard]] bool parseDouble(const std::string& text, double* out);
// Why a text that parseDouble refused is not a number: a decimal comma gets "use a dot as the
// decimal separator".
std::string notANumber(const std::string& text);
// A number option within [minimum, maximum]. A failure (a usage error, code 2) names the
// option and either the valid range or the separator to use.
Result<double> parseNumberIn(const std::string& option, const std::string& text, double minimum, double maximum);
// A string as a JSON string literal.
std::string jsonString(const std::string& s);

}  // namespace vl::cli

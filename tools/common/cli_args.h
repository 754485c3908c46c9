// Argument and output helpers shared by the command-line programs.
#pragma once

#include <string>
#include <vector>

namespace vl::cli {

using Args = std::vector<std::string>;

bool isHelp(const std::string& a);
// Takes "--name VALUE" or "--name=VALUE" out of args; false when absent. A flag without a
// value is an error, reported through *error (and the flag is taken out).
bool takeOption(Args& args, const std::string& name, std::string* value, std::string* error);
bool takeFlag(Args& args, const std::string& name);
// Decimal or 0x-hex into an unsigned 64-bit number; false on anything else.
bool parseUnsigned(const std::string& text, unsigned long long* out);
bool parseDouble(const std::string& text, double* out);
// A string as a JSON string literal.
std::string jsonString(const std::string& s);

}  // namespace vl::cli

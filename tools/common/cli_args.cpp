// Argument and output helpers shared by the command-line programs.
#include "tools/common/cli_args.h"

#include "core/plist/number_text.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace vl::cli {

bool isHelp(const std::string& a) { return a == "--help" || a == "-h" || a == "help"; }

bool takeOption(Args& args, const std::string& name, std::string* value, std::string* error) {
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == name) {
      if (i + 1 >= args.size()) {
        *error = "option " + name + " needs a value";
        args.erase(args.begin() + static_cast<long>(i));
        return false;
      }
      *value = args[i + 1];
      args.erase(args.begin() + static_cast<long>(i), args.begin() + static_cast<long>(i) + 2);
      return true;
    }
    if (args[i].rfind(name + "=", 0) == 0) {
      *value = args[i].substr(name.size() + 1);
      args.erase(args.begin() + static_cast<long>(i));
      return true;
    }
  }
  return false;
}

bool takeFlag(Args& args, const std::string& name) {
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == name) {
      args.erase(args.begin() + static_cast<long>(i));
      return true;
    }
  }
  return false;
}

bool parseUnsigned(const std::string& text, unsigned long long* out) {
  if (text.empty() || text[0] == '-' || text[0] == '+' || std::isspace(static_cast<unsigned char>(text[0])))
    return false;
  int base = 10;
  const char* p = text.c_str();
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    p += 2;
  }
  char* end = nullptr;
  errno = 0;
  unsigned long long v = std::strtoull(p, &end, base);
  if (errno != 0 || end == p || *end != '\0') return false;
  *out = v;
  return true;
}

bool parseDouble(const std::string& text, double* out) {
  auto v = pl::parseDecimal(text);
  if (!v) return false;
  *out = *v;
  return true;
}

std::string notANumber(const std::string& text) {
  if (pl::looksLikeDecimalComma(text)) return "'" + text + "': use a dot as the decimal separator";
  return "'" + text + "' is not a number";
}

Result<double> parseNumberIn(const std::string& option, const std::string& text, double minimum, double maximum) {
  double v = 0;
  const std::string range = pl::formatG(minimum) + " to " + pl::formatG(maximum);
  if (!parseDouble(text, &v)) return Status::failure(2, option + " " + notANumber(text) + " (a number from " + range + ")");
  if (!(v >= minimum && v <= maximum))
    return Status::failure(2, option + " must be a number from " + range + ", not " + text);
  return v;
}

std::string jsonString(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

}  // namespace vl::cli

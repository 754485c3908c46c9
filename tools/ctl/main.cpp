// velmora-ctl: the command-line tool for support, scripting and tests.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sstream>

#include "tools/ctl/command.h"

namespace vl::ctl {

namespace {
std::vector<CommandGroup>& registry() {
  static std::vector<CommandGroup> g;
  return g;
}

void printToolHelp(std::ostream& out) {
  out << "usage: velmora-ctl COMMAND [ARGS...]\n\n"
         "Velmora's command-line tool: inspects and drives the per-device cursor speed system.\n\n"
         "Commands:\n";
  auto gs = groups();
  for (const auto& g : gs) {
    out << "  " << g.name;
    for (size_t i = g.name.size(); i < 12; ++i) out << ' ';
    out << "  " << g.summary << "\n";
  }
  out << "\nRun 'velmora-ctl COMMAND --help' for a command's options.\n";
}
}  // namespace

bool registerGroup(CommandGroup group) {
  registry().push_back(std::move(group));
  return true;
}

const std::vector<CommandGroup>& groups() {
  auto& g = registry();
  std::sort(g.begin(), g.end(), [](const CommandGroup& a, const CommandGroup& b) { return a.name < b.name; });
  return g;
}

bool isHelp(const std::string& a) { return a == "--help" || a == "-h" || a == "help"; }

bool parseUnsigned(const std::string& text, unsigned long long* out) {
  if (text.empty() || text[0] == '-' || text[0] == '+' || isspace(static_cast<unsigned char>(text[0])))
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
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  double v = std::strtod(text.c_str(), &end);
  if (errno != 0 || end == text.c_str() || *end != '\0') return false;
  *out = v;
  return true;
}

int usageError(const std::string& group, const std::string& msg) {
  std::cerr << "velmora-ctl: " << msg << "\n"
            << "Try 'velmora-ctl " << (group.empty() ? "" : group + " ") << "--help'.\n";
  return kExitUsage;
}

int failure(const std::string& msg) {
  std::cerr << "velmora-ctl: " << msg << "\n";
  return kExitFailure;
}

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

}  // namespace vl::ctl

int main(int argc, char** argv) {
  using namespace vl::ctl;
  Args args(argv + 1, argv + argc);
  if (args.empty()) {
    printToolHelp(std::cerr);
    return kExitUsage;
  }
  if (isHelp(args[0])) {
    printToolHelp(std::cout);
    return kExitOk;
  }
  if (args[0] == "--version") {
    std::cout << "velmora-ctl " << VELMORA_VERSION_TEXT << "\n";
    return kExitOk;
  }
  for (const auto& g : groups()) {
    if (g.name == args[0]) {
      Args rest(args.begin() + 1, args.end());
      if (!rest.empty() && isHelp(rest[0]) && rest.size() == 1) {
        std::cout << g.help;
        return kExitOk;
      }
      return g.run(rest);
    }
  }
  return usageError("", "unknown command '" + args[0] + "'");
}

// velmora-ctl: the command-line tool for support, scripting and tests.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sstream>

#include "core/system/drovana.h"
#include "pane/curves/default_curves.h"
#include "tools/common/suggest.h"
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




int usageError(const std::string& group, const std::string& msg) {
  std::cerr << "velmora-ctl: " << msg << "\n"
            << "Try 'velmora-ctl " << (group.empty() ? "" : group + " ") << "--help'.\n";
  return kExitUsage;
}

int failure(const std::string& msg) {
  std::cerr << "velmora-ctl: " << msg << "\n";
  return kExitFailure;
}

RecordSettings recordSettings() {
  RecordSettings r;
  r.bundle = {velmora::kPaneBundleID, "velmora-ctl", VELMORA_VERSION_TEXT, VELMORA_SOURCE_RESOURCES};
  if (const pl::Data* table = defaultAcclTable()) r.defaultAcclTable = pl::Value(*table);
  if (const pl::Value* curves = defaultAcclCurves()) r.defaultAcclCurves = *curves;
  return r;
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
  // The American spelling names the same command, as --favorite does.
  if (args[0] == "favorite") args[0] = "favourite";
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
  std::vector<std::string> names;
  for (const auto& g : groups()) names.push_back(g.name);
  return usageError("", "unknown command '" + args[0] + "'" + vl::cli::didYouMean(args[0], names));
}

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
void printToolHelp(std::ostream& out) {
  out << "usage: velmora-ctl COMMAND [ARGS...]\n\n"
         "Velmora's command-line tool: inspects and drives the per-device cursor speed system.\n\n"
         "Commands:\n";
  for (const auto& g : groups()) {
    out << "  " << g.name;
    for (size_t i = g.name.size(); i < 12; ++i) out << ' ';
    out << "  " << g.summary << "\n";
  }
  out << "\nRun 'velmora-ctl COMMAND --help' for a command's options.\n";
}
}  // namespace

const std::vector<CommandGroup>& groups() {
  // In the order of their names, as --help lists them.
  static const std::vector<CommandGroup> table = {
      agentCommand(),      curveCommand(),    definitionsCommand(), demoCommand(),
      devicesCommand(),    exchangeCommand(), favouriteCommand(),   plistCommand(),
      privilegedCommand(), quarantineCommand(), recommendedCommand(), snappingCommand(), storeCommand(),
      uninstallCommand(),  versionCommand(),
  };
  return table;
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
  if (auto status = vl::cli::answerToolWords(args, "velmora-ctl", printToolHelp)) return *status;
  // The American spelling names the same command, as --favorite does.
  if (args[0] == "favorite") args[0] = "favourite";
  if (const CommandGroup* g = vl::cli::findCommand(groups(), args[0])) {
    Args rest(args.begin() + 1, args.end());
    if (!rest.empty() && isHelp(rest[0]) && rest.size() == 1) {
      std::cout << g->help;
      return kExitOk;
    }
    return g->run(rest);
  }
  return usageError("", "unknown command '" + args[0] + "'" + vl::cli::didYouMean(args[0], vl::cli::commandNames(groups())));
}

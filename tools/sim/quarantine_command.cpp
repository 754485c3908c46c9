// velmora-sim quarantine: the world's quarantine set, changed and listed.
#include "tools/sim/quarantine_command.h"

#include <iostream>

#include "platform/sim/world.h"
#include "platform/sim/world_file_attributes.h"
#include "tools/common/cli_args.h"
#include "tools/sim/json.h"

namespace vl::simtool {

const char* kQuarantineHelp =
    "usage: velmora-sim quarantine PATH\n"
    "       velmora-sim quarantine --clear PATH\n"
    "       velmora-sim quarantine --list [--json]\n\n"
    "Gives PATH (a file or folder, e.g. an installed Velmora.prefPane) the quarantine attribute\n"
    "a download carries, takes it away again (--clear, with everything below PATH), or lists the\n"
    "quarantined paths.\n";

int runQuarantine(std::vector<std::string>& args, const std::string& folder) {
  auto usage = [](const std::string& msg) {
    std::cerr << "velmora-sim: " << msg << "\nTry 'velmora-sim quarantine --help'.\n";
    return 2;
  };
  if (!sim::World::exists(folder)) {
    std::cerr << "velmora-sim: no simulated Mac at " << folder << "\nCreate one with 'velmora-sim init'.\n";
    return 1;
  }
  sim::WorldFileAttributes attributes(folder);
  bool list = cli::takeFlag(args, "--list");
  bool json = cli::takeFlag(args, "--json");
  bool clear = cli::takeFlag(args, "--clear");
  if (list) {
    if (!args.empty() || clear) return usage("--list takes no path");
    auto paths = attributes.quarantined();
    if (json) {
      pl::Array a;
      for (const auto& p : paths) a.emplace_back(p);
      std::cout << toJson(pl::Value(std::move(a))) << "\n";
    } else {
      for (const auto& p : paths) std::cout << p << "\n";
    }
    return 0;
  }
  if (json) return usage("--json goes with --list");
  if (args.size() != 1) return usage(args.empty() ? "quarantine takes a PATH" : "unexpected argument '" + args[1] + "'");
  Status done = clear ? attributes.removeQuarantine(args[0], true) : attributes.setQuarantine(args[0]);
  if (!done) {
    std::cerr << "velmora-sim: " << done.detail() << "\n";
    return 1;
  }
  return 0;
}

}  // namespace vl::simtool

// velmora-ctl quarantine show|clear: a file's download quarantine, on the simulated Mac or as
// the file's own extended attributes. "clear --xattr" is also what the settings pane runs with
// administrator rights for a pane installed for all users: one path argument, no shell.
#include <iostream>

#include "platform/linux/xattr_file_attributes.h"
#include "platform/sim/world.h"
#include "platform/sim/world_file_attributes.h"
#include "tools/common/suggest.h"
#include "tools/ctl/command.h"

namespace vl::ctl {

namespace {

const char* kHelp =
    "usage: velmora-ctl quarantine show [--json] [--world DIR | --xattr] PATH\n"
    "       velmora-ctl quarantine clear [--world DIR | --xattr] [--] PATH\n\n"
    "  show    whether PATH carries download quarantine\n"
    "  clear   removes it from PATH and everything below it (links are not followed)\n\n"
    "Options:\n"
    "  --world DIR   the simulated Mac's quarantine (default: $VELMORA_WORLD, else\n"
    "                $XDG_DATA_HOME/velmora/world)\n"
    "  --xattr       the file's own extended attributes user.xdg.origin.url and\n"
    "                user.xdg.referrer.url, which browsers set on downloads\n"
    "  --json        show's answer as a JSON object\n\n"
    "Exit status: 0 on success, 1 when the quarantine could not be read or removed, 2 for\n"
    "usage errors.\n";

int run(const Args& in) {
  Args args = in;
  for (const auto& a : args)
    if (isHelp(a)) {
      std::cout << kHelp;
      return kExitOk;
    }
  const std::vector<std::string> subs = {"show", "clear"};
  if (args.empty()) return usageError("quarantine", "quarantine needs show or clear");
  std::string sub = args[0];
  args.erase(args.begin());
  if (sub != "show" && sub != "clear") return usageError("quarantine", "unknown subcommand '" + sub + "'" + cli::didYouMean(sub, subs));
  std::string error, worldOption;
  bool haveWorld = takeOption(args, "--world", &worldOption, &error);
  if (!error.empty()) return usageError("quarantine", error);
  bool xattr = takeFlag(args, "--xattr");
  bool json = takeFlag(args, "--json");
  // "--" ends the options: a path may begin with a dash.
  std::vector<std::string> paths;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--") {
      paths.insert(paths.end(), args.begin() + static_cast<long>(i) + 1, args.end());
      break;
    }
    if (args[i].size() > 1 && args[i][0] == '-') {
      std::vector<std::string> known = {"--world", "--xattr", "--json", "--help"};
      return usageError("quarantine", "unknown option '" + args[i] + "'" + cli::didYouMean(args[i], known));
    }
    paths.push_back(args[i]);
  }
  if (paths.size() != 1) return usageError("quarantine", "quarantine " + sub + " takes one PATH");
  if (haveWorld && xattr) return usageError("quarantine", "--world and --xattr name two places; give one");
  if (json && sub != "show") return usageError("quarantine", "quarantine clear does not use --json (show does)");

  linux_::XattrFileAttributes own;
  std::unique_ptr<sim::WorldFileAttributes> world;
  FileAttributes* attributes = &own;
  if (!xattr) {
    std::string folder = sim::worldFolderFor(worldOption);
    if (!sim::World::exists(folder)) return failure("no simulated Mac at " + folder + "\nCreate one with 'velmora-sim init', or use --xattr.");
    world = std::make_unique<sim::WorldFileAttributes>(folder);
    attributes = world.get();
  }
  const std::string& path = paths[0];
  if (sub == "show") {
    bool q = attributes->hasQuarantine(path);
    if (json)
      std::cout << "{\"path\":" << jsonString(path) << ",\"quarantined\":" << (q ? "true" : "false") << "}\n";
    else
      std::cout << path << ": " << (q ? "quarantined" : "not quarantined") << "\n";
    return kExitOk;
  }
  if (Status s = attributes->removeQuarantine(path, true); !s) return failure(s.detail());
  return kExitOk;
}

}  // namespace

CommandGroup quarantineCommand() {
  return {"quarantine", "show or clear a file's download quarantine", kHelp, run};
}

}  // namespace vl::ctl

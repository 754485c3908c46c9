// velmora-ctl version: packed bundle versions to text and back.
#include <cstdio>
#include <iostream>

#include "core/system/versions.h"
#include "tools/common/suggest.h"
#include "tools/ctl/command.h"

namespace vl::ctl {
namespace {

const char* kHelp =
    "usage: velmora-ctl version parse TEXT\n"
    "       velmora-ctl version format NUMBER\n\n"
    "parse   prints the packed 32-bit version of TEXT (e.g. 2.2b3) as 0x and 8 hex digits;\n"
    "        exit 1 when TEXT is not a version.\n"
    "format  prints the version text of a packed NUMBER (decimal or 0x hex).\n";

int run(const Args& args) {
  if (args.empty()) return usageError("version", "missing subcommand (parse or format)");
  if (args.size() != 2) {
    if (args.size() == 1 && (args[0] == "parse" || args[0] == "format"))
      return usageError("version", args[0] + " needs one argument");
    if (args.size() >= 2 && isHelp(args[1])) {
      std::cout << kHelp;
      return kExitOk;
    }
    return usageError("version", "unexpected arguments");
  }
  if (isHelp(args[1])) {
    std::cout << kHelp;
    return kExitOk;
  }
  if (args[0] == "parse") {
    uint32_t v = QS812versionNumberFromString(args[1]);
    if (v == 0) return failure("'" + args[1] + "' is not a version (expected e.g. 2.2.3, 2.2b3, 12.1)");
    std::printf("0x%08X\n", v);
    return kExitOk;
  }
  if (args[0] == "format") {
    unsigned long long n = 0;
    if (!parseUnsigned(args[1], &n) || n > 0xFFFFFFFFull)
      return usageError("version", "'" + args[1] + "' is not a 32-bit number");
    std::cout << QS812stringFromVersionNumver(static_cast<uint32_t>(n)) << "\n";
    return kExitOk;
  }
  return usageError("version", "unknown subcommand '" + args[0] + "'" + cli::didYouMean(args[0], {"parse", "format"}));
}

}  // namespace

CommandGroup versionCommand() {
  return {"version", "parse and format packed bundle versions", kHelp, run};
}

}  // namespace vl::ctl

// velmora-ctl's command registry: each command group lives in its own file and registers
// itself here, so adding a group touches no other file.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "core/store/object_context.h"
#include "tools/common/cli_args.h"

namespace vl::ctl {

// Exit statuses of the tool.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

using cli::Args;

struct CommandGroup {
  std::string name;     // "version", "plist", "curve", ...
  std::string summary;  // one line for the tool's --help
  std::string help;     // full help text of the group, printed for "--help"
  // Runs the group with the arguments after its name; prints its own errors.
  std::function<int(const Args&)> run;
};

// Registers a group at static-initialisation time; returns true so it can initialise a bool.
bool registerGroup(CommandGroup group);
const std::vector<CommandGroup>& groups();

// Small parsing helpers shared by the groups.
using cli::isHelp;
// Parses decimal or 0x-hex into an unsigned 64-bit number; false on anything else.
using cli::parseUnsigned;
using cli::parseDouble;
using cli::notANumber;
using cli::parseNumberIn;
// Prints "velmora-ctl: <msg>" and the hint to stderr; returns kExitUsage.
int usageError(const std::string& group, const std::string& msg);
// Prints "velmora-ctl: <msg>" to stderr; returns kExitFailure.
int failure(const std::string& msg);

// Takes "--name VALUE" out of args; returns false when absent. A flag without a value is a
// usage error, reported through *error.
using cli::takeOption;
using cli::takeFlag;

// What the tool gives the records of every store it opens: the settings pane's bundle (the
// tool edits on its behalf, so range errors name the pane's domain) and the default graph data.
RecordSettings recordSettings();

// Escapes a string for JSON output.
using cli::jsonString;

}  // namespace vl::ctl

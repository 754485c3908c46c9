// velmora-ctl's commands: each command group lives in its own file and offers a function that
// makes its table entry; main.cpp lists them in the tool's command table.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "core/store/object_context.h"
#include "tools/common/cli_args.h"
#include "tools/common/command_table.h"

namespace vl::ctl {

// Exit statuses of the tool.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

using cli::Args;

// A group's name ("version", "plist", "curve", ...), summary, help, and what runs it with the
// arguments after its name (it prints its own errors).
using CommandGroup = cli::Command<int(const Args&)>;

// The groups' entries, one function per file.
CommandGroup agentCommand();
CommandGroup curveCommand();
CommandGroup definitionsCommand();
CommandGroup demoCommand();
CommandGroup devicesCommand();
CommandGroup exchangeCommand();
CommandGroup favouriteCommand();
CommandGroup plistCommand();
CommandGroup privilegedCommand();
CommandGroup quarantineCommand();
CommandGroup recommendedCommand();
CommandGroup snappingCommand();
CommandGroup storeCommand();
CommandGroup uninstallCommand();
CommandGroup versionCommand();

// The tool's command table, in the order --help lists it.
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

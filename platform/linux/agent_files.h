// The files a launch agent becomes on Linux: a systemd user unit and an XDG autostart entry,
// made from the launch-agent property list's keys, with each format's own quoting; and the
// small process and file helpers the Linux service manager needs.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/api/alerts.h"
#include "platform/api/file_error.h"

namespace vl::linux_ {

// The agent's fatal exit status and the statuses of an agent that cannot start at all (another
// one runs, no simulated Mac, a wrong option): restarting would only repeat them.
inline constexpr const char* kNoRestartStatuses = "1 2 70";

// What the property list says.
struct AgentDefinition {
  std::string label;
  std::vector<std::string> programArguments;
  bool runAtLoad = false;
  std::string propertyListPath;
};

// Reads Label, ProgramArguments and RunAtLoad; a failure when the list lacks a label or a
// program, or the program is no absolute path.
Result<AgentDefinition> readAgentDefinition(const std::string& propertyListPath);

// The unit name of a label: characters outside [A-Za-z0-9:_.-] as \xNN (systemd's escaping),
// plus ".service".
std::string unitNameForLabel(const std::string& label);

// One argument in a unit file's command line: double-quoted with C escapes, "%" as "%%" and "$"
// as "$$", so that systemd hands the program exactly these bytes. nullopt for text that is
// not UTF-8 or holds a NUL.
std::optional<std::string> systemdQuote(const std::string& argument);
// The unit text; a failure when an argument cannot be written.
Result<std::string> unitText(const AgentDefinition& agent);

// One argument of a desktop entry's Exec key (quoted when needed; inside quotes '"', '`', '$'
// and '\' escaped; "%" as "%%"), before the key file's own escaping.
std::string desktopExecQuote(const std::string& argument);
// A key file's string escaping: "\\", "\n", "\t", "\r", "\s" for a leading space.
std::string keyFileEscape(const std::string& value);
std::string keyFileUnescape(const std::string& value);
// The autostart entry's text.
Result<std::string> autostartEntryText(const AgentDefinition& agent);
// The Name of a desktop entry file; empty when it has none.
std::string desktopEntryName(const std::string& path);

// Atomic write (temporary file beside, renamed over); a file-write failure (fileWriteError
// makes {"NSCocoaErrorDomain", 513} of a refused permission).
Status writeFileAtomically(const std::string& path, const std::string& bytes);

// Starts argv detached (own session, stdin /dev/null, output appended to logPath).
Result<pid_t> spawnDetached(const std::vector<std::string>& argv, const std::string& logPath);
// Runs argv and waits for it: its exit status, 128 + signal (-1 when it ended otherwise), or a
// failure when it could not run. What it writes goes to *output (the first 64 KiB).
Result<int> runAndWait(const std::vector<std::string>& argv, std::string* output);
// The start of pid in clock ticks since boot; nullopt when it does not run.
std::optional<uint64_t> processStartTicks(pid_t pid);

}  // namespace vl::linux_

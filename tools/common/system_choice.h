// Which system a program runs on: the simulated Mac of a world folder (--world DIR or
// $VELMORA_WORLD) or the real machine (the default on Linux); --system desktop|world forces one.
#pragma once

#include <string>

#include "platform/api/status.h"

namespace vl::cli {

enum class System { Desktop, World };

struct SystemChoice {
  System system = System::Desktop;
  std::string why;  // "--system world", "VELMORA_WORLD", "--world", "no --world or VELMORA_WORLD"
};

// systemOption: the value of --system ("" when not given); worldGiven: --world was given;
// worldEnvironment: $VELMORA_WORLD (null or empty when not set). A wrong --system value, or
// --world with --system desktop, is refused with the text to show (exit status 2).
Result<SystemChoice> chooseSystem(const std::string& systemOption, bool worldGiven, const char* worldEnvironment);

// "desktop" or "world".
const char* systemName(System s);
// A line for logs and --version: "system: desktop (no --world or VELMORA_WORLD)".
std::string systemLine(const SystemChoice& c);

}  // namespace vl::cli

// Where velmora-ctl finds the settings store when no --store is given: the user's
// "Device.dvsetting" in the folder "Drovana & Velmora" of the data home, as the agent opens it.
#pragma once

#include <optional>
#include <string>

#include "platform/api/status.h"

namespace vl::ctl {

// The user's store file (its folder is made when missing, as the agent and the pane do);
// a failure when the location cannot be worked out.
Result<std::string> userStorePath();

// --store PATH when given, else the user's store.
Result<std::string> storePathOrDefault(const std::string& option);

}  // namespace vl::ctl

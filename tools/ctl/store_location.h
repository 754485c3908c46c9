// Where velmora-ctl finds the settings store when no --store is given: the user's
// "Device.dvsetting" in the folder "Drovana & Velmora" of the data home, as the agent opens it.
#pragma once

#include <optional>
#include <string>

namespace vl::ctl {

// The user's store file (its folder is made when missing, as the agent and the pane do);
// nullopt with *error when the location cannot be worked out.
std::optional<std::string> userStorePath(std::string* error);

// --store PATH when given, else the user's store.
std::optional<std::string> storePathOrDefault(const std::string& option, std::string* error);

}  // namespace vl::ctl

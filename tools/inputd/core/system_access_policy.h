// SystemAccessPolicy: who may filter a device — udev says it is a pointing device and on which
// seat, logind says the caller's session is the active one on that seat, polkit says the
// caller may (action org.velmora.inputd.filter).
#pragma once

#include "tools/inputd/core/input_ports.h"

struct sd_bus;

namespace vl::inputd {

inline constexpr const char* kPolkitAction = "org.velmora.inputd.filter";

class SystemAccessPolicy final : public AccessPolicy {
 public:
  // systemBus: the service's own connection (polkit is asked over it).
  explicit SystemAccessPolicy(sd_bus* systemBus) : bus_(systemBus) {}
  Status mayFilter(const Caller& caller, const std::string& devNode) override;

 private:
  sd_bus* bus_;
};

}  // namespace vl::inputd

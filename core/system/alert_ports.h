// The ports an alert or a fatal end reaches: the texts (resources in the user's languages), the
// alert itself and the end of the process. Held by classes that report failures, so that they
// need not keep the program's whole set of ports for that one path.
#pragma once

#include "platform/api/platform.h"

namespace vl {

struct AlertPorts {
  Alerts* alerts = nullptr;
  Lifecycle* lifecycle = nullptr;
  Paths* paths = nullptr;
  SystemInfo* system = nullptr;

  static AlertPorts from(const Platform& p) { return AlertPorts{p.alerts, p.lifecycle, p.paths, p.system}; }
  // A set holding only these four, for the alert functions (alerts.h), which take a set.
  Platform platform() const {
    Platform p;
    p.alerts = alerts;
    p.lifecycle = lifecycle;
    p.paths = paths;
    p.system = system;
    return p;
  }
};

}  // namespace vl

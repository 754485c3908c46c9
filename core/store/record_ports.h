// RecordPorts: the ports the record classes reach the system through, handed in by the program
// that opens the store. Records see these and nothing else of the platform.
#pragma once

#include "core/system/strings.h"
#include "platform/api/platform.h"

namespace vl {

// Every port may be missing: a record then reads what the port would have told it as absent
// (no registry name, system acceleration 0, a path kept whole, a text as its key).
struct RecordPorts {
  IoRegistry* registry = nullptr;         // a device's product name, location, driver and resolution
  HidEventSystem* eventSystem = nullptr;  // the system acceleration a favourite is compared with
  Workspace* workspace = nullptr;         // applications: matching keys, names, icons, the home folder
  SystemInfo* system = nullptr;           // the machine's model, the user's languages
  UserDefaults* defaults = nullptr;       // the model's marketing name the system profiler keeps
  Paths* paths = nullptr;                 // the resources folder with the strings tables

  TextSource texts() const { return TextSource{paths, system}; }
};

// The record ports out of a program's whole set.
inline RecordPorts recordPortsOf(const Platform& p) {
  RecordPorts r;
  r.registry = p.registry;
  r.eventSystem = p.eventSystem;
  r.workspace = p.workspace;
  r.system = p.system;
  r.defaults = p.defaults;
  r.paths = p.paths;
  return r;
}

}  // namespace vl

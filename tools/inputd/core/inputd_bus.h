// InputdBus: velmora-inputd's object on the bus (org.velmora.Inputd1): Filter, Release and
// Speed for the calling client, and the release of a client's devices when it leaves the bus.
#pragma once

#include <string>

#include "tools/inputd/core/inputd_service.h"

struct sd_bus;
struct sd_bus_slot;

namespace vl::inputd {

inline constexpr const char* kInputdBusName = "org.velmora.Inputd1";
inline constexpr const char* kInputdObject = "/org/velmora/Inputd1";
inline constexpr const char* kInputdInterface = "org.velmora.Inputd1";

class InputdBus {
 public:
  // Registers the object on bus (the caller requests the name).
  InputdBus(sd_bus* bus, InputdService& service);
  ~InputdBus();
  InputdBus(const InputdBus&) = delete;
  InputdBus& operator=(const InputdBus&) = delete;
  bool ok() const { return object_ != nullptr; }

 private:
  sd_bus* bus_;
  sd_bus_slot* object_ = nullptr;
  sd_bus_slot* owners_ = nullptr;
};

// The D-Bus error name of a service error code.
const char* inputdErrorName(int64_t code);

}  // namespace vl::inputd

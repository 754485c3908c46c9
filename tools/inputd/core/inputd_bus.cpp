// The service's D-Bus methods and the watch on its clients' bus names.
#include "tools/inputd/core/inputd_bus.h"

#include <systemd/sd-bus.h>

#include <cstring>

namespace vl::inputd {

namespace {

Result<Caller> callerOf(sd_bus_message* m) {
  Caller c;
  const char* sender = sd_bus_message_get_sender(m);
  if (!sender) return Status::failure(inputd_error::kNotAllowed, "no sender");
  c.busName = sender;
  sd_bus_creds* creds = nullptr;
  if (sd_bus_query_sender_creds(m, SD_BUS_CREDS_EUID | SD_BUS_CREDS_PID, &creds) < 0 ||
      sd_bus_creds_get_euid(creds, &c.uid) < 0 || sd_bus_creds_get_pid(creds, &c.pid) < 0) {
    sd_bus_creds_unref(creds);
    return Status::failure(inputd_error::kNotAllowed, "the caller's credentials are unknown");
  }
  sd_bus_creds_unref(creds);
  return c;
}

int replyStatus(sd_bus_message* m, const Status& s, sd_bus_error* error) {
  if (s.ok()) return sd_bus_reply_method_return(m, "");
  return sd_bus_error_set(error, inputdErrorName(s.code()), s.detail().c_str());
}

int methodFilter(sd_bus_message* m, void* userdata, sd_bus_error* error) {
  auto& service = *static_cast<InputdService*>(userdata);
  const char* node = nullptr;
  double resolution = 0, acceleration = 0;
  int rc = sd_bus_message_read(m, "sdd", &node, &resolution, &acceleration);
  if (rc < 0) return rc;
  auto caller = callerOf(m);
  if (!caller) return replyStatus(m, caller.status(), error);
  return replyStatus(m, service.filter(*caller, node, resolution, acceleration), error);
}

int methodRelease(sd_bus_message* m, void* userdata, sd_bus_error* error) {
  auto& service = *static_cast<InputdService*>(userdata);
  const char* node = nullptr;
  int rc = sd_bus_message_read(m, "s", &node);
  if (rc < 0) return rc;
  auto caller = callerOf(m);
  if (!caller) return replyStatus(m, caller.status(), error);
  return replyStatus(m, service.release(*caller, node), error);
}

int methodSpeed(sd_bus_message* m, void* userdata, sd_bus_error* error) {
  auto& service = *static_cast<InputdService*>(userdata);
  const char* node = nullptr;
  int rc = sd_bus_message_read(m, "s", &node);
  if (rc < 0) return rc;
  auto speed = service.speed(node);
  if (!speed)
    return sd_bus_error_set(error, inputdErrorName(inputd_error::kNotFiltered), (std::string(node) + " is not filtered").c_str());
  return sd_bus_reply_method_return(m, "dd", speed->first, speed->second);
}

const sd_bus_vtable kVtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("Filter", "sdd", "", methodFilter, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("Release", "s", "", methodRelease, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("Speed", "s", "dd", methodSpeed, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_VTABLE_END,
};

int ownerChanged(sd_bus_message* m, void* userdata, sd_bus_error*) {
  const char *name = nullptr, *oldOwner = nullptr, *newOwner = nullptr;
  if (sd_bus_message_read(m, "sss", &name, &oldOwner, &newOwner) < 0) return 0;
  // A unique name that leaves: that client is gone (quit, crash, or its bus closed).
  if (name && name[0] == ':' && newOwner && !newOwner[0]) static_cast<InputdService*>(userdata)->callerGone(name);
  return 0;
}

}  // namespace

const char* inputdErrorName(int64_t code) {
  switch (code) {
    case inputd_error::kNotAllowed: return "org.velmora.Inputd1.Error.NotAllowed";
    case inputd_error::kNotOwner: return "org.velmora.Inputd1.Error.NotOwner";
    case inputd_error::kNotAPointer: return "org.velmora.Inputd1.Error.NotAPointer";
    case inputd_error::kBadNode: return "org.velmora.Inputd1.Error.BadNode";
    case inputd_error::kBusy: return "org.velmora.Inputd1.Error.Busy";
    case inputd_error::kNotFiltered: return "org.velmora.Inputd1.Error.NotFiltered";
    case inputd_error::kBadSpeed: return "org.velmora.Inputd1.Error.BadSpeed";
    default: return "org.velmora.Inputd1.Error.DeviceFailed";
  }
}

InputdBus::InputdBus(sd_bus* bus, InputdService& service) : bus_(bus) {
  if (sd_bus_add_object_vtable(bus_, &object_, kInputdObject, kInputdInterface, kVtable, &service) < 0) object_ = nullptr;
  if (sd_bus_match_signal(bus_, &owners_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                          "NameOwnerChanged", ownerChanged, &service) < 0) {
    // Without the watch a crashed client's grab would outlive it: refuse to run that way.
    sd_bus_slot_unref(object_);
    object_ = nullptr;
  }
}

InputdBus::~InputdBus() {
  sd_bus_slot_unref(owners_);
  sd_bus_slot_unref(object_);
}

}  // namespace vl::inputd

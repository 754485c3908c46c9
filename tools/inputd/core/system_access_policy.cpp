// udev, logind and polkit answers for one filter request.
#include "tools/inputd/core/system_access_policy.h"

#include <systemd/sd-bus.h>
#include <systemd/sd-device.h>
#include <systemd/sd-login.h>

#include <cstdlib>
#include <cstring>

namespace vl::inputd {

namespace {
bool propertyIsOne(sd_device* d, const char* key) {
  const char* v = nullptr;
  return sd_device_get_property_value(d, key, &v) >= 0 && v && std::strcmp(v, "1") == 0;
}
}  // namespace

Status SystemAccessPolicy::mayFilter(const Caller& caller, const std::string& devNode) {
  // A pointing device only: a keyboard's events must never pass through another process.
  sd_device* dev = nullptr;
  if (sd_device_new_from_devname(&dev, devNode.c_str()) < 0)
    return Status::failure(inputd_error::kBadNode, devNode + " is unknown to udev");
  const bool pointer = propertyIsOne(dev, "ID_INPUT_MOUSE") || propertyIsOne(dev, "ID_INPUT_TOUCHPAD") ||
                       propertyIsOne(dev, "ID_INPUT_POINTINGSTICK") || propertyIsOne(dev, "ID_INPUT_TRACKBALL");
  const bool keyboard = propertyIsOne(dev, "ID_INPUT_KEYBOARD");
  const char* seatText = nullptr;
  std::string seat = sd_device_get_property_value(dev, "ID_SEAT", &seatText) >= 0 && seatText ? seatText : "seat0";
  sd_device_unref(dev);
  if (!pointer || keyboard) return Status::failure(inputd_error::kNotAPointer, devNode + " is not a pointing device");

  // The caller's session must be the active one on the device's seat.
  char* session = nullptr;
  if (sd_pid_get_session(caller.pid, &session) < 0 || !session)
    return Status::failure(inputd_error::kNotOwner, "the caller has no login session");
  char* callerSeat = nullptr;
  uid_t owner = 0;
  const bool onSeat = sd_session_get_seat(session, &callerSeat) >= 0 && callerSeat && seat == callerSeat;
  const bool active = sd_session_is_active(session) > 0;
  const bool sameUser = sd_session_get_uid(session, &owner) >= 0 && owner == caller.uid;
  std::free(callerSeat);
  std::free(session);
  if (!onSeat || !active || !sameUser)
    return Status::failure(inputd_error::kNotOwner, devNode + " is not on the caller's active seat");

  // polkit: the caller's bus name as the subject, interaction allowed.
  sd_bus_message* m = nullptr;
  sd_bus_message* reply = nullptr;
  sd_bus_error e = SD_BUS_ERROR_NULL;
  int rc = sd_bus_message_new_method_call(bus_, &m, "org.freedesktop.PolicyKit1", "/org/freedesktop/PolicyKit1/Authority",
                                          "org.freedesktop.PolicyKit1.Authority", "CheckAuthorization");
  if (rc >= 0) rc = sd_bus_message_append(m, "(sa{sv})s", "system-bus-name", 1, "name", "s", caller.busName.c_str(), kPolkitAction);
  if (rc >= 0) rc = sd_bus_message_append(m, "a{ss}", 0);
  if (rc >= 0) rc = sd_bus_message_append(m, "us", 1u, "");
  if (rc >= 0) rc = sd_bus_call(bus_, m, 120 * 1000000ULL, &e, &reply);
  int authorized = 0, challenge = 0;
  if (rc >= 0) rc = sd_bus_message_read(reply, "(bb", &authorized, &challenge);
  std::string why = rc < 0 ? (e.message ? e.message : std::strerror(-rc)) : "";
  sd_bus_message_unref(m);
  sd_bus_message_unref(reply);
  sd_bus_error_free(&e);
  if (rc < 0) return Status::failure(inputd_error::kNotAllowed, "polkit did not answer: " + why);
  if (!authorized) return Status::failure(inputd_error::kNotAllowed, "not authorised for " + std::string(kPolkitAction));
  return Status::success();
}

}  // namespace vl::inputd

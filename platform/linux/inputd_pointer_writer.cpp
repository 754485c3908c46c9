// The inputd client: Filter and Release calls, and re-applying after the service restarts.
#include "platform/linux/inputd_pointer_writer.h"
#include "platform/linux/sd_bus_events.h"

#include <systemd/sd-bus.h>

#include <cstdlib>
#include <cstring>

#include "platform/linux/sd_event_runloop.h"

namespace vl::linux_input {

namespace {
constexpr const char* kName = "org.velmora.Inputd1";
constexpr const char* kObject = "/org/velmora/Inputd1";
constexpr const char* kInterface = "org.velmora.Inputd1";

bool nameReachable(sd_bus* bus) {
  sd_bus_message* reply = nullptr;
  int has = 0;
  if (sd_bus_call_method(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameHasOwner", nullptr,
                         &reply, "s", kName) >= 0)
    sd_bus_message_read(reply, "b", &has);
  sd_bus_message_unref(reply);
  if (has) return true;
  // Not running yet but installed: the bus starts it on the first call.
  char** names = nullptr;
  bool activatable = false;
  if (sd_bus_list_names(bus, nullptr, &names) >= 0 && names) {
    for (char** n = names; *n; ++n) {
      if (std::strcmp(*n, kName) == 0) activatable = true;
      free(*n);
    }
    free(names);
  }
  return activatable;
}

Status callFailure(const sd_bus_error& e, int rc) {
  const std::string text = e.message ? e.message : std::strerror(-rc);
  if (sd_bus_error_has_name(&e, "org.velmora.Inputd1.Error.BadSpeed")) return Status::failure(writer_error::kDeviceValueRange, text);
  if (sd_bus_error_has_name(&e, "org.velmora.Inputd1.Error.DeviceFailed")) return Status::failure(writer_error::kNoDevice, text);
  return Status::failure(writer_error::kWriteFailed, "velmora-inputd: " + text);
}
}  // namespace

struct InputdSignals {
  static int ownerChanged(sd_bus_message* m, void* userdata, sd_bus_error*) {
    const char *name = nullptr, *oldOwner = nullptr, *newOwner = nullptr;
    if (sd_bus_message_read(m, "sss", &name, &oldOwner, &newOwner) >= 0 && oldOwner && oldOwner[0])
      static_cast<InputdPointerWriter*>(userdata)->serviceLeft();
    return 0;
  }
};

Result<std::unique_ptr<InputdPointerWriter>> InputdPointerWriter::open(const std::string& busAddress,
                                                                       WriterRestoreFile* restoreFile,
                                                                       linux_::SdEventRunLoop* loop) {
  sd_bus* bus = nullptr;
  int rc = openBusAt(busAddress, true, &bus);
  if (rc < 0) {
    return Status::failure(writer_error::kUnavailable, std::string("no system bus: ") + std::strerror(-rc));
  }
  if (!nameReachable(bus)) {
    sd_bus_flush_close_unref(bus);
    return Status::failure(writer_error::kUnavailable, "velmora-inputd is not installed (org.velmora.Inputd1)");
  }
  return std::make_unique<InputdPointerWriter>(Key{}, bus, restoreFile, loop);
}

InputdPointerWriter::InputdPointerWriter(Key, sd_bus* bus, WriterRestoreFile* restoreFile, linux_::SdEventRunLoop* loop)
    : MappedPointerWriter(nullptr, restoreFile), bus_(bus) {
  // The service's own name leaving: its filters ended with it.
  if (sd_bus_add_match(bus_, &match_,
                   "type='signal',sender='org.freedesktop.DBus',interface='org.freedesktop.DBus',"
                   "member='NameOwnerChanged',arg0='org.velmora.Inputd1'",
                   &InputdSignals::ownerChanged, this) < 0)
    match_ = nullptr;
  if (loop) sd_bus_attach_event(bus_, loop->event(), 0);
}

InputdPointerWriter::~InputdPointerWriter() {
  sd_bus_slot_unref(match_);
  sd_bus_flush_close_unref(bus_);
}

bool InputdPointerWriter::handles(const InputDeviceInfo& device) const {
  return device.devNode.rfind("/dev/input/event", 0) == 0;
}

void InputdPointerWriter::serviceLeft() {
  // The service's filters ended with it; the agent re-applies, which starts it again.
  for (;;) {
    auto dev = writtenDeviceWhere([](const InputDeviceInfo&) { return true; });
    if (!dev) break;
    InputDeviceInfo d = *dev;
    // Forget our side without calling the service that is gone (a call would start it again).
    serviceGone_ = true;
    restore(d).ignore("the service that held the filter is gone");
    serviceGone_ = false;
    reportChanged(d);
  }
}

Result<pl::Dict> InputdPointerWriter::captureOriginal(const InputDeviceInfo& device) {
  if (!handles(device)) return Status::failure(writer_error::kNoDevice, "no event node for " + device.name);
  pl::Dict d;
  d["name"] = device.name;
  d["filtered"] = false;
  return d;
}

Status InputdPointerWriter::writeSpeed(const InputDeviceInfo& device, const DesktopSpeed& speed) {
  sd_bus_error e = SD_BUS_ERROR_NULL;
  int rc = sd_bus_call_method(bus_, kName, kObject, kInterface, "Filter", &e, nullptr, "sdd", device.devNode.c_str(),
                              speed.resolution, speed.acceleration);
  Status s = rc < 0 ? callFailure(e, rc) : Status::success();
  sd_bus_error_free(&e);
  return s;
}

Status InputdPointerWriter::writeOriginal(const InputDeviceInfo& device, const pl::Dict&) {
  if (serviceGone_) return Status::success();
  sd_bus_error e = SD_BUS_ERROR_NULL;
  int rc = sd_bus_call_method(bus_, kName, kObject, kInterface, "Release", &e, nullptr, "s", device.devNode.c_str());
  Status s = Status::success();
  // Not filtered (any more), or the service is gone: the device is the desktop's again.
  if (rc < 0 && !sd_bus_error_has_name(&e, "org.velmora.Inputd1.Error.NotFiltered") &&
      !sd_bus_error_has_name(&e, SD_BUS_ERROR_SERVICE_UNKNOWN) && !sd_bus_error_has_name(&e, SD_BUS_ERROR_NAME_HAS_NO_OWNER))
    s = callFailure(e, rc);
  sd_bus_error_free(&e);
  return s;
}

Result<std::pair<double, double>> InputdPointerWriter::serviceSpeed(const InputDeviceInfo& device) const {
  sd_bus_error e = SD_BUS_ERROR_NULL;
  sd_bus_message* reply = nullptr;
  int rc = sd_bus_call_method(bus_, kName, kObject, kInterface, "Speed", &e, &reply, "s", device.devNode.c_str());
  double r = 0, a = 0;
  if (rc >= 0) rc = sd_bus_message_read(reply, "dd", &r, &a);
  Status s = rc < 0 ? callFailure(e, rc) : Status::success();
  sd_bus_message_unref(reply);
  sd_bus_error_free(&e);
  if (!s.ok()) return s;
  return std::make_pair(r, a);
}

void InputdPointerWriter::processEvents(double timeout) { processBusEvents(bus_, timeout); }

}  // namespace vl::linux_input

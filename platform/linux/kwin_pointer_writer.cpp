// The KWin writer: per-device properties over sd-bus, their restore, and change signals.
#include "platform/linux/kwin_pointer_writer.h"
#include "platform/linux/sd_bus_events.h"

#include <systemd/sd-bus.h>

#include <cctype>
#include <cmath>
#include <cstring>

#include "platform/linux/sd_event_runloop.h"

namespace vl::linux_input {

namespace {
constexpr const char* kService = "org.kde.KWin";
constexpr const char* kInterface = "org.kde.KWin.InputDevice";
constexpr const char* kPathPrefix = "/org/kde/KWin/InputDevice/";
constexpr const char* kAccel = "pointerAcceleration";
constexpr const char* kFlat = "pointerAccelerationProfileFlat";
constexpr const char* kAdaptive = "pointerAccelerationProfileAdaptive";

// A device KWin has dropped answers with one of these.
bool isGone(const sd_bus_error& e) {
  return sd_bus_error_has_name(&e, SD_BUS_ERROR_UNKNOWN_OBJECT) || sd_bus_error_has_name(&e, SD_BUS_ERROR_UNKNOWN_METHOD) ||
         sd_bus_error_has_name(&e, SD_BUS_ERROR_UNKNOWN_INTERFACE) ||
         (e.name && std::strstr(e.name, "UnknownObject") != nullptr);
}

Status busFailure(const sd_bus_error& e, int rc, const std::string& what) {
  std::string text = what + ": " + (e.message ? e.message : std::strerror(-rc));
  return Status::failure(isGone(e) ? writer_error::kNoDevice : writer_error::kWriteFailed, text);
}
}  // namespace

// sd-bus's C callback into the writer.
struct KWinSignals {
  static int propertiesChanged(sd_bus_message* m, void* userdata, sd_bus_error*) {
    static_cast<KWinPointerWriter*>(userdata)->propertiesChanged(m);
    return 0;
  }
};

Result<std::unique_ptr<KWinPointerWriter>> KWinPointerWriter::open(const std::string& busAddress, GainMapping mapping,
                                                                   WriterRestoreFile* restoreFile,
                                                                   linux_::SdEventRunLoop* loop) {
  sd_bus* bus = nullptr;
  int rc = openBusAt(busAddress, false, &bus);
  if (rc < 0) {
    return Status::failure(writer_error::kUnavailable, std::string("no session bus: ") + std::strerror(-rc));
  }
  sd_bus_error e = SD_BUS_ERROR_NULL;
  sd_bus_message* reply = nullptr;
  int has = 0;
  rc = sd_bus_call_method(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameHasOwner", &e,
                          &reply, "s", kService);
  if (rc >= 0) rc = sd_bus_message_read(reply, "b", &has);
  sd_bus_message_unref(reply);
  sd_bus_error_free(&e);
  if (rc < 0 || !has) {
    sd_bus_unref(bus);
    return Status::failure(writer_error::kUnavailable, "KWin is not on the session bus");
  }
  return std::make_unique<KWinPointerWriter>(Key{}, bus, std::move(mapping), restoreFile, loop);
}

KWinPointerWriter::KWinPointerWriter(Key, sd_bus* bus, GainMapping mapping, WriterRestoreFile* restoreFile,
                                     linux_::SdEventRunLoop* loop)
    : MappedPointerWriter(std::move(mapping), restoreFile), bus_(bus) {
  // Every device's property changes; the handler picks the ones we wrote.
  if (sd_bus_match_signal(bus_, &match_, kService, nullptr, "org.freedesktop.DBus.Properties", "PropertiesChanged",
                          &KWinSignals::propertiesChanged, this) < 0)
    match_ = nullptr;  // writes still work; changes by others go unseen
  if (loop) sd_bus_attach_event(bus_, loop->event(), 0);
}

KWinPointerWriter::~KWinPointerWriter() {
  sd_bus_slot_unref(match_);
  sd_bus_flush_close_unref(bus_);
}

std::string KWinPointerWriter::objectPath(const InputDeviceInfo& device) {
  // KWin names its objects by the evdev node's name; anything else would make no valid path.
  std::string name = device.sysName;
  if (name.empty() && !device.devNode.empty()) name = device.devNode.substr(device.devNode.rfind('/') + 1);
  for (char c : name)
    if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_')) return {};
  return name.empty() ? std::string() : kPathPrefix + name;
}

Result<bool> KWinPointerWriter::getBool(const std::string& path, const char* property) const {
  sd_bus_error e = SD_BUS_ERROR_NULL;
  int value = 0;
  int rc = sd_bus_get_property_trivial(bus_, kService, path.c_str(), kInterface, property, &e, 'b', &value);
  if (rc < 0) {
    Status s = busFailure(e, rc, path + " " + property);
    sd_bus_error_free(&e);
    return s;
  }
  return value != 0;
}

Result<double> KWinPointerWriter::getDouble(const std::string& path, const char* property) const {
  sd_bus_error e = SD_BUS_ERROR_NULL;
  double value = 0;
  int rc = sd_bus_get_property_trivial(bus_, kService, path.c_str(), kInterface, property, &e, 'd', &value);
  if (rc < 0) {
    Status s = busFailure(e, rc, path + " " + property);
    sd_bus_error_free(&e);
    return s;
  }
  return value;
}

Status KWinPointerWriter::setBool(const std::string& path, const char* property, bool value) {
  sd_bus_error e = SD_BUS_ERROR_NULL;
  int rc = sd_bus_set_property(bus_, kService, path.c_str(), kInterface, property, &e, "b", static_cast<int>(value));
  if (rc < 0) {
    Status s = busFailure(e, rc, path + " " + property);
    sd_bus_error_free(&e);
    return s;
  }
  written_[{path, property}] = value ? 1.0 : 0.0;
  return Status::success();
}

Status KWinPointerWriter::setDouble(const std::string& path, const char* property, double value) {
  if (!std::isfinite(value) || value < -1 || value > 1)
    return Status::failure(writer_error::kDeviceValueRange, std::string(property) + " outside -1 … 1");
  sd_bus_error e = SD_BUS_ERROR_NULL;
  int rc = sd_bus_set_property(bus_, kService, path.c_str(), kInterface, property, &e, "d", value);
  if (rc < 0) {
    Status s = busFailure(e, rc, path + " " + property);
    sd_bus_error_free(&e);
    return s;
  }
  written_[{path, property}] = value;
  return Status::success();
}

bool KWinPointerWriter::handles(const InputDeviceInfo& device) const {
  const std::string path = objectPath(device);
  if (path.empty()) return false;
  auto pointer = getBool(path, "pointer");
  return pointer.ok() && *pointer;
}

Result<pl::Dict> KWinPointerWriter::captureOriginal(const InputDeviceInfo& device) {
  const std::string path = objectPath(device);
  if (path.empty()) return Status::failure(writer_error::kNoDevice, "no KWin object for " + device.devNode);
  auto accel = getDouble(path, kAccel);
  if (!accel) return accel.status();
  auto flat = getBool(path, kFlat);
  if (!flat) return flat.status();
  auto adaptive = getBool(path, kAdaptive);
  if (!adaptive) return adaptive.status();
  pl::Dict d;
  d["name"] = device.name;
  d["sysName"] = path.substr(std::strlen(kPathPrefix));
  d["acceleration"] = *accel;
  d["flat"] = *flat;
  d["adaptive"] = *adaptive;
  return d;
}

Status KWinPointerWriter::writeOriginal(const InputDeviceInfo& device, const pl::Dict& original) {
  InputDeviceInfo d = device;
  if (d.sysName.empty()) {
    auto s = original.find("sysName");
    if (s != original.end() && s->second.isString()) d.sysName = *s->second.asString();
  }
  const std::string path = objectPath(d);
  if (path.empty()) return Status::failure(writer_error::kNoDevice, "no KWin object for " + device.devNode);
  auto get = [&](const char* k) -> const pl::Value* {
    auto it = original.find(k);
    return it == original.end() ? nullptr : &it->second;
  };
  const pl::Value* accel = get("acceleration");
  const pl::Value* flat = get("flat");
  const pl::Value* adaptive = get("adaptive");
  if (!accel || !flat || !adaptive) return Status::failure(writer_error::kWriteFailed, "incomplete restore entry");
  // One profile at a time: switching the other off first would leave none for a moment.
  if (flat->boolValue()) {
    if (Status s = setBool(path, kFlat, true); !s.ok()) return s;
    if (Status s = setBool(path, kAdaptive, adaptive->boolValue()); !s.ok()) return s;
  } else {
    if (Status s = setBool(path, kAdaptive, adaptive->boolValue()); !s.ok()) return s;
    if (Status s = setBool(path, kFlat, false); !s.ok()) return s;
  }
  return setDouble(path, kAccel, accel->doubleValue());
}

Status KWinPointerWriter::writeSpeed(const InputDeviceInfo& device, const DesktopSpeed& speed) {
  const std::string path = objectPath(device);
  if (path.empty()) return Status::failure(writer_error::kNoDevice, "no KWin object for " + device.devNode);
  const double s = libinputFlatSpeedFor(speed.gain);
  if (!std::isfinite(s)) return Status::failure(writer_error::kDeviceValueRange, "not a finite speed");
  if (Status st = setBool(path, kFlat, true); !st.ok()) return st;
  if (Status st = setBool(path, kAdaptive, false); !st.ok()) return st;
  return setDouble(path, kAccel, s);
}

void KWinPointerWriter::propertiesChanged(sd_bus_message* m) {
  KWinPointerWriter* self = this;
  const char* pathText = sd_bus_message_get_path(m);
  const char* iface = nullptr;
  if (!pathText || sd_bus_message_read(m, "s", &iface) < 0 || !iface || std::strcmp(iface, kInterface) != 0) return;
  const std::string path = pathText;
  bool foreign = false;
  if (sd_bus_message_enter_container(m, 'a', "{sv}") < 0) return;
  while (sd_bus_message_enter_container(m, 'e', "sv") > 0) {
    const char* prop = nullptr;
    if (sd_bus_message_read(m, "s", &prop) < 0) break;
    auto it = prop ? self->written_.find({path, prop}) : self->written_.end();
    if (it == self->written_.end()) {
      sd_bus_message_skip(m, "v");
    } else {
      double now = std::nan("");
      const char* contents = nullptr;
      if (sd_bus_message_peek_type(m, nullptr, &contents) >= 0 && contents && sd_bus_message_enter_container(m, 'v', contents) >= 0) {
        if (contents[0] == 'd') {
          sd_bus_message_read(m, "d", &now);
        } else if (contents[0] == 'b') {
          int b = 0;
          sd_bus_message_read(m, "b", &b);
          now = b ? 1.0 : 0.0;
        } else {
          sd_bus_message_skip(m, contents);
        }
        sd_bus_message_exit_container(m);
      }
      if (!(std::fabs(now - it->second) < 1e-9)) {
        foreign = true;
        self->written_.erase(it);
      }
    }
    sd_bus_message_exit_container(m);
  }
  if (!foreign) return;
  const std::string sysName = path.substr(std::strlen(kPathPrefix));
  if (auto dev = self->writtenDeviceWhere([&](const InputDeviceInfo& d) { return objectPath(d) == path; })) {
    self->reportChanged(*dev);
  }
  return;
}

void KWinPointerWriter::processEvents(double timeout) { processBusEvents(bus_, timeout); }

}  // namespace vl::linux_input

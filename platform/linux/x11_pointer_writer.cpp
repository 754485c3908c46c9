// The X11 writer: XInput device properties, their read-back and restore, and property events.
#include "platform/linux/x11_pointer_writer.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
// Xlib defines Status as a macro; the project's type of that name is meant below.
#undef Status

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/linux/sd_event_runloop.h"

namespace vl::linux_input {

namespace {
constexpr const char* kNode = "Device Node";
constexpr const char* kLibinputSpeed = "libinput Accel Speed";
constexpr const char* kLibinputProfile = "libinput Accel Profile Enabled";
constexpr const char* kPtrProfile = "Device Accel Profile";
constexpr const char* kPtrDecel = "Device Accel Constant Deceleration";
constexpr const char* kPtrScaling = "Device Accel Velocity Scaling";
// The X server's profile that applies the constant deceleration alone.
constexpr int32_t kPtrProfileNone = -1;

// X protocol errors arrive asynchronously; a write is followed by XSync and the code of any
// error it drew is collected here for the thread that is syncing.
thread_local int* tErrorSink = nullptr;
int captureError(Display*, XErrorEvent* e) {
  if (tErrorSink && *tErrorSink == 0) *tErrorSink = e->error_code;
  return 0;
}

struct ErrorScope {
  Display* d;
  int code = 0;
  int* previous;
  explicit ErrorScope(Display* dpy) : d(dpy), previous(tErrorSink) { tErrorSink = &code; }
  int sync() {
    XSync(d, False);
    return code;
  }
  ~ErrorScope() { tErrorSink = previous; }
};

}  // namespace

Result<std::unique_ptr<X11PointerWriter>> X11PointerWriter::open(const char* display, GainMapping mapping,
                                                                 WriterRestoreFile* restoreFile,
                                                                 linux_::SdEventRunLoop* loop) {
  Display* d = XOpenDisplay(display);
  if (!d) return Status::failure(writer_error::kUnavailable, std::string("cannot open the X display ") + (display ? display : "$DISPLAY"));
  int opcode = 0, event = 0, error = 0;
  int major = 2, minor = 0;
  if (!XQueryExtension(d, "XInputExtension", &opcode, &event, &error) || XIQueryVersion(d, &major, &minor) != Success) {
    XCloseDisplay(d);
    return Status::failure(writer_error::kUnavailable, "the X server has no XInput 2");
  }
  XSetErrorHandler(captureError);
  auto w = std::make_unique<X11PointerWriter>(Key{}, d, std::move(mapping), restoreFile, loop);
  w->xiOpcode_ = opcode;
  w->xiErrorBase_ = error;
  return w;
}

X11PointerWriter::X11PointerWriter(Key, Display* display, GainMapping mapping, WriterRestoreFile* restoreFile,
                                   linux_::SdEventRunLoop* loop)
    : MappedPointerWriter(std::move(mapping), restoreFile), display_(display), loop_(loop) {
  // Property events of every device, so that another client's write is seen.
  unsigned char mask[XIMaskLen(XI_LASTEVENT)] = {};
  XISetMask(mask, XI_PropertyEvent);
  XIEventMask em{XIAllDevices, static_cast<int>(sizeof mask), mask};
  XISelectEvents(display_, DefaultRootWindow(display_), &em, 1);
  XFlush(display_);
  if (loop_) {
    fdWatch_ = loop_->watchFd(ConnectionNumber(display_), [this] { processEvents(); });
    // Xlib reads events into its queue during our own round trips, where the descriptor
    // never shows them: they are handled at the end of the loop's pass.
    endOfPass_ = loop_->addEndOfPassObserver([this] {
      if (XEventsQueued(display_, QueuedAlready) > 0) processEvents();
    });
  }
}

X11PointerWriter::~X11PointerWriter() {
  if (loop_ && fdWatch_) loop_->unwatchFd(fdWatch_);
  if (loop_ && endOfPass_) loop_->removeEndOfPassObserver(endOfPass_);
  XCloseDisplay(display_);
}

int X11PointerWriter::fd() const { return ConnectionNumber(display_); }

int X11PointerWriter::xDeviceFor(const InputDeviceInfo& device) const {
  int n = 0;
  XIDeviceInfo* info = XIQueryDevice(display_, XIAllDevices, &n);
  int byNode = 0, byName = 0;
  for (int i = 0; i < n && !byNode; ++i) {
    if (info[i].use != XISlavePointer && info[i].use != XIFloatingSlave) continue;
    int format = 0;
    unsigned long type = 0;
    auto node = readRaw(info[i].deviceid, kNode, &format, &type);
    if (node) {
      std::string text(node->begin(), node->end());
      if (auto z = text.find('\0'); z != std::string::npos) text.resize(z);
      if (!device.devNode.empty() && text == device.devNode) byNode = info[i].deviceid;
    } else if (!byName && !device.name.empty() && device.name == info[i].name) {
      byName = info[i].deviceid;
    }
  }
  XIFreeDeviceInfo(info);
  return byNode ? byNode : byName;
}

X11PointerWriter::Driver X11PointerWriter::driverOf(int xdev) const {
  int format = 0;
  unsigned long type = 0;
  if (readRaw(xdev, kLibinputSpeed, &format, &type)) return Driver::Libinput;
  if (readRaw(xdev, kPtrDecel, &format, &type)) return Driver::PtrAccel;
  return Driver::Unknown;
}

std::string X11PointerWriter::nameFor(const InputDeviceInfo& device) const {
  int xdev = xDeviceFor(device);
  switch (xdev ? driverOf(xdev) : Driver::Unknown) {
    case Driver::Libinput: return "x11-libinput";
    case Driver::PtrAccel: return "x11-ptraccel";
    case Driver::Unknown: break;
  }
  return "x11";
}

bool X11PointerWriter::handles(const InputDeviceInfo& device) const {
  int xdev = xDeviceFor(device);
  return xdev && driverOf(xdev) != Driver::Unknown;
}

std::optional<std::vector<uint8_t>> X11PointerWriter::readRaw(int xdev, const char* property, int* format,
                                                              unsigned long* typeOut) const {
  Atom prop = XInternAtom(display_, property, True);
  if (prop == None) return std::nullopt;
  Atom type = None;
  unsigned long items = 0, after = 0;
  unsigned char* data = nullptr;
  ErrorScope errors(display_);
  int rc = XIGetProperty(display_, xdev, prop, 0, 256, False, AnyPropertyType, &type, format, &items, &after, &data);
  errors.sync();
  if (rc != Success || type == None || errors.code) {
    if (data) XFree(data);
    return std::nullopt;
  }
  std::vector<uint8_t> bytes(data, data + items * (*format / 8));
  XFree(data);
  *typeOut = type;
  return bytes;
}

Status X11PointerWriter::writeRaw(int xdev, const char* property, const char* typeName, int format, const void* data,
                                  int count) {
  Atom prop = XInternAtom(display_, property, False);
  Atom type = std::strcmp(typeName, "INTEGER") == 0 ? XA_INTEGER : XInternAtom(display_, typeName, False);
  ErrorScope errors(display_);
  XIChangeProperty(display_, xdev, prop, type, format, XIPropModeReplace,
                   static_cast<unsigned char*>(const_cast<void*>(data)), count);
  if (int code = errors.sync()) {
    char text[128] = {};
    XGetErrorText(display_, code, text, sizeof text);
    return Status::failure(code == xiErrorBase_ /* BadDevice */ ? writer_error::kNoDevice : writer_error::kWriteFailed,
                           std::string(property) + ": " + text);
  }
  const auto* b = static_cast<const uint8_t*>(data);
  written_[{xdev, property}] = std::vector<uint8_t>(b, b + count * (format / 8));
  return Status::success();
}

std::optional<double> X11PointerWriter::readFloat(int xdev, const char* property) const {
  int format = 0;
  unsigned long type = 0;
  auto b = readRaw(xdev, property, &format, &type);
  if (!b || format != 32 || b->size() < 4) return std::nullopt;
  float f;
  std::memcpy(&f, b->data(), 4);
  return f;
}

std::optional<int32_t> X11PointerWriter::readInt(int xdev, const char* property) const {
  int format = 0;
  unsigned long type = 0;
  auto b = readRaw(xdev, property, &format, &type);
  if (!b || b->empty()) return std::nullopt;
  if (format == 8) return static_cast<int8_t>((*b)[0]);
  if (format == 16) return int16_t((*b)[0] | ((*b)[1] << 8));  // only little-endian hosts run X clients here
  int32_t v;
  std::memcpy(&v, b->data(), 4);
  return v;
}

Status X11PointerWriter::writeFloat(int xdev, const char* property, double value) {
  if (!std::isfinite(value)) return Status::failure(writer_error::kDeviceValueRange, std::string(property) + ": not finite");
  float f = static_cast<float>(value);
  return writeRaw(xdev, property, "FLOAT", 32, &f, 1);
}

Status X11PointerWriter::writeInt(int xdev, const char* property, int32_t value) {
  return writeRaw(xdev, property, "INTEGER", 32, &value, 1);
}

Result<pl::Dict> X11PointerWriter::captureOriginal(const InputDeviceInfo& device) {
  int xdev = xDeviceFor(device);
  if (!xdev) return Status::failure(writer_error::kNoDevice, "the X server has no device " + device.name);
  pl::Dict d;
  d["name"] = device.name;
  switch (driverOf(xdev)) {
    case Driver::Libinput: {
      auto speed = readFloat(xdev, kLibinputSpeed);
      int format = 0;
      unsigned long type = 0;
      auto profile = readRaw(xdev, kLibinputProfile, &format, &type);
      if (!speed || !profile || format != 8) return Status::failure(writer_error::kWriteFailed, "unreadable libinput properties");
      d["kind"] = "libinput";
      d["speed"] = *speed;
      d["profile"] = pl::Data(profile->begin(), profile->end());
      return d;
    }
    case Driver::PtrAccel: {
      auto profile = readInt(xdev, kPtrProfile);
      auto decel = readFloat(xdev, kPtrDecel);
      if (!profile || !decel) return Status::failure(writer_error::kWriteFailed, "unreadable acceleration properties");
      d["kind"] = "ptraccel";
      d["profile"] = pl::Value::int32(*profile);
      d["decel"] = *decel;
      if (auto scaling = readFloat(xdev, kPtrScaling)) d["scaling"] = *scaling;
      return d;
    }
    case Driver::Unknown: break;
  }
  return Status::failure(writer_error::kUnavailable, device.name + " has no speed property the writer knows");
}

Status X11PointerWriter::writeOriginal(const InputDeviceInfo& device, const pl::Dict& original) {
  int xdev = xDeviceFor(device);
  if (!xdev) return Status::failure(writer_error::kNoDevice, "the X server has no device " + device.name);
  auto get = [&](const char* k) -> const pl::Value* {
    auto it = original.find(k);
    return it == original.end() ? nullptr : &it->second;
  };
  const pl::Value* kind = get("kind");
  if (!kind || !kind->isString()) return Status::failure(writer_error::kWriteFailed, "a restore entry without its kind");
  if (*kind->asString() == "libinput") {
    const pl::Value* speed = get("speed");
    const pl::Value* profile = get("profile");
    if (!speed || !profile || !profile->isData()) return Status::failure(writer_error::kWriteFailed, "incomplete restore entry");
    double s = speed->doubleValue();
    if (!(s >= -1 && s <= 1)) return Status::failure(writer_error::kDeviceValueRange, "libinput speed outside -1 … 1");
    const pl::Data& p = *profile->asData();
    if (Status st = writeRaw(xdev, kLibinputProfile, "INTEGER", 8, p.data(), static_cast<int>(p.size())); !st.ok()) return st;
    return writeFloat(xdev, kLibinputSpeed, s);
  }
  const pl::Value* profile = get("profile");
  const pl::Value* decel = get("decel");
  if (!profile || !decel) return Status::failure(writer_error::kWriteFailed, "incomplete restore entry");
  double dv = decel->doubleValue();
  if (!(dv > 0) || !std::isfinite(dv)) return Status::failure(writer_error::kDeviceValueRange, "deceleration not positive");
  if (Status st = writeInt(xdev, kPtrProfile, profile->intValue()); !st.ok()) return st;
  if (const pl::Value* scaling = get("scaling"); scaling && std::isfinite(scaling->doubleValue()) && scaling->doubleValue() > 0)
    if (Status st = writeFloat(xdev, kPtrScaling, scaling->doubleValue()); !st.ok()) return st;
  return writeFloat(xdev, kPtrDecel, dv);
}

Status X11PointerWriter::writeSpeed(const InputDeviceInfo& device, const DesktopSpeed& speed) {
  int xdev = xDeviceFor(device);
  if (!xdev) return Status::failure(writer_error::kNoDevice, "the X server has no device " + device.name);
  switch (driverOf(xdev)) {
    case Driver::Libinput: {
      // The flat profile: every count times (1 + speed), speed in -1 … 1.
      double s = libinputFlatSpeedFor(speed.gain);
      int format = 0;
      unsigned long type = 0;
      auto enabled = readRaw(xdev, kLibinputProfile, &format, &type);
      if (!enabled || format != 8 || enabled->size() < 2) return Status::failure(writer_error::kWriteFailed, "no libinput profile property");
      std::vector<uint8_t> flat(enabled->size(), 0);
      flat[1] = 1;  // adaptive, flat[, custom]
      if (Status st = writeRaw(xdev, kLibinputProfile, "INTEGER", 8, flat.data(), static_cast<int>(flat.size())); !st.ok()) return st;
      return writeFloat(xdev, kLibinputSpeed, s);
    }
    case Driver::PtrAccel: {
      // The server's profile "none" divides every count by the constant deceleration.
      double decel = ptraccelDecelerationFor(speed.gain);
      if (Status st = writeInt(xdev, kPtrProfile, kPtrProfileNone); !st.ok()) return st;
      return writeFloat(xdev, kPtrDecel, decel);
    }
    case Driver::Unknown: break;
  }
  return Status::failure(writer_error::kUnavailable, device.name + " has no speed property the writer knows");
}

void X11PointerWriter::processEvents() {
  while (XPending(display_) > 0) {
    XEvent ev;
    XNextEvent(display_, &ev);
    if (ev.type != GenericEvent || ev.xcookie.extension != xiOpcode_) continue;
    if (!XGetEventData(display_, &ev.xcookie)) continue;
    if (ev.xcookie.evtype == XI_PropertyEvent) {
      const auto* pe = static_cast<const XIPropertyEvent*>(ev.xcookie.data);
      char* atomName = XGetAtomName(display_, pe->property);
      std::string prop = atomName ? atomName : "";
      if (atomName) XFree(atomName);
      auto it = written_.find({pe->deviceid, prop});
      if (it != written_.end()) {
        int format = 0;
        unsigned long type = 0;
        auto now = readRaw(pe->deviceid, prop.c_str(), &format, &type);
        if (!now || *now != it->second) {
          // Someone else's value: forget ours, so one change is reported once.
          written_.erase(it);
          int n = 0;
          XIDeviceInfo* info = XIQueryDevice(display_, pe->deviceid, &n);
          std::string devName = n > 0 ? info[0].name : "";
          if (info) XIFreeDeviceInfo(info);
          std::optional<InputDeviceInfo> dev;
          // The device as this writer knows it: by its node, else by its name.
          auto node = readRaw(pe->deviceid, kNode, &format, &type);
          if (node) {
            std::string text(node->begin(), node->end());
            if (auto z = text.find('\0'); z != std::string::npos) text.resize(z);
            dev = writtenDevice(text);
          }
          if (!dev) dev = writtenDevice("name:" + devName);
          if (dev) reportChanged(*dev);
        }
      }
    }
    XFreeEventData(display_, &ev.xcookie);
  }
}

}  // namespace vl::linux_input

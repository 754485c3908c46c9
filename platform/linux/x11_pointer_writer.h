// X11PointerWriter: a device's speed as the X server's XInput properties — the libinput
// driver's "libinput Accel Speed" / "libinput Accel Profile Enabled", or, for devices the
// server accelerates itself, "Device Accel Profile" / "Device Accel Constant Deceleration".
// Property events from other clients are reported as changes behind the writer's back.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/linux/mapped_pointer_writer.h"

typedef struct _XDisplay Display;

namespace vl::linux_ {
class SdEventRunLoop;
}

namespace vl::linux_input {

class X11PointerWriter final : public MappedPointerWriter {
 public:
  // display: an X display name (null: $DISPLAY). loop may be null: then the owner calls
  // processEvents() when the connection's fd (fd()) is readable.
  static Result<std::unique_ptr<X11PointerWriter>> open(const char* display, GainMapping mapping,
                                                        WriterRestoreFile* restoreFile,
                                                        linux_::SdEventRunLoop* loop);
  struct Key {
    explicit Key() = default;
  };
  X11PointerWriter(Key, Display* display, GainMapping mapping, WriterRestoreFile* restoreFile,
                   linux_::SdEventRunLoop* loop);
  ~X11PointerWriter() override;
  X11PointerWriter(const X11PointerWriter&) = delete;
  X11PointerWriter& operator=(const X11PointerWriter&) = delete;

  std::string name() const override { return "x11"; }
  // "x11-libinput", "x11-ptraccel", or "x11" when the server does not know the device.
  std::string nameFor(const InputDeviceInfo& device) const override;
  bool handles(const InputDeviceInfo& device) const override;

  int fd() const;
  // Reads and handles every pending X event (property changes).
  void processEvents();

  // The X device of a udev device: the pointer whose "Device Node" is the device's node; a
  // device without a node (or an X device without one, such as a virtual server's mouse) is
  // matched by name. 0 when there is none.
  int xDeviceFor(const InputDeviceInfo& device) const;

 protected:
  Result<pl::Dict> captureOriginal(const InputDeviceInfo& device) override;
  Status writeOriginal(const InputDeviceInfo& device, const pl::Dict& original) override;
  Status writeSpeed(const InputDeviceInfo& device, const DesktopSpeed& speed) override;

 private:
  enum class Driver { Unknown, Libinput, PtrAccel };
  Driver driverOf(int xdev) const;
  std::optional<std::vector<uint8_t>> readRaw(int xdev, const char* property, int* format, unsigned long* type) const;
  Status writeRaw(int xdev, const char* property, const char* type, int format, const void* data, int count);
  std::optional<double> readFloat(int xdev, const char* property) const;
  std::optional<int32_t> readInt(int xdev, const char* property) const;
  Status writeFloat(int xdev, const char* property, double value);
  Status writeInt(int xdev, const char* property, int32_t value);

  Display* display_;
  linux_::SdEventRunLoop* loop_;
  uint64_t fdWatch_ = 0;
  uint64_t endOfPass_ = 0;
  int xiOpcode_ = 0;
  int xiErrorBase_ = 0;
  // What this writer last put in each (X device, property): a property event that leaves
  // these bytes in place is our own echo, anything else was written by someone else.
  std::map<std::pair<int, std::string>, std::vector<uint8_t>> written_;
};

}  // namespace vl::linux_input

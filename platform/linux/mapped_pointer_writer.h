// MappedPointerWriter: the part every desktop writer shares — it checks each pointer-parameter
// write, turns resolution and acceleration into one desktop speed through a mapping, keeps the
// device's own setting from before the first write (in memory and in a restore file), and
// gives it back.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>

#include "platform/linux/pointer_writer.h"
#include "platform/linux/writer_restore_file.h"

namespace vl::linux_input {

// Error codes of the writers (module 870).
namespace writer_error {
inline constexpr int64_t kUnknownKey = 8700011;      // a key no writer of the desktop can carry
inline constexpr int64_t kNotANumber = 8700012;      // the value is no number, or NaN/infinite
inline constexpr int64_t kResolutionRange = 8700013; // resolution outside 10 … 2000
inline constexpr int64_t kAccelerationRange = 8700014;  // acceleration above 20
inline constexpr int64_t kDeviceValueRange = 8700015;   // the mapped desktop value is out of its range
inline constexpr int64_t kNoDevice = 8700016;        // the desktop does not know the device (any more)
inline constexpr int64_t kWriteFailed = 8700017;     // the desktop refused or lost the write
inline constexpr int64_t kUnavailable = 8700018;     // nothing in this session can set the speed
}  // namespace writer_error

// What the desktop is asked for: a constant cursor gain (pixels per device count) and whether
// the device's pointer acceleration is switched off.
struct DesktopSpeed {
  double gain = 1.0;
  bool accelerationOff = false;
  // The request itself, for writers that follow the exact curve rather than a gain.
  double resolution = 0;
  double acceleration = 0;
};

// Resolution (10 … 2000) and acceleration (≤ 20, negative = off) to a desktop speed.
using GainMapping = std::function<DesktopSpeed(double resolution, double acceleration)>;

// The desktop values a gain becomes, clamped to what each setting accepts (a gain beyond
// them is approximated by the nearest reachable one, never written out of range):
// libinput's flat profile moves (1 + speed) pixels per count, speed in -1 … 1 (the X11
// libinput driver and KWin alike); the X server's profile "none" divides by the constant
// deceleration, kept to 0.05 … 40.
double libinputFlatSpeedFor(double gain);
double ptraccelDecelerationFor(double gain);
inline constexpr double kMinDeceleration = 0.05, kMaxDeceleration = 40.0;

// The pointer-acceleration keys a service may name.
bool isPointerAccelerationKey(std::string_view key);

class MappedPointerWriter : public PointerWriter {
 public:
  // restoreFile may be null (nothing survives a crash then).
  MappedPointerWriter(GainMapping mapping, WriterRestoreFile* restoreFile);

  Status setProperty(const InputDeviceInfo& device, std::string_view key, const pl::Value& value) override;
  std::optional<pl::Value> property(const InputDeviceInfo& device, std::string_view key) const override;
  Status restore(const InputDeviceInfo& device) override;
  void onChangedBehindBack(ChangedCallback cb) override { changed_ = std::move(cb); }

  // Gives back every device setting a previous run of this writer left in the restore file
  // (it ended without restoring: a crash, a kill). Devices the desktop no longer knows keep
  // their entry for a later run.
  Status restoreLeftovers();

 protected:
  // The device's current desktop setting, as the values writeOriginal puts back.
  virtual Result<pl::Dict> captureOriginal(const InputDeviceInfo& device) = 0;
  virtual Status writeOriginal(const InputDeviceInfo& device, const pl::Dict& original) = 0;
  virtual Status writeSpeed(const InputDeviceInfo& device, const DesktopSpeed& speed) = 0;
  // A stable key of the device in the restore file.
  static std::string deviceKey(const InputDeviceInfo& device);
  void reportChanged(const InputDeviceInfo& device) const;
  // The device as last written by this writer, by its restore-file key (for change events).
  std::optional<InputDeviceInfo> writtenDevice(std::string_view key) const;
  std::optional<InputDeviceInfo> writtenDeviceWhere(const std::function<bool(const InputDeviceInfo&)>& match) const;

 private:
  struct DeviceState {
    InputDeviceInfo info;
    std::optional<int32_t> resolution;  // 16.16 as written
    std::optional<int32_t> acceleration;
    std::string accelerationKey;
    std::optional<pl::Value> accelerationType;
    std::optional<pl::Dict> original;
  };
  Status apply(DeviceState& state);

  GainMapping mapping_;
  WriterRestoreFile* restoreFile_;
  std::map<std::string, DeviceState, std::less<>> devices_;
  ChangedCallback changed_;
};

}  // namespace vl::linux_input

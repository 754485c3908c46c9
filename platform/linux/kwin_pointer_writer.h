// KWinPointerWriter: a device's speed through KWin's per-device input interface on the
// session bus (org.kde.KWin, /org/kde/KWin/InputDevice/eventN): the pointer acceleration
// (-1 … 1) and its flat and adaptive profiles. Property changes by others (the settings
// panel) are reported as changes behind the writer's back.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "platform/linux/mapped_pointer_writer.h"

struct sd_bus;
struct sd_bus_slot;
struct sd_bus_message;

namespace vl::linux_ {
class SdEventRunLoop;
}

namespace vl::linux_input {

class KWinPointerWriter final : public MappedPointerWriter {
 public:
  // busAddress: a D-Bus address, or empty for the user's session bus. Fails when KWin does
  // not own its name there. loop may be null: then the owner calls processEvents().
  static Result<std::unique_ptr<KWinPointerWriter>> open(const std::string& busAddress, GainMapping mapping,
                                                         WriterRestoreFile* restoreFile,
                                                         linux_::SdEventRunLoop* loop);
  struct Key {
    explicit Key() = default;
  };
  KWinPointerWriter(Key, sd_bus* bus, GainMapping mapping, WriterRestoreFile* restoreFile, linux_::SdEventRunLoop* loop);
  ~KWinPointerWriter() override;
  KWinPointerWriter(const KWinPointerWriter&) = delete;
  KWinPointerWriter& operator=(const KWinPointerWriter&) = delete;

  std::string name() const override { return "kwin"; }
  bool handles(const InputDeviceInfo& device) const override;

  // Handles what the bus has for us, waiting at most timeout seconds for the first message.
  void processEvents(double timeout = 0);

  static std::string objectPath(const InputDeviceInfo& device);

 protected:
  Result<pl::Dict> captureOriginal(const InputDeviceInfo& device) override;
  Status writeOriginal(const InputDeviceInfo& device, const pl::Dict& original) override;
  Status writeSpeed(const InputDeviceInfo& device, const DesktopSpeed& speed) override;

 private:
  friend struct KWinSignals;
  void propertiesChanged(sd_bus_message* m);
  Result<bool> getBool(const std::string& path, const char* property) const;
  Result<double> getDouble(const std::string& path, const char* property) const;
  Status setBool(const std::string& path, const char* property, bool value);
  Status setDouble(const std::string& path, const char* property, double value);

  sd_bus* bus_;
  sd_bus_slot* match_ = nullptr;
  // Our last values per (object, property): a change signal carrying them is our own echo.
  std::map<std::pair<std::string, std::string>, double> written_;
};

}  // namespace vl::linux_input

// InputdPointerWriter: the exact curve on any desktop, through velmora-inputd on the system
// bus (org.velmora.Inputd1): each device's resolution and acceleration go to the service,
// which filters the device's motion with the acceleration model; restoring releases the device.
#pragma once

#include <memory>
#include <string>

#include "platform/linux/mapped_pointer_writer.h"

struct sd_bus;
struct sd_bus_slot;

namespace vl::linux_ {
class SdEventRunLoop;
}

namespace vl::linux_input {

class InputdPointerWriter final : public MappedPointerWriter {
 public:
  // busAddress: a D-Bus address, or empty for the system bus. Fails when the service is
  // neither running nor activatable there.
  static Result<std::unique_ptr<InputdPointerWriter>> open(const std::string& busAddress, WriterRestoreFile* restoreFile,
                                                           linux_::SdEventRunLoop* loop);
  struct Key {
    explicit Key() = default;
  };
  InputdPointerWriter(Key, sd_bus* bus, WriterRestoreFile* restoreFile, linux_::SdEventRunLoop* loop);
  ~InputdPointerWriter() override;
  InputdPointerWriter(const InputdPointerWriter&) = delete;
  InputdPointerWriter& operator=(const InputdPointerWriter&) = delete;

  std::string name() const override { return "inputd"; }
  bool handles(const InputDeviceInfo& device) const override;
  void processEvents(double timeout = 0);

  // The speed the service filters the device at (resolution, acceleration), read back.
  Result<std::pair<double, double>> serviceSpeed(const InputDeviceInfo& device) const;

 protected:
  Result<pl::Dict> captureOriginal(const InputDeviceInfo& device) override;
  Status writeOriginal(const InputDeviceInfo& device, const pl::Dict& original) override;
  Status writeSpeed(const InputDeviceInfo& device, const DesktopSpeed& speed) override;

 private:
  friend struct InputdSignals;
  void serviceLeft();
  sd_bus* bus_;
  sd_bus_slot* match_ = nullptr;
  bool serviceGone_ = false;
};

}  // namespace vl::linux_input

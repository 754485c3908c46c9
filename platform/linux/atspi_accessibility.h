// AtspiAccessibility: the Accessibility port on AT-SPI (the desktop's assistive-technology bus,
// libatspi): the frontmost application and its focused window, a window's default button (the
// push button in the DEFAULT state), frames on screen, dialogs, hit tests and process ids, with
// the trust question answered by whether the AT-SPI bus is reachable and switched on.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/api/accessibility.h"
#include "platform/api/status.h"

struct sd_bus;

namespace vl::linux_ {

// What the window's accessibility warning tells a Linux user: there is no per-program
// permission, only the desktop's switch for assistive technologies.
inline constexpr const char* kAtspiEnableHint =
    "Velmora reads dialogs through the desktop's accessibility bus (AT-SPI), which is switched off. "
    "Turn on assistive technologies (GNOME: gsettings set org.gnome.desktop.interface "
    "toolkit-accessibility true; KDE: System Settings, Accessibility), then log out and in again.";

// One application on the AT-SPI bus, as the workspace lists them.
struct AtspiApplicationInfo {
  int32_t pid = 0;
  std::string name;
  bool active = false;      // one of its windows has the focus
  bool hasWindows = false;  // it shows at least one window
};

class SdEventRunLoop;

class AtspiAccessibility : public Accessibility {
 public:
  // Connects to the AT-SPI bus. userBusAddress: the session bus that announces the AT-SPI bus
  // (empty: the user's own). Fails when libatspi cannot start.
  static Result<std::unique_ptr<AtspiAccessibility>> create(const std::string& userBusAddress = {});
  struct Key {
    explicit Key() = default;
  };
  explicit AtspiAccessibility(Key);
  ~AtspiAccessibility() override;
  AtspiAccessibility(const AtspiAccessibility&) = delete;
  AtspiAccessibility& operator=(const AtspiAccessibility&) = delete;

  AXElementRef systemWideElement() override;
  AXElementRef createApplication(int32_t pid) override;
  int32_t copyAttributeValue(const AXElementRef& element, std::string_view attribute, AXValue* out) override;
  int32_t copyElementAtPosition(const AXElementRef& element, float x, float y, AXElementRef* out) override;
  int32_t getPid(const AXElementRef& element, int32_t* pid) override;
  // True when the AT-SPI bus answers and the desktop's accessibility switch is on.
  bool isProcessTrusted() override;
  // Linux has no prompt to show: the answer is the same, and the window's warning explains.
  bool isProcessTrustedWithOptions(bool prompt) override { return isProcessTrusted(); }

  // Reads the AT-SPI connection on loop whenever the bus sends something, so that what the
  // desktop announces never piles up unread between snapping passes.
  [[nodiscard]] Status attach(SdEventRunLoop& loop);

  // Why isProcessTrusted is false, for the log; empty when it is true.
  std::string untrustedReason();
  // The applications on the bus (the workspace's running applications).
  std::vector<AtspiApplicationInfo> applications();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  SdEventRunLoop* loop_ = nullptr;
  uint64_t watch_ = 0;
};

}  // namespace vl::linux_

// LinuxDesktop: the Desktop port on a Linux session: applications by process from the Linux
// workspace, activations from AT-SPI's window:activate events and the X server's
// _NET_ACTIVE_WINDOW, the X window list with owners from _NET_WM_PID, and never-shown
// override-redirect windows of this process.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/api/desktop.h"
#include "platform/api/status.h"

struct sd_bus;
struct sd_bus_slot;
struct xcb_connection_t;

namespace vl::linux_ {

class LinuxWorkspace;
class SdEventRunLoop;

struct LinuxDesktopOptions {
  // X display; empty: DISPLAY; no X server there: no window list, no windows of this process,
  // and activations come from AT-SPI alone.
  std::string display;
  bool useX = true;  // false: leave X alone (a Wayland session's XWayland knows only its own clients)
  // The session bus that announces the AT-SPI bus (empty: the user's own); AT_SPI_BUS_ADDRESS,
  // when set, names the AT-SPI bus itself.
  std::string userBusAddress;
  bool useAtspi = true;
};

class LinuxDesktop : public Desktop {
 public:
  // workspace must outlive the port. Never fails as a whole: what cannot be reached is said in
  // notes() and the operations that need it answer as for nothing found.
  static std::unique_ptr<LinuxDesktop> create(LinuxWorkspace& workspace, const LinuxDesktopOptions& options);
  struct Key {
    explicit Key() = default;
  };
  LinuxDesktop(Key, LinuxWorkspace& workspace);
  ~LinuxDesktop() override;
  LinuxDesktop(const LinuxDesktop&) = delete;
  LinuxDesktop& operator=(const LinuxDesktop&) = delete;

  std::optional<RunningApplication> frontmostApplication() const override;
  std::optional<RunningApplication> runningApplication(int32_t pid) const override;
  std::vector<RunningApplication> runningApplications(const std::string& bundleID) const override;
  // Regular: a program with a shown desktop entry and a window on screen; accessory otherwise.
  int32_t activationPolicy(int32_t pid) const override;
  Token observeActivation(ActivationHandler handler) override;
  void unobserveActivation(Token token) override;

  // The top-level X windows, front to back: the window manager's stacking list first, then the
  // other windows of the root that name their process (unmapped and override-redirect ones).
  std::vector<WindowInfo> windowList(bool excludeDesktopElements) const override;
  // An unmapped override-redirect X window owned by this process (_NET_WM_PID); 0 without X.
  uint32_t createWindow(Rect contentRect, bool borderless, bool buffered, bool defer) override;
  // frame in the port's coordinates (y up from the bottom of the root window).
  Status setWindowFrame(uint32_t window, Rect frame) override;

  // Runs the AT-SPI event connection and the X root window's property events on loop, which
  // must outlive the port. Activations are delivered from then on.
  [[nodiscard]] Status attach(SdEventRunLoop& loop);
  bool hasX() const { return query_ != nullptr; }
  bool hasAtspiEvents() const { return atspiBus_ != nullptr; }
  // What could not be reached, one line each.
  const std::vector<std::string>& notes() const { return notes_; }

  // An activation seen by either source, on the loop (public for the sources' callbacks).
  void activated(int32_t pid);

 private:
  struct Atoms;
  std::optional<RunningApplication> complete(std::optional<RunningApplication> app, bool showsWindows) const;
  bool ownsViewableWindow(int32_t pid) const;
  int32_t activeWindowPid(xcb_connection_t* c) const;
  void handleXEvents();

  LinuxWorkspace& workspace_;
  std::vector<std::string> notes_;

  // X: one connection for the queries of any thread, one the loop reads events from.
  mutable std::mutex xLock_;
  xcb_connection_t* query_ = nullptr;
  xcb_connection_t* events_ = nullptr;
  std::unique_ptr<Atoms> atoms_;
  uint32_t root_ = 0;
  int rootHeight_ = 0;
  std::set<uint32_t> ownWindows_;

  // AT-SPI's own bus, for the events its applications send.
  sd_bus* atspiBus_ = nullptr;
  sd_bus_slot* activateMatch_ = nullptr;
  bool registered_ = false;

  SdEventRunLoop* loop_ = nullptr;
  uint64_t xWatch_ = 0;
  std::map<Token, ActivationHandler> observers_;
  Token next_ = 1;
  int32_t lastActivated_ = 0;
};

}  // namespace vl::linux_

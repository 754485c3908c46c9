// SimDesktop: the simulated desktop — running applications with their activation policies,
// their windows and the controls inside them as accessibility elements, the focused
// application and window, Control Center, the cursor and mouse buttons, this process's own
// windows and its accessibility trust — behind the Accessibility, Cursor and Desktop ports.
// Thread-safe: the snapping worker reads it while the main thread changes it.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/plist/value.h"
#include "platform/api/accessibility.h"
#include "platform/api/cursor.h"
#include "platform/api/desktop.h"
#include "platform/api/notifications.h"
#include "platform/api/runloop.h"
#include "platform/api/sleeper.h"
#include "platform/api/status.h"

namespace vl::sim {

inline constexpr const char* kControlCenterBundleID = "com.apple.controlcenter";

// A control or window to put on the desktop. Frames are global, top-left origin.
struct ElementSpec {
  std::string role = "AXButton";
  std::optional<std::string> subrole;
  std::optional<std::string> title;
  std::optional<Rect> frame;        // AXPosition and AXSize; none: neither can be read
  std::optional<bool> enabled;      // none: AXEnabled cannot be read
  std::string name;                 // a handle for links and lookups; not an attribute
  std::vector<ElementSpec> children;
  std::map<std::string, std::string> links;  // attribute ("AXDefaultButton") -> element name
  std::map<std::string, int32_t> failures;   // attribute -> AX error its read returns
};

// The usual dialog: a row of buttons at the bottom right, left to right as listed.
struct DialogSpec {
  std::vector<std::string> buttons{"OK"};
  std::optional<std::string> defaultButton;  // exposed as AXDefaultButton
  std::optional<std::string> cancelButton;   // exposed as AXCancelButton
  bool sheet = false;                        // attached to the application's front window
  std::string title;
};

// One change of the cursor, as the log keeps it.
struct CursorEvent {
  enum Kind { Warp, Posted, User } kind = Warp;
  double time = 0;
  Point to;
};

class SimDesktop {
 public:
  // runLoop: where activation notifications are delivered (null: synchronously);
  // notifications: where the accessibility-changed notification goes (may be null).
  SimDesktop(RunLoop* runLoop, Notifications* notifications);
  ~SimDesktop();
  SimDesktop(const SimDesktop&) = delete;
  SimDesktop& operator=(const SimDesktop&) = delete;

  Accessibility& accessibility();
  Cursor& cursor();
  Desktop& desktop();
  // Sleeps in virtual time: each sleep runs the hook (tests advance their run loop there).
  Sleeper& sleeper();
  void setSleepHook(std::function<void(double seconds)> hook);
  // Seconds slept through the virtual sleeper so far.
  double slept() const;
  // Where the cursor log takes its times from (default: the run loop, else the sleeper).
  void setClock(std::function<double()> clock);
  // The screens dialogs are placed on (Cocoa frames, main screen first): its own list, or
  // the source's when one is set (the simulated Mac's Screens port).
  void setScreenFrames(std::vector<Rect> frames);
  void setScreenSource(std::function<std::vector<Rect>()> source);
  std::vector<Rect> screenFrames() const;

  // --- Applications ---------------------------------------------------------------------------
  // Adds a running application (a pid is chosen when it has none) and returns its pid.
  int32_t launch(RunningApplication app, int32_t activationPolicy = kActivationPolicyRegular, bool activate = true);
  // An application named like the workspace would show it ("TextEdit"), made up when absent:
  // /Applications/<name>.app with the identifier "sim.<name>".
  int32_t ensureApplication(const std::string& nameOrBundleID);
  void quit(int32_t pid);
  // Makes it frontmost with the focus on its focused window, and tells activation observers.
  void activate(int32_t pid);
  // Focus moves into Control Center (running it when absent) without an activation.
  void focusControlCenter();
  void setHidden(int32_t pid, bool hidden);
  std::optional<int32_t> pidOf(const std::string& nameOrBundleID) const;
  std::vector<RunningApplication> applications() const;
  // This process (whose windows createWindow makes and whose trust the ports report).
  void setOwnProcess(int32_t pid);

  // --- Windows and controls -------------------------------------------------------------------
  // Opens a window (or, with sheetOf, a sheet on that window) with its controls; it becomes
  // its application's focused window and the frontmost window. Returns its element id.
  uint64_t openWindow(int32_t pid, const ElementSpec& window, uint64_t sheetOf = 0);
  uint64_t openDialog(int32_t pid, const DialogSpec& dialog);
  // Closes a window or sheet (0: the focused window of the frontmost application); the
  // application's next window gets the focus. False when there is none.
  bool closeWindow(uint64_t window = 0);
  void setMinimized(uint64_t window, bool minimized);
  void setEnabled(uint64_t element, bool enabled);
  void setFrame(uint64_t element, Rect frame);
  // The read of attribute on element returns err from now on (0 removes the fault).
  void failAttribute(uint64_t element, const std::string& attribute, int32_t err);
  void failSystemWideFocus(int32_t err);  // AXFocusedApplication of the system-wide element
  void failHitTest(int32_t err);
  uint64_t elementNamed(const std::string& name) const;  // 0 when none
  std::optional<Point> centreOf(uint64_t element) const;
  uint64_t focusedWindow() const;  // of the focused application; 0 when none
  // The accessibility element of an element id, as the port would hand it out.
  AXElementRef axElement(uint64_t element) const;

  // --- Cursor and buttons ---------------------------------------------------------------------
  Point cursorPosition() const;
  // The user moves the mouse; announce = false keeps it from the change observer (the world
  // passing on another process's move).
  void moveCursor(Point p, bool announce = true);
  void setButtons(uint32_t mask);
  void setModifierFlags(uint64_t flags);
  std::vector<CursorEvent> cursorLog() const;
  void clearCursorLog();
  std::vector<MouseEvent> postedEvents() const;
  double suppressionInterval() const;

  // --- Trust and this process's windows -------------------------------------------------------
  void setTrusted(bool trusted);  // posts the accessibility-changed notification on a change
  bool trusted() const;
  int prompts() const;  // trust checks made with the prompt option
  std::optional<WindowInfo> ownWindow(uint32_t number) const;

  // --- Faults ---------------------------------------------------------------------------------
  void failWindowCreation(bool fail);
  void failEventCreation(bool fail);
  void failWarp(bool fail);

  // --- Persistence and fixtures ---------------------------------------------------------------
  // The whole desktop as a property list, and back (a failure on a malformed one).
  // keepLocal: the cursor and this process's own windows stay as they are (the world
  // bringing in other processes' changes).
  pl::Value save() const;
  Status load(const pl::Value& saved, bool keepLocal = false);
  // Called after every change made through this object (the world saves then).
  void setChangeObserver(std::function<void()> fn);
  // A readable listing of the applications, windows, controls and the cursor.
  std::string describe() const;

  struct Model;
  struct Ports;

 private:
  std::shared_ptr<Model> model_;
  std::unique_ptr<Ports> ports_;
};

// Reads an element tree from a property list: {role, subrole, title, frame: [x, y, w, h],
// enabled, name, children: [...], links: {attribute: name}, failures: {attribute: error}}.
Result<ElementSpec> elementSpecFromPlist(const pl::Value& v);

// A desktop fixture file: {application: {name, bundleIdentifier, activationPolicy},
// window: element tree, host: element tree (when present the window is a sheet on it)}. Opens
// its window on the desktop, the application frontmost, and returns the window's id (a failure
// when the file is malformed).
Result<uint64_t> loadDesktopFixture(SimDesktop& desktop, const pl::Value& fixture);

}  // namespace vl::sim

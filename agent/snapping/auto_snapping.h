// Automatic cursor snapping: which target the frontmost application's setting asks for, and
// the worker that polls the focused window five times a second and moves the cursor onto the
// target control of each newly focused window (and, with bounce, back when it goes away).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/errors/error_stack.h"
#include "platform/api/accessibility.h"
#include "platform/api/workspace.h"

namespace vl {

class Cursor;
class Desktop;
class Paths;
class QS803AppClass;
class Screens;
class Sleeper;
class SystemInfo;
struct Platform;

// Snapping target indexes (positions in the Application record's snapping list).
inline constexpr unsigned kSnapSameAsDefault = 0;
inline constexpr unsigned kSnapNone = 1;
inline constexpr unsigned kSnapDefaultButton = 2;
inline constexpr unsigned kSnapCancelButton = 3;
inline constexpr unsigned kSnapCloseButton = 4;
inline constexpr unsigned kSnapMinimizeButton = 5;
inline constexpr unsigned kSnapFullscreenButton = 6;
inline constexpr unsigned kSnapNotFound = 0xFFFFFFFFu;  // a value the list does not hold

inline constexpr double kSnappingPassInterval = 0.2;
inline constexpr double kFocusSquareRadius = 3.0;     // the user has not moved the mouse
inline constexpr double kSnappingSquareRadius = 8.0;  // the user left the cursor on the control

// The snapping settings of one Application record, copied when the list is fetched so that
// the list stays valid when the store is reopened and its records go away.
struct SnappingApp {
  bool isDefault = false;
  std::optional<std::string> matchingKey;
  unsigned snappingIX = kSnapNotFound;
  bool jump = false;
  bool bounce = false;
};
std::vector<SnappingApp> snappingAppsFromRecords(const std::vector<QS803AppClass*>& records);

// The engine. Its worker thread reads only the engine's own copy of the port pointers, taken
// at construction, never a platform set that the main thread may change.
class AutoSnapping {
 public:
  // Starts the worker's loop on a thread; tests may keep it and run it themselves.
  using Spawner = std::function<void(std::function<void()> loop)>;

  // What the engine reads and moves. Any may be null: the engine then finds no target and
  // moves nothing (no sleeper: the worker thread sleeps itself).
  struct Ports {
    Accessibility* accessibility = nullptr;  // focused window and its controls
    Desktop* desktop = nullptr;              // the frontmost application
    Workspace* workspace = nullptr;          // home folder, to match an application's setting
    Cursor* cursor = nullptr;
    Screens* screens = nullptr;              // a target must lie on one
    Sleeper* sleeper = nullptr;              // the waits between passes and glide steps
    Paths* paths = nullptr;                  // with system: the localised cancel title
    SystemInfo* system = nullptr;
    static Ports from(const Platform& p);
  };

  // errors: where the worker pushes the failures of its moves and searches.
  AutoSnapping(const Ports& ports, ErrorStack& errors);
  // Asks the worker to end and waits for it.
  ~AutoSnapping();
  AutoSnapping(const AutoSnapping&) = delete;
  AutoSnapping& operator=(const AutoSnapping&) = delete;

  // Main thread. list null or empty: nothing is chosen (the worker stops). app null: the
  // frontmost application.
  void startAutoCursorSnapping(const std::vector<SnappingApp>* list, const RunningApplication* app);
  void startAutoCursorSnappingToItem(unsigned index, bool jump, bool bounce);
  void pauseAutoCursorSnapping(bool paused);
  // Waits until no worker runs (a stop must have been asked for).
  void waitForWorker();

  // One pass of the worker, and its focus tracking.
  [[nodiscard]] int32_t moveCursorToItem(unsigned index, bool jump, bool bounce);
  [[nodiscard]] int32_t updateFocusedElement();

  // --- State, for the controller, diagnostics and tests -----------------------------------------
  bool isRunning() const { return phase_.load() != kIdle; }      // gl_is_running
  bool stopRequested() const { return phase_.load() >= kStopping; }  // gl_stop
  bool paused() const { return paused_.load(); }
  unsigned target() const { return target_.load(); }
  bool jump() const { return jump_.load(); }
  bool bounce() const { return bounce_.load(); }
  int32_t focusedWinCount() const { return focusedWindowCount_; }
  bool hasTargetWindow() const { return static_cast<bool>(targetWindow_); }
  Rect snappingRect() const { return snappingRect_; }
  Point snappingFromPosition() const { return snappingFromPosition_; }
  Point focusCursorPosition() const { return cursorPosition_; }

  void setSpawner(Spawner spawner) { spawner_ = std::move(spawner); }
  // The system's localised cancel title is read when a worker starts; tests may fix it.
  void setCancelButtonTitle(std::string title) { cancelTitle_ = std::move(title); fixedCancelTitle_ = true; }

 private:
  enum Phase : int { kIdle, kPolling, kStopping, kLeaving };
  void workerLoop();
  bool leaveIfAsked();
  const std::string& cancelTitle();

  // Written by the main thread, read by the worker.
  std::atomic<unsigned> target_{kSnapNone};
  std::atomic<bool> jump_{false};
  std::atomic<bool> bounce_{false};
  std::atomic<bool> paused_{false};
  // The worker's life: the main thread starts it (kPolling) and asks it to stop (kStopping)
  // or to go on after all (back to kPolling); the worker alone decides to leave (kLeaving)
  // and ends at kIdle. One atomic, so that a stop taken back can never be lost.
  std::atomic<int> phase_{kIdle};

  // The worker's own state (the main thread does not touch it while a worker runs).
  AXElementRef focusedApp_;
  AXElementRef focusedWindow_;
  AXElementRef targetWindow_;
  int32_t focusedWindowCount_ = 0;
  Point cursorPosition_;
  Rect snappingRect_;
  Point snappingFromPosition_;
  std::string cancelTitle_;
  bool fixedCancelTitle_ = false;

  const Ports ports_;
  ErrorStack& errors_;
  Spawner spawner_;
  std::thread thread_;
};

// The engine's entry points as plain functions.
void QS841startAutoCursorSnapping(AutoSnapping& engine, const std::vector<QS803AppClass*>* list,
                                  const RunningApplication* app);
void QS841startAutoCursorSnappingToItem(AutoSnapping& engine, unsigned index, bool jump, bool bounce);
void QS841pauseAutoCursorSnapping(AutoSnapping& engine, bool paused);
[[nodiscard]] int32_t QS841moveCursorToItem(AutoSnapping& engine, unsigned index, bool jump, bool bounce);
[[nodiscard]] int32_t QS841updateFocusedElement(AutoSnapping& engine);

}  // namespace vl

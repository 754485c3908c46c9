// X11 adapters of the Screens and Cursor ports: the outputs' frames and RandR screen-change
// events, and the pointer (XQueryPointer, XTest motion or XWarpPointer), each on an X
// connection of its own so that the snapping worker and the main loop never share one.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/api/cursor.h"
#include "platform/api/screens.h"
#include "platform/api/status.h"

typedef struct _XDisplay Display;

namespace vl::linux_ {

class SdEventRunLoop;

// Frames in the port's convention from X root-window rectangles (top-left origin, y down):
// the main screen is the primary output when it lies at the top of the root window, else the
// topmost one; frames are flipped about the main screen's height.
std::vector<Rect> framesFromRootRects(const std::vector<Rect>& rootRects, int primaryIndex);

class X11Screens : public Screens {
 public:
  // displayName empty: DISPLAY. Fails when no X server answers.
  static Result<std::unique_ptr<X11Screens>> create(const std::string& displayName = {});
  struct Key {
    explicit Key() = default;
  };
  explicit X11Screens(Key);
  ~X11Screens() override;
  X11Screens(const X11Screens&) = delete;
  X11Screens& operator=(const X11Screens&) = delete;

  std::vector<Rect> frames() const override;
  Token observeChanges(std::function<void()> fn) override;
  void unobserve(Token t) override;

  // Whether the server has RandR; without it the frames are the root window's and never change.
  bool hasRandr() const { return randrEvent_ >= 0; }
  [[nodiscard]] Status attach(SdEventRunLoop& loop);
  // Without a loop: waits at most timeout seconds for events and handles them. Returns how
  // many display changes were reported.
  int processPending(double timeout);

 private:
  void readFrames();
  int handleEvents();

  Display* dpy_ = nullptr;
  int randrEvent_ = -1;
  mutable std::mutex m_;  // frames_ is read by the snapping worker
  std::vector<Rect> frames_;
  std::map<Token, std::function<void()>> observers_;
  Token next_ = 1;
  SdEventRunLoop* loop_ = nullptr;
  uint64_t watch_ = 0;
};

class X11Cursor : public Cursor {
 public:
  static Result<std::unique_ptr<X11Cursor>> create(const std::string& displayName = {});
  struct Key {
    explicit Key() = default;
  };
  explicit X11Cursor(Key);
  ~X11Cursor() override;
  X11Cursor(const X11Cursor&) = delete;
  X11Cursor& operator=(const X11Cursor&) = delete;

  int32_t warpMouseCursorPosition(Point p) override;
  Point location() const override;
  uint32_t currentButtonState() const override;
  uint64_t hidModifierFlags() const override;
  std::optional<MouseEvent> createMouseEvent(int type, Point location, int button) override;
  void postEvent(int tap, const MouseEvent& event) override;
  // X has no suppression of local input after a synthetic move; the value is kept only.
  void setLocalEventsSuppressionInterval(double seconds) override;

  // Whether moves go through XTest (seen by programs as real pointer motion) or XWarpPointer.
  bool usesXTest() const { return xtest_; }

 private:
  struct Pointer {
    int x = 0, y = 0;
    unsigned mask = 0;
    bool ok = false;
  };
  Pointer query() const;
  bool moveTo(Point p);

  Display* dpy_ = nullptr;
  bool xtest_ = false;
  mutable std::mutex m_;
  double suppression_ = 0.25;
};

}  // namespace vl::linux_

// VL250SpeedHelpViewClass: the speed-help window's logic: the help texts as resources, the
// places of its three controls on the markers "1", "2", "3" of the text, and its buttons.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "pane/editing/editing_host.h"
#include "platform/api/platform.h"

namespace vl {

struct HelpPoint {
  double x = 0, y = 0;
  bool operator==(const HelpPoint&) const = default;
};
// Where a control goes when its marker is missing from the text: off-screen.
inline constexpr HelpPoint kOffscreenPoint{-1000, -1000};

// The controls laid over the help text, and their markers.
enum class HelpControl { ZeroButton, ShortBox, LongBox };
inline constexpr std::string_view kZeroButtonMarker = "1";
inline constexpr std::string_view kShortBoxMarker = "2";
inline constexpr std::string_view kLongBoxMarker = "3";

// The help texts: simple HTML (paragraphs, headings, lists, bold), from
// <resources>/<language>.lproj/<name>.html in the user's most preferred language that has it,
// else English. nullopt when there is none.
inline constexpr const char* kSpeedHelpResource = "SpeedHelp";
inline constexpr const char* kPaneHelpResource = "Help";
std::optional<std::string> helpResourcePath(const Platform& p, const std::string& name);
std::optional<std::string> loadHelpText(const Platform& p, const std::string& name);

// The help window's widgets.
class SpeedHelpWindow {
 public:
  virtual ~SpeedHelpWindow() = default;
  // The text view's plain text (as its layout counts characters: UTF-8 here, positions below
  // in UTF-16 code units).
  virtual std::string helpText() const = 0;
  // The origin of the bounding rectangle of the characters [position, position + length) in
  // the text view's superview, after painting them in the clear colour; nullopt when the
  // layout has no such characters.
  virtual std::optional<HelpPoint> markCharacters(size_t position, size_t length) = 0;
  // Moves a control to a point of the text view's superview.
  virtual void placeControl(HelpControl control, HelpPoint origin) = 0;
  // Makes the window key only if needed and brings it to the front.
  virtual void orderFront() = 0;
  // clearAllButtons: deselects every cell of every radio group in the window.
  virtual void clearAllButtons() = 0;
};

class VL250SpeedHelpViewClass {
 public:
  // prefPane: the controller (selection, recommended values); paneWindow: the pane's window
  // (focus of its fields); window: the help window's widgets. All must outlive this.
  VL250SpeedHelpViewClass(SpeedEditingHost& prefPane, PaneWindow& paneWindow, SpeedHelpWindow& window);

  // show:: brings the window to the front, places the three controls on their markers and
  // clears all buttons.
  void show();
  // boundingRectForString:inTextView:: the origin of the first occurrence of marker in text
  // (markCharacters of that range), kOffscreenPoint when the marker is missing.
  static HelpPoint boundingRectForString(std::string_view marker, std::string_view text,
                                         const std::function<std::optional<HelpPoint>(size_t, size_t)>& markCharacters);
  // The position of the first occurrence of needle in text, in UTF-16 code units; nullopt when
  // there is none (or needle is empty).
  static std::optional<size_t> utf16Find(std::string_view text, std::string_view needle);

  // setTrackingSpeedtoZero:: the selected setting's own display sensitivity with tracking
  // speed 0, applied to its device through the controller; then clears all buttons and moves
  // focus to the sensitivity field.
  void setTrackingSpeedtoZero();
  void moveFocusToSensitivity();
  void moveFocusToTrackingSpeed();
  void clearAllButtons();

 private:
  SpeedEditingHost& prefPane_;
  PaneWindow& paneWindow_;
  SpeedHelpWindow& window_;
};
using SpeedHelpView = VL250SpeedHelpViewClass;  // the readable name

}  // namespace vl

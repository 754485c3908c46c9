// VL240FavoriteTableClass: the favourites table's copy and paste of one setting, and the
// pasteboard text it reads and writes ("//<device name>\n{ Sensitivity = ...; Acceleration = ...; }\n").
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "pane/editing/editing_host.h"

namespace vl {

class Pasteboard;

// Ranges a pasted value must lie in to be taken (display sensitivity and tracking speed).
inline constexpr double kPasteSensitivityMin = 5;
inline constexpr double kPasteSensitivityMax = 1990;
inline constexpr double kPasteTrackingMin = 0;
inline constexpr double kPasteTrackingMax = 20;
// A copied setting is a few dozen bytes; longer pasteboard texts are not parsed at all.
inline constexpr size_t kMaxPastedTextBytes = 64 * 1024;

// What a pasteboard text yields: the display sensitivity and the tracking speed as texts,
// each nullopt when absent, not a number or out of range.
struct PastedSpeed {
  std::optional<std::string> sensitivity;
  std::optional<std::string> tracking;
  bool complete() const { return sensitivity && tracking; }
};
// Parses text as a property list (the first line is a comment). The sensitivity is the
// "Sensitivity" value, else the "Speed" value; the tracking speed is "Acceleration". Each is
// taken when it reads as a number within its range; the text kept is that number written as
// the store writes it ("%g", locale-independent), so no trailing junk reaches the store.
PastedSpeed readSpeedFromPasteboardText(std::string_view text);
// "//%@\n%@\n": the comment line with the device name (line breaks in it become spaces, so the
// text stays readable), then the old-style property list of the two values.
std::string speedPasteboardText(const std::string& deviceName, const std::string& sensitivityDisplay,
                                const std::string& trackingSpeed);

enum class MenuAction { Copy, Paste, Other };

class VL240FavoriteTableClass {
 public:
  // cursorSpeedList: the pane controller owning the list the table shows; pasteboard may be
  // null (no copy or paste then). Both must outlive this.
  VL240FavoriteTableClass(SpeedEditingHost& cursorSpeedList, Pasteboard* pasteboard);

  // validateMenuItem:: nothing is enabled unless exactly one row is selected; Copy needs
  // acceleration on, Paste an unlocked setting and both values on the pasteboard.
  bool validateMenuItem(MenuAction action) const;
  // copy:: puts the selected setting on the pasteboard; false (pasteboard untouched) when
  // copying is not enabled.
  bool copy();
  // paste:: gives the selected setting the pasted values where they differ and turns
  // acceleration back on; false when pasting is not enabled.
  bool paste();
  // readFromPasteBoardSensitivity:tracking: on the general pasteboard.
  void readFromPasteBoardSensitivity(std::optional<std::string>* sensitivity, std::optional<std::string>* tracking) const;

  // tableView:willDisplayCell:forTableColumn:row:: true when the cell is drawn with the
  // alternate selected-control text colour (the "label" cell of the selected row while the
  // table is first responder of the key window).
  static bool tableView(std::string_view column, bool rowSelected, bool tableIsFirstResponderOfKeyWindow);

 private:
  QS805CursorSpeedClass* singleSelection() const;

  SpeedEditingHost& cursorSpeedList_;
  Pasteboard* pasteboard_;
};
using FavouriteTable = VL240FavoriteTableClass;  // the readable name

}  // namespace vl

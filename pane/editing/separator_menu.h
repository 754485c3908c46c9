// VL232SeparatorMenuClass: the rules of the pop-up menus of applications and devices: "-" is a
// separator, "-text" a disabled item, anything else an item with the application's icon or the
// device's status image at that index.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace vl {

class QS802DeviceClass;
class QS803AppClass;

// Size in points application icons are shown at in these menus.
inline constexpr double kMenuIconSize = 18;

struct SeparatorMenuItem {
  enum class Kind { Separator, Disabled, Normal };
  Kind kind = Kind::Normal;
  std::string title;
  // The item's image for the widget to load: an icon file path or a platform image name
  // ("NSImageNameStatusAvailable", ...); empty for none.
  std::string image;
  double imageSize = 0;  // points; 0 keeps the image's own size
  bool operator==(const SeparatorMenuItem&) const = default;
};

class VL232SeparatorMenuClass {
 public:
  // The lists whose entries give the items their images (either may be null); when both are
  // set, appList wins. They must outlive their use here.
  const std::vector<QS803AppClass*>* appList = nullptr;
  const std::vector<QS802DeviceClass*>* deviceList = nullptr;

  // insertItemWithTitle:action:keyEquivalent:atIndex:: inserts the item at index (clamped to
  // the end) and returns it.
  const SeparatorMenuItem& insertItemWithTitle(const std::string& title, size_t index);
  // The rule alone.
  SeparatorMenuItem itemForTitle(const std::string& title, size_t index) const;

  const std::vector<SeparatorMenuItem>& items() const { return items_; }
  void removeAllItems() { items_.clear(); }

 private:
  std::vector<SeparatorMenuItem> items_;
};

}  // namespace vl

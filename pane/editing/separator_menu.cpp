// Pop-up menus of applications and devices: separators, disabled headings, items with images.
#include "pane/editing/separator_menu.h"

#include <algorithm>

#include "core/store/app_record.h"
#include "core/store/device_record.h"

namespace vl {

SeparatorMenuItem VL232SeparatorMenuClass::itemForTitle(const std::string& title, size_t index) const {
  SeparatorMenuItem item;
  if (title == "-") {
    item.kind = SeparatorMenuItem::Kind::Separator;
    return item;
  }
  if (!title.empty() && title.front() == '-') {
    item.kind = SeparatorMenuItem::Kind::Disabled;
    item.title = title.substr(1);
    return item;
  }
  item.title = title;
  if (appList) {
    // Items beyond the list (added by hand after it) get no image.
    if (index < appList->size() && (*appList)[index]) {
      item.image = (*appList)[index]->icon();
      item.imageSize = kMenuIconSize;
    }
  } else if (deviceList) {
    if (index < deviceList->size() && (*deviceList)[index]) item.image = (*deviceList)[index]->VL702statusIcon();
  }
  return item;
}

const SeparatorMenuItem& VL232SeparatorMenuClass::insertItemWithTitle(const std::string& title, size_t index) {
  index = std::min(index, items_.size());
  return *items_.insert(items_.begin() + static_cast<std::ptrdiff_t>(index), itemForTitle(title, index));
}

}  // namespace vl

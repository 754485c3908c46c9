// QtPasteboard: the general pasteboard as the desktop's clipboard.
#pragma once

#include "platform/api/pasteboard.h"

namespace vl::ui {

class QtPasteboard : public Pasteboard {
 public:
  std::optional<std::string> string() const override;
  void setString(const std::string& text) override;
};

}  // namespace vl::ui

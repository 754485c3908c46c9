// QS809UserInfoClass: the one per-user record: the devices selected in the two products' panes.
#pragma once

#include <optional>
#include <string>

#include "core/store/managed_object.h"
#include "core/store/record_names.h"

namespace vl {

class QS809UserInfoClass : public ManagedObject {
 public:
  QS809UserInfoClass() = default;

  const pl::Value& expansionData() const { return value(attr::userInfo::expansionData); }
  std::optional<std::string> dvDeviceSelectedIndex() const;
  std::optional<std::string> vlDeviceSelectedIndex() const;
  void setDvDeviceSelectedIndex(const std::optional<std::string>& v);
  void setVlDeviceSelectedIndex(const std::optional<std::string>& v);
};

}  // namespace vl

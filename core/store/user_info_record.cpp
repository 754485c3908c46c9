// QS809UserInfoClass accessors.
#include "core/store/user_info_record.h"

namespace vl {

std::optional<std::string> QS809UserInfoClass::dvDeviceSelectedIndex() const {
  if (const std::string* s = value(attr::userInfo::dvDeviceSelectedIndex).asString()) return *s;
  return std::nullopt;
}

std::optional<std::string> QS809UserInfoClass::vlDeviceSelectedIndex() const {
  if (const std::string* s = value(attr::userInfo::vlDeviceSelectedIndex).asString()) return *s;
  return std::nullopt;
}

void QS809UserInfoClass::setDvDeviceSelectedIndex(const std::optional<std::string>& v) {
  setValue(attr::userInfo::dvDeviceSelectedIndex, v ? pl::Value(*v) : pl::Value());
}

void QS809UserInfoClass::setVlDeviceSelectedIndex(const std::optional<std::string>& v) {
  setValue(attr::userInfo::vlDeviceSelectedIndex, v ? pl::Value(*v) : pl::Value());
}

}  // namespace vl

// The five record classes by their readable names, for code that needs only to name them.
#pragma once

namespace vl {

class QS802DeviceClass;
class QS803AppClass;
class QS804ActionClass;
class QS805CursorSpeedClass;
class QS809UserInfoClass;

using DeviceRecord = QS802DeviceClass;
using AppRecord = QS803AppClass;
using ActionRecord = QS804ActionClass;
using CursorSpeedRecord = QS805CursorSpeedClass;
using UserInfoRecord = QS809UserInfoClass;

}  // namespace vl

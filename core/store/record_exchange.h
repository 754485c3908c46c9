// Conversions between store records and the dictionaries of settings exchange files, and the
// writers that take records.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/plist/value.h"
#include "core/store/record_names.h"

namespace vl {

// devDic of each device in the given order; empty dictionaries left out.
pl::Array QS813devDicsFromDevices(const std::vector<QS802DeviceClass*>& devices);
// appDic of each record, default first, then by name and matching key; empty ones left out.
pl::Array QS813appDicsFromApplications(const std::vector<QS803AppClass*>& applications);
// csDic of each favourite by ascending index; empty ones left out.
pl::Array QS813csDicsFromCursorSpeeds(const std::vector<QS805CursorSpeedClass*>& cursorSpeeds);
// actDic of each action by button, scrollIX, modkeys; purgeable and empty ones left out.
pl::Array QS813actDicsFromActions(const std::vector<QS804ActionClass*>& actions);

std::optional<pl::Data> QS813devSettingDataWithDevices(const std::string& creator, const pl::Value& version,
                                                       const std::vector<QS802DeviceClass*>& devices);
std::optional<pl::Data> QS813appSettingDataWithApplications(const std::string& creator, const pl::Value& version,
                                                            const std::vector<QS803AppClass*>& applications);

}  // namespace vl

// Exchange files written straight from store records (the cipher lives here, apart from the
// dictionary forms, so that programs that never write a file do not load it).
#include "core/devices/exchange_file.h"
#include "core/store/record_exchange.h"
#include "core/store/records.h"

namespace vl {

std::optional<pl::Data> QS813devSettingDataWithDevices(const std::string& creator, const pl::Value& version,
                                                       const std::vector<QS802DeviceClass*>& devices) {
  return QS813devSettingDataWithDevDics(creator, version, QS813devDicsFromDevices(devices));
}

std::optional<pl::Data> QS813appSettingDataWithApplications(const std::string& creator, const pl::Value& version,
                                                            const std::vector<QS803AppClass*>& applications) {
  return QS813appSettingDataWithAppDics(creator, version, QS813appDicsFromApplications(applications));
}

}  // namespace vl

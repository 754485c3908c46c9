// Record-to-dictionary conversions for exchange files.
#include "core/store/record_exchange.h"

#include <algorithm>

#include "core/devices/exchange_file.h"
#include "core/store/records.h"

namespace vl {

pl::Array QS813devDicsFromDevices(const std::vector<QS802DeviceClass*>& devices) {
  pl::Array out;
  for (QS802DeviceClass* d : devices) {
    if (!d) continue;
    pl::Dict dic = d->devDic();
    if (!dic.empty()) out.emplace_back(std::move(dic));
  }
  return out;
}

pl::Array QS813appDicsFromApplications(const std::vector<QS803AppClass*>& applications) {
  pl::Array out;
  for (QS803AppClass* a : applications) {
    if (!a) continue;
    pl::Dict dic = a->appDic();
    if (!dic.empty()) out.emplace_back(std::move(dic));
  }
  sortAppDics(out);
  return out;
}

pl::Array QS813csDicsFromCursorSpeeds(const std::vector<QS805CursorSpeedClass*>& cursorSpeeds) {
  std::vector<QS805CursorSpeedClass*> sorted;
  for (QS805CursorSpeedClass* c : cursorSpeeds)
    if (c) sorted.push_back(c);
  std::stable_sort(sorted.begin(), sorted.end(),
                   [](QS805CursorSpeedClass* a, QS805CursorSpeedClass* b) { return a->index() < b->index(); });
  pl::Array out;
  for (QS805CursorSpeedClass* c : sorted) {
    pl::Dict dic = c->csDic();
    if (!dic.empty()) out.emplace_back(std::move(dic));
  }
  return out;
}

pl::Array QS813actDicsFromActions(const std::vector<QS804ActionClass*>& actions) {
  std::vector<QS804ActionClass*> sorted;
  for (QS804ActionClass* a : actions)
    if (a && !a->isPurgeable()) sorted.push_back(a);
  std::stable_sort(sorted.begin(), sorted.end(), QS804ActionClass::orderLess);
  pl::Array out;
  for (QS804ActionClass* a : sorted) {
    pl::Dict dic = a->actDic();
    if (!dic.empty()) out.emplace_back(std::move(dic));
  }
  return out;
}

}  // namespace vl

// Strings-table lookup with a per-file cache.
#include "core/system/strings.h"

#include <map>
#include <mutex>
#include <optional>

#include "core/plist/codec.h"
#include "platform/api/paths.h"
#include "platform/api/platform.h"
#include "platform/api/system_info.h"

namespace vl {

namespace {
std::mutex gMutex;
std::map<std::string, std::optional<pl::Value>> gTables;  // by file path

const pl::Value* table(const std::string& path) {
  auto it = gTables.find(path);
  if (it == gTables.end()) {
    auto r = pl::readFile(path);
    std::optional<pl::Value> v;
    if (r && r.value->isDict()) v = std::move(r.value);
    it = gTables.emplace(path, std::move(v)).first;
  }
  return it->second ? &*it->second : nullptr;
}
}  // namespace

std::string localized(const Platform& p, const std::string& key, const std::string& tableName) {
  return localized(p.paths, p.system, key, tableName);
}

std::string localized(Paths* paths, SystemInfo* system, const std::string& key, const std::string& tableName) {
  if (!paths) return key;
  std::vector<std::string> langs;
  if (system) {
    for (const auto& l : system->preferredLanguages()) {
      langs.push_back(l);
      if (l.size() > 2) langs.push_back(l.substr(0, 2));
    }
  }
  langs.push_back("en");
  std::lock_guard<std::mutex> lock(gMutex);
  for (const auto& l : langs) {
    const pl::Value* t = table(paths->resources() + "/" + l + ".lproj/" + tableName + ".strings");
    if (!t) continue;
    if (auto s = t->stringFor(key)) return *s;
  }
  return key;
}

void resetLocalizedCache() {
  std::lock_guard<std::mutex> lock(gMutex);
  gTables.clear();
}

}  // namespace vl

// The in-memory registry the udev machine keeps: entries, iterations and HID-family matching.
#include "platform/linux/registry_tree.h"

#include <algorithm>

namespace vl::linux_ {

namespace {

bool propertyMatches(const pl::Dict& props, const std::string& key, const pl::Value& want) {
  auto it = props.find(key);
  if (it == props.end()) return false;
  if (it->second == want) return true;
  // Numbers compare by value whatever width they were stored with.
  if (it->second.isNumber() && want.isNumber()) return it->second.longLongValue() == want.longLongValue();
  return false;
}

}  // namespace

RegistryId RegistryTree::add(RegistryId parent, std::vector<std::string> classes, std::string name, pl::Dict props) {
  Entry e;
  e.id = next_++;
  e.classes = std::move(classes);
  e.name = std::move(name);
  e.props = std::move(props);
  e.parent = exists(parent) ? parent : 0;
  if (Entry* p = entry(e.parent)) p->children.push_back(e.id);
  RegistryId id = e.id;
  entries_.emplace(id, std::move(e));
  return id;
}

void RegistryTree::remove(RegistryId id) {
  Entry* e = entry(id);
  if (!e) return;
  auto kids = e->children;
  for (RegistryId k : kids) remove(k);
  if (Entry* p = entry(e->parent)) p->children.erase(std::remove(p->children.begin(), p->children.end(), id), p->children.end());
  entries_.erase(id);
}

const RegistryTree::Entry* RegistryTree::entry(RegistryId id) const {
  auto it = entries_.find(id);
  return it == entries_.end() ? nullptr : &it->second;
}

RegistryTree::Entry* RegistryTree::entry(RegistryId id) {
  auto it = entries_.find(id);
  return it == entries_.end() ? nullptr : &it->second;
}

std::string RegistryTree::className(RegistryId id) const {
  const Entry* e = entry(id);
  return e && !e->classes.empty() ? e->classes.front() : std::string();
}

bool RegistryTree::conformsTo(RegistryId id, std::string_view cls) const {
  const Entry* e = entry(id);
  return e && std::find(e->classes.begin(), e->classes.end(), cls) != e->classes.end();
}

std::string RegistryTree::name(RegistryId id) const {
  const Entry* e = entry(id);
  return e ? e->name : std::string();
}

std::optional<pl::Value> RegistryTree::property(RegistryId id, std::string_view key) const {
  const Entry* e = entry(id);
  if (!e) return std::nullopt;
  if (dynamic_)
    if (auto v = dynamic_(id, key)) return v;
  auto it = e->props.find(key);
  if (it == e->props.end()) return std::nullopt;
  return it->second;
}

pl::Dict RegistryTree::properties(RegistryId id) const {
  const Entry* e = entry(id);
  return e ? e->props : pl::Dict{};
}

IoRegistry::Iteration RegistryTree::parents(RegistryId id, bool recursive) const {
  Iteration it;
  const Entry* e = entry(id);
  while (e && e->parent != 0) {
    it.entries.push_back(e->parent);
    if (!recursive) break;
    e = entry(e->parent);
  }
  return it;
}

void RegistryTree::collect(RegistryId id, std::vector<RegistryId>& out, bool recursive, int depth) const {
  const Entry* e = entry(id);
  if (!e || depth > 64) return;
  for (RegistryId c : e->children) {
    out.push_back(c);
    if (recursive) collect(c, out, true, depth + 1);
  }
}

IoRegistry::Iteration RegistryTree::children(RegistryId id, bool recursive) const {
  Iteration it;
  collect(id, it.entries, recursive, 0);
  return it;
}

bool RegistryTree::usagePairMatches(const pl::Dict& props, const pl::Dict& matching) {
  auto pageIt = matching.find("DeviceUsagePage");
  auto usageIt = matching.find("DeviceUsage");
  if (pageIt == matching.end() && usageIt == matching.end()) return true;
  auto pairs = props.find("DeviceUsagePairs");
  if (pairs == props.end() || !pairs->second.isArray()) {
    bool ok = true;
    if (pageIt != matching.end()) ok = ok && propertyMatches(props, "PrimaryUsagePage", pageIt->second);
    if (usageIt != matching.end()) ok = ok && propertyMatches(props, "PrimaryUsage", usageIt->second);
    return ok;
  }
  for (const auto& p : *pairs->second.asArray()) {
    const pl::Dict* d = p.asDict();
    if (!d) continue;
    bool ok = true;
    if (pageIt != matching.end()) ok = ok && propertyMatches(*d, "DeviceUsagePage", pageIt->second);
    if (usageIt != matching.end()) ok = ok && propertyMatches(*d, "DeviceUsage", usageIt->second);
    if (ok) return true;
  }
  return false;
}

bool RegistryTree::matches(const Entry& e, const pl::Dict& matching) const {
  for (const auto& [key, want] : matching) {
    if (key == kIOProviderClassKey) {
      if (!want.isString() || !conformsTo(e.id, *want.asString())) return false;
    } else if (key == kIORegistryEntryIDKey) {
      if (!want.isNumber() || want.unsignedLongLongValue() != e.id) return false;
    } else if (key == kIONameMatchKey) {
      if (!want.isString() || e.name != *want.asString()) return false;
    } else if (key == kIOPropertyMatchKey) {
      const pl::Dict* d = want.asDict();
      if (!d) return false;
      for (const auto& [k, v] : *d)
        if (!propertyMatches(e.props, k, v)) return false;
    } else if (key == "DeviceUsagePage" || key == "DeviceUsage") {
      continue;  // together below
    } else if (!propertyMatches(e.props, key, want)) {
      return false;
    }
  }
  return usagePairMatches(e.props, matching);
}

IoRegistry::Iteration RegistryTree::matchingServices(const pl::Dict& matching) const {
  Iteration it;
  // An id lookup is the common case (every service resolves its entry this way).
  auto idIt = matching.find(kIORegistryEntryIDKey);
  if (idIt != matching.end() && idIt->second.isNumber()) {
    const Entry* e = entry(idIt->second.unsignedLongLongValue());
    if (e && matches(*e, matching)) it.entries.push_back(e->id);
    return it;
  }
  for (const auto& [id, e] : entries_)
    if (matches(e, matching)) it.entries.push_back(id);
  return it;
}

}  // namespace vl::linux_

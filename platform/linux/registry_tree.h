// RegistryTree: an in-memory I/O registry (entries with class chains, names, properties,
// parents and children) that the udev machine fills from the real device tree, with the
// iteration and matching rules of the HID family.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/plist/value.h"
#include "platform/api/hid.h"

namespace vl::linux_ {

class RegistryTree : public IoRegistry {
 public:
  struct Entry {
    RegistryId id = 0;
    std::vector<std::string> classes;  // most derived first
    std::string name;
    pl::Dict props;
    RegistryId parent = 0;
    std::vector<RegistryId> children;
  };
  // Properties computed when asked (a device's current speed lives with its writer, not here).
  using DynamicProperty = std::function<std::optional<pl::Value>(RegistryId id, std::string_view key)>;

  // Adds an entry under parent (0: a root). Ids are never reused.
  RegistryId add(RegistryId parent, std::vector<std::string> classes, std::string name, pl::Dict props);
  // Removes the entry and everything below it.
  void remove(RegistryId id);
  const Entry* entry(RegistryId id) const;
  Entry* entry(RegistryId id);
  size_t size() const { return entries_.size(); }
  void setDynamicProperty(DynamicProperty fn) { dynamic_ = std::move(fn); }

  bool exists(RegistryId id) const override { return entries_.count(id) != 0; }
  std::string className(RegistryId id) const override;
  bool conformsTo(RegistryId id, std::string_view cls) const override;
  std::string name(RegistryId id) const override;
  std::optional<pl::Value> property(RegistryId id, std::string_view key) const override;
  pl::Dict properties(RegistryId id) const override;
  Iteration parents(RegistryId id, bool recursive) const override;
  Iteration children(RegistryId id, bool recursive) const override;
  Iteration matchingServices(const pl::Dict& matching) const override;

  // Whether the entry's usage pairs (or, without pairs, its primary usage) satisfy the
  // "DeviceUsagePage"/"DeviceUsage" keys of a matching dictionary.
  static bool usagePairMatches(const pl::Dict& props, const pl::Dict& matching);

 private:
  bool matches(const Entry& e, const pl::Dict& matching) const;
  void collect(RegistryId id, std::vector<RegistryId>& out, bool recursive, int depth) const;
  std::map<RegistryId, Entry> entries_;
  RegistryId next_ = 0x100000100;  // far from 0, so a stray small number never names an entry
  DynamicProperty dynamic_;
};

}  // namespace vl::linux_

// The simulated Mac's IoRegistry port: entries, properties, iterations and matching.
#include "platform/sim/sim_mac_impl.h"

namespace vl::sim::mac_detail {

namespace {

class SimRegistry : public IoRegistry {
 public:
  explicit SimRegistry(SimMac::Impl& m) : m_(m) {}
  bool exists(RegistryId id) const override { return m_.node(id) != nullptr; }
  std::string className(RegistryId id) const override {
    auto n = m_.node(id);
    return n ? n->classes.front() : std::string();
  }
  bool conformsTo(RegistryId id, std::string_view cls) const override {
    auto n = m_.node(id);
    return n && m_.conforms(*n, cls);
  }
  std::string name(RegistryId id) const override {
    auto n = m_.node(id);
    return n ? n->name : std::string();
  }
  std::optional<pl::Value> property(RegistryId id, std::string_view key) const override {
    auto n = m_.node(id);
    if (!n) return std::nullopt;
    auto it = n->props.find(key);
    if (it == n->props.end()) return std::nullopt;
    return it->second;
  }
  pl::Dict properties(RegistryId id) const override {
    auto n = m_.node(id);
    return n ? n->props : pl::Dict{};
  }
  Iteration parents(RegistryId id, bool recursive) const override {
    Iteration it;
    if (m_.iteratorsFail) {
      it.status = kIOReturnNoMemory;
      return it;
    }
    const Node* n = m_.node(id);
    while (n && n->parent != 0) {
      it.entries.push_back(n->parent);
      if (!recursive) break;
      n = m_.node(n->parent);
    }
    return it;
  }
  Iteration children(RegistryId id, bool recursive) const override {
    Iteration it;
    if (m_.iteratorsFail) {
      it.status = kIOReturnNoMemory;
      return it;
    }
    m_.collectDescendants(id, it.entries, recursive);
    return it;
  }
  Iteration matchingServices(const pl::Dict& matching) const override {
    Iteration it;
    for (const auto& [id, n] : m_.nodes)
      if (m_.matches(n, matching)) it.entries.push_back(id);
    return it;
  }

 private:
  SimMac::Impl& m_;
};

}  // namespace

std::unique_ptr<IoRegistry> makeRegistry(SimMac::Impl& m) { return std::make_unique<SimRegistry>(m); }

}  // namespace vl::sim::mac_detail

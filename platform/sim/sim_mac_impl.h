// The simulated Mac's model (registry nodes, receivers, event-system clients, session, defaults,
// system facts) and the makers of its ports; seen only by the simulated Mac's own files.
#pragma once

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/api/input_sources.h"
#include "platform/sim/sim_desktop.h"
#include "platform/sim/sim_file_manager.h"
#include "platform/sim/sim_mac.h"

namespace vl::sim {

namespace mac_detail {

struct Node {
  RegistryId id = 0;
  std::vector<std::string> classes;
  std::string name;
  pl::Dict props;
  RegistryId parent = 0;
  std::vector<RegistryId> children;
  bool eventService = false;
  RegistryId top = 0;
};

struct Receiver {
  std::vector<ReceiverSlot> slots;
  ReceiverBehaviour behaviour;
};

class SimQueue;
class SimClient;
class SimInputDevice;

}  // namespace mac_detail

struct SimMac::Impl {
  using Node = mac_detail::Node;
  using Receiver = mac_detail::Receiver;
  using SimClient = mac_detail::SimClient;
  using SimQueue = mac_detail::SimQueue;

  explicit Impl(RunLoop* rl) : runLoop(rl) {}

  RunLoop* runLoop;
  std::map<RegistryId, Node> nodes;
  RegistryId nextId = 0x100000500;
  RegistryId root = 0;
  std::vector<RegistryId> tops;
  std::map<RegistryId, std::string> profiles;
  std::map<RegistryId, Receiver> receivers;  // by top entry
  std::map<RegistryId, ServiceRef> services;
  std::vector<SimClient*> clients;
  std::vector<SimQueue*> queues;
  std::map<std::string, bool> refusedKeys;
  bool iteratorsFail = false;
  bool clientCreationFails = false;
  bool accelerationReadsFail = false;
  bool listenAccess = true;
  bool hidManagerCreationFails = false;
  bool hidManagerOpenFails = false;
  std::map<std::string, double> systemAccel;
  std::string processName = "velmora-test";
  OsVersion os{13, 6, 1};
  std::vector<std::string> languages{"en-US"};
  std::string hwModel = "MacBookPro12,1";
  std::string marketing = "MacBook Pro (Retina, 13-inch, Early 2015)";
  std::map<std::string, std::string> kernelExtensions;  // bundle identifier -> path
  std::map<int16_t, uint32_t> keyboardLayouts;          // handler id -> layout type
  std::string machine = "x86_64";
  std::map<std::string, std::string> codeSigners;  // bundle path -> signer
  std::map<std::string, std::pair<int, pl::Data>> httpAnswers;
  std::map<std::string, HttpError> httpErrors;
  double httpDelay = 0.0;  // virtual seconds before a started request's answer
  std::vector<std::string> httpLog;
  std::map<std::string, pl::Dict> defaults;
  static constexpr size_t kMaxWrites = 20000;
  std::vector<PropertyWrite> writes;
  std::function<void(const PropertyWrite&)> writeObserver;
  SessionState sessionState;
  std::map<uint64_t, std::function<void(SessionEvent)>> sessionObservers;
  std::vector<Rect> screenFrames{{0, 0, 1440, 900}};
  std::map<uint64_t, std::function<void()>> screenObservers;
  std::map<uint64_t, std::pair<std::string, Notifications::Handler>> notificationObservers;
  std::vector<SimMac::Posted> posted;
  uint64_t nextToken = 1;
  std::unique_ptr<Session> sessionPort;
  std::unique_ptr<Notifications> notificationsPort;
  std::unique_ptr<Screens> screensPort;
  std::unique_ptr<SimDesktop> desktop;
  SimFileManager fileManager;

  void fireSession(SessionEvent e) {
    for (const auto& [t, fn] : sessionObservers) {
      auto f = fn;
      deliver([f, e] { f(e); });
    }
  }

  std::unique_ptr<IoRegistry> registryPort;
  std::unique_ptr<HidEventSystem> eventSystemPort;
  std::unique_ptr<HidDevices> devicesPort;
  std::unique_ptr<SystemInfo> systemPort;
  std::unique_ptr<UserDefaults> defaultsPort;
  std::unique_ptr<HttpClient> httpPort;
  std::unique_ptr<HidManagers> hidManagersPort;
  std::unique_ptr<EventMonitors> eventMonitorsPort;

  // Live input: the HID-manager devices handed out (they register themselves) and the
  // mouse-moved monitors, local (this process gets the events) or global (another one does).
  std::vector<mac_detail::SimInputDevice*> inputDevices;
  struct MouseMonitor {
    bool local = false;
    EventMonitors::Handler handler;
  };
  std::map<uint64_t, MouseMonitor> mouseMonitors;
  bool receivesMouseEvents = false;

  double now() const { return runLoop ? runLoop->now() : 0.0; }

  void deliver(std::function<void()> fn) {
    if (runLoop) runLoop->post(std::move(fn));
    else fn();
  }

  const Node* node(RegistryId id) const {
    auto it = nodes.find(id);
    return it == nodes.end() ? nullptr : &it->second;
  }
  Node* node(RegistryId id) {
    auto it = nodes.find(id);
    return it == nodes.end() ? nullptr : &it->second;
  }

  bool conforms(const Node& n, std::string_view cls) const {
    return std::find(n.classes.begin(), n.classes.end(), cls) != n.classes.end();
  }

  void collectDescendants(RegistryId id, std::vector<RegistryId>& out, bool recursive, int depth = 0) const {
    const Node* n = node(id);
    if (!n || depth > 256) return;
    for (RegistryId c : n->children) {
      out.push_back(c);
      if (recursive) collectDescendants(c, out, true, depth + 1);
    }
  }

  // Does a property match the value asked for, as the HID family's matching compares them?
  bool propertyMatches(const Node& n, const std::string& key, const pl::Value& want) const {
    auto it = n.props.find(key);
    if (it != n.props.end() && it->second == want) return true;
    // A location stored negative (as read) equals the unsigned value asked for.
    if (it != n.props.end() && it->second.isNumber() && want.isNumber() &&
        it->second.unsignedIntValue() == want.unsignedIntValue() && (key == "LocationID" || key == "locationID"))
      return true;
    return false;
  }

  bool usagePairMatches(const Node& n, const pl::Dict& matching) const {
    auto pageIt = matching.find("DeviceUsagePage");
    auto usageIt = matching.find("DeviceUsage");
    if (pageIt == matching.end() && usageIt == matching.end()) return true;
    auto pairs = n.props.find("DeviceUsagePairs");
    if (pairs == n.props.end() || !pairs->second.isArray()) {
      // Entries without pairs match on their primary usage.
      bool ok = true;
      if (pageIt != matching.end()) ok = ok && propertyMatches(n, "PrimaryUsagePage", pageIt->second);
      if (usageIt != matching.end()) ok = ok && propertyMatches(n, "PrimaryUsage", usageIt->second);
      return ok;
    }
    for (const auto& p : *pairs->second.asArray()) {
      bool ok = true;
      if (pageIt != matching.end()) {
        auto v = p.find("DeviceUsagePage");
        ok = ok && v && *v == pageIt->second;
      }
      if (usageIt != matching.end()) {
        auto v = p.find("DeviceUsage");
        ok = ok && v && *v == usageIt->second;
      }
      if (ok) return true;
    }
    return false;
  }

  bool matches(const Node& n, const pl::Dict& matching) const {
    for (const auto& [key, want] : matching) {
      if (key == kIOProviderClassKey) {
        if (!want.isString() || !conforms(n, *want.asString())) return false;
      } else if (key == kIORegistryEntryIDKey) {
        if (want.unsignedLongLongValue() != n.id) return false;
      } else if (key == kIONameMatchKey) {
        if (!want.isString() || n.name != *want.asString()) return false;
      } else if (key == kIOPropertyMatchKey) {
        const pl::Dict* d = want.asDict();
        if (!d) return false;
        for (const auto& [k, v] : *d)
          if (!propertyMatches(n, k, v)) return false;
      } else if (key == "DeviceUsagePage" || key == "DeviceUsage") {
        continue;  // checked together below
      } else if (!propertyMatches(n, key, want)) {
        return false;
      }
    }
    return usagePairMatches(n, matching);
  }

  // Whether an event-system client with these matching dictionaries gets this service.
  bool clientMatches(const pl::Array& matching, const Node& n) const {
    if (!n.eventService) return false;
    for (const auto& m : matching) {
      const pl::Dict* d = m.asDict();
      if (!d) continue;
      auto page = m.integerFor("DeviceUsagePage");
      auto usage = m.integerFor("DeviceUsage");
      // Every event-service entry is one the system hands to a pointer or mouse client.
      if (page == 1 && (usage == 1 || usage == 2)) return true;
      if (usagePairMatches(n, *d)) return true;
    }
    return false;
  }

  // The entry and its children under parent; the id of the entry, or why the tree is malformed.
  Result<RegistryId> addNode(const pl::Value& entry, RegistryId parent, RegistryId top, int depth) {
    if (depth > 64) return Status::failure(1, "registry tree nested too deeply");
    const pl::Array* classes = entry.arrayFor("classes");
    auto name = entry.stringFor("name");
    const pl::Dict* props = entry.dictFor("properties");
    const pl::Array* children = entry.arrayFor("children");
    if (!classes || classes->empty() || !name || !props || !children)
      return Status::failure(1, "entry needs classes, name, properties and children");
    Node n;
    n.id = nextId++;
    for (const auto& c : *classes) {
      if (!c.isString()) return Status::failure(1, "class names must be strings");
      n.classes.push_back(*c.asString());
    }
    n.name = *name;
    n.props = *props;
    n.parent = parent;
    n.top = top == 0 ? n.id : top;
    n.eventService = entry.boolFor("eventService").value_or(false);
    RegistryId id = n.id;
    RegistryId topId = n.top;
    nodes.emplace(id, std::move(n));
    if (Node* p = node(parent)) p->children.push_back(id);
    for (const auto& c : *children) {
      if (auto child = addNode(c, id, topId, depth + 1); !child) return child;
    }
    return id;
  }

  void removeSubtree(RegistryId id) {
    Node* n = node(id);
    if (!n) return;
    auto kids = n->children;
    for (RegistryId c : kids) removeSubtree(c);
    if (Node* p = node(n->parent)) p->children.erase(std::remove(p->children.begin(), p->children.end(), id), p->children.end());
    nodes.erase(id);
  }

  void recordWrite(RegistryId service, std::string_view key, const pl::Value& v, bool accepted) {
    // A long-running program keeps only the recent history; the shared world keeps its own.
    if (writes.size() >= kMaxWrites) writes.erase(writes.begin(), writes.begin() + kMaxWrites / 2);
    writes.push_back(PropertyWrite{now(), service, std::string(key), v, processName, accepted});
    if (writeObserver) writeObserver(writes.back());
  }

  void answerReceiver(RegistryId deviceEntry, uint32_t reportID, const pl::Data& bytes);
  void enqueue(RegistryId deviceEntry, uint32_t reportID, pl::Data value);
};

namespace mac_detail {

// The machine's ports, each in its own file.
std::unique_ptr<IoRegistry> makeRegistry(SimMac::Impl& m);
std::unique_ptr<HidEventSystem> makeEventSystem(SimMac::Impl& m);
std::unique_ptr<HidDevices> makeHidDevices(SimMac::Impl& m);
std::unique_ptr<SystemInfo> makeSystemInfo(SimMac::Impl& m);
std::unique_ptr<UserDefaults> makeUserDefaults(SimMac::Impl& m);
std::unique_ptr<HttpClient> makeHttp(SimMac::Impl& m);
std::unique_ptr<HidManagers> makeHidManagers(SimMac::Impl& m);
std::unique_ptr<EventMonitors> makeEventMonitors(SimMac::Impl& m);
// Hands one input report of a HID device entry to the devices that listen; returns how many.
size_t deliverInputReport(SimMac::Impl& m, RegistryId hidDevice, const std::vector<HidInputValue>& values);
std::unique_ptr<Session> makeSession(SimMac::Impl& m);
std::unique_ptr<Notifications> makeNotifications(SimMac::Impl& m);
std::unique_ptr<Screens> makeScreens(SimMac::Impl& m);

}  // namespace mac_detail

}  // namespace vl::sim

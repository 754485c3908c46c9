// SimMac: the simulated Mac's registry, event system, HID devices, receiver, system facts,
// user defaults and web stub.
#include "platform/sim/sim_mac.h"

#include <algorithm>
#include <deque>

#include "core/plist/codec.h"
#include "platform/sim/sim_desktop.h"

namespace vl::sim {

namespace {

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

// Flattens an element tree ("Elements" children of collections).
void flattenElements(const pl::Array& in, std::vector<pl::Dict>& out, int depth = 0) {
  if (depth > 32) return;
  for (const auto& e : in) {
    const pl::Dict* d = e.asDict();
    if (!d) continue;
    pl::Dict copy = *d;
    copy.erase("Elements");
    out.push_back(std::move(copy));
    if (auto kids = e.arrayFor("Elements")) flattenElements(*kids, out, depth + 1);
  }
}

}  // namespace

struct SimMac::Impl {
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
  std::map<std::string, double> systemAccel;
  std::string processName = "velmora-test";
  OsVersion os{13, 6, 1};
  std::vector<std::string> languages{"en-US"};
  std::string hwModel = "MacBookPro12,1";
  std::string marketing = "MacBook Pro (Retina, 13-inch, Early 2015)";
  std::map<std::string, std::pair<int, pl::Data>> httpAnswers;
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

  RegistryId addNode(const pl::Value& entry, RegistryId parent, RegistryId top, std::string* error, int depth) {
    if (depth > 64) {
      *error = "registry tree nested too deeply";
      return 0;
    }
    const pl::Array* classes = entry.arrayFor("classes");
    auto name = entry.stringFor("name");
    const pl::Dict* props = entry.dictFor("properties");
    const pl::Array* children = entry.arrayFor("children");
    if (!classes || classes->empty() || !name || !props || !children) {
      *error = "entry needs classes, name, properties and children";
      return 0;
    }
    Node n;
    n.id = nextId++;
    for (const auto& c : *classes) {
      if (!c.isString()) {
        *error = "class names must be strings";
        return 0;
      }
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
      if (addNode(c, id, topId, error, depth + 1) == 0) return 0;
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

namespace {

// --- Registry ----------------------------------------------------------------------------------

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

// --- Event system ------------------------------------------------------------------------------

class SimService : public HidServiceClient {
 public:
  SimService(SimMac::Impl& m, RegistryId id) : m_(m), id_(id) {}
  RegistryId registryID() const override { return id_; }
  std::optional<pl::Value> property(std::string_view key) const override {
    auto n = m_.node(id_);
    if (!n) return std::nullopt;
    auto it = n->props.find(key);
    if (it == n->props.end()) return std::nullopt;
    return it->second;
  }
  bool setProperty(std::string_view key, const pl::Value& value) override {
    Node* n = m_.node(id_);
    bool refused = !n || m_.refusedKeys[std::string(key)];
    m_.recordWrite(id_, key, value, !refused);
    if (refused) return false;
    n->props[std::string(key)] = value;
    return true;
  }

 private:
  SimMac::Impl& m_;
  RegistryId id_;
};

class SimClient : public HidEventSystemClient {
 public:
  explicit SimClient(SimMac::Impl& m) : m_(m) { m_.clients.push_back(this); }
  ~SimClient() override { m_.clients.erase(std::remove(m_.clients.begin(), m_.clients.end(), this), m_.clients.end()); }

  void setMatchingMultiple(const pl::Array& matching) override { matching_ = matching; }
  void scheduleWithRunLoop() override { scheduled_ = true; }
  void unscheduleFromRunLoop() override { scheduled_ = false; }
  void registerDeviceMatchingCallback(ServiceCallback cb) override { matchingCb_ = std::move(cb); }
  std::vector<ServiceRef> copyServices() override {
    std::vector<ServiceRef> out;
    for (const auto& [id, n] : m_.nodes)
      if (m_.clientMatches(matching_, n)) out.push_back(serviceFor(id));
    return out;
  }
  void registerRemovalCallback(const ServiceRef& service, ServiceCallback cb) override {
    if (service) removalCbs_[service->registryID()] = std::move(cb);
  }
  void registerPropertyChangedCallback(const std::string& key, PropertyCallback cb) override {
    if (cb) propertyCbs_[key] = std::move(cb);
    else propertyCbs_.erase(key);
  }

  void arrived(RegistryId id) {
    const Node* n = m_.node(id);
    if (!scheduled_ || !matchingCb_ || !n || !m_.clientMatches(matching_, *n)) return;
    ServiceRef s = serviceFor(id);
    // The callback is looked up when the event is delivered: a client unscheduled in
    // between gets nothing, as on the platform.
    m_.deliver([this, s, alive = alive_] {
      if (*alive && scheduled_ && matchingCb_) matchingCb_(s);
    });
  }
  void removed(RegistryId id, const ServiceRef& s) {
    auto it = removalCbs_.find(id);
    if (it == removalCbs_.end() || !scheduled_) return;
    ServiceCallback cb = it->second;
    removalCbs_.erase(it);
    m_.deliver([cb, s, alive = alive_] {
      if (*alive) cb(s);
    });
  }
  void propertyChanged(const std::string& key, const pl::Value& v) {
    auto it = propertyCbs_.find(key);
    if (it == propertyCbs_.end() || !scheduled_) return;
    PropertyCallback cb = it->second;
    m_.deliver([cb, key, v, alive = alive_] {
      if (*alive) cb(key, v);
    });
  }
  void invalidate() { *alive_ = false; }

 private:
  ServiceRef serviceFor(RegistryId id) {
    auto& s = m_.services[id];
    if (!s) s = std::make_shared<SimService>(m_, id);
    return s;
  }
  SimMac::Impl& m_;
  pl::Array matching_;
  bool scheduled_ = false;
  ServiceCallback matchingCb_;
  std::map<RegistryId, ServiceCallback> removalCbs_;
  std::map<std::string, PropertyCallback> propertyCbs_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

// Deferred deliveries hold a flag that dies with the client.
class SafeClient : public SimClient {
 public:
  using SimClient::SimClient;
  ~SafeClient() override { invalidate(); }
};

class SimEventSystem : public HidEventSystem {
 public:
  explicit SimEventSystem(SimMac::Impl& m) : m_(m) {}
  std::unique_ptr<HidEventSystemClient> createClient() override {
    if (m_.clientCreationFails) return nullptr;
    return std::make_unique<SafeClient>(m_);
  }
  uint32_t openEventStatus() override { return 0x1403; }
  int32_t getAccelerationWithKey(uint32_t connection, const std::string& key, double* value) override {
    if (m_.accelerationReadsFail || connection == 0) return kIOReturnError;
    auto it = m_.systemAccel.find(key);
    if (it == m_.systemAccel.end()) return kIOReturnNotFound;
    *value = it->second;
    return kIOReturnSuccess;
  }

 private:
  SimMac::Impl& m_;
};

// --- HID devices -------------------------------------------------------------------------------

class SimQueue : public HidQueue {
 public:
  SimQueue(SimMac::Impl& m, RegistryId device, size_t depth, std::vector<pl::Dict> elements)
      : m_(m), device_(device), depth_(depth), elements_(std::move(elements)) {
    m_.queues.push_back(this);
  }
  ~SimQueue() override { m_.queues.erase(std::remove(m_.queues.begin(), m_.queues.end(), this), m_.queues.end()); }
  void addElement(uint32_t cookie) override { cookies_.push_back(cookie); }
  void start() override { started_ = true; }
  void stop() override { started_ = false; }
  std::optional<pl::Data> copyNextValue() override {
    if (values_.empty()) return std::nullopt;
    pl::Data v = std::move(values_.front());
    values_.pop_front();
    return v;
  }
  void offer(RegistryId device, uint32_t reportID, const pl::Data& value) {
    if (!started_ || device != device_) return;
    for (uint32_t c : cookies_) {
      for (const auto& e : elements_) {
        pl::Value ev(e);
        if (ev.integerFor("ElementCookie") == static_cast<int64_t>(c) &&
            ev.integerFor("ReportID") == static_cast<int64_t>(reportID) && ev.integerFor("Type") == 2) {
          if (values_.size() < depth_) values_.push_back(value);
          return;
        }
      }
    }
  }

 private:
  SimMac::Impl& m_;
  RegistryId device_;
  size_t depth_;
  std::vector<pl::Dict> elements_;
  std::vector<uint32_t> cookies_;
  std::deque<pl::Data> values_;
  bool started_ = false;
};

class SimHidDevice : public HidDevice {
 public:
  SimHidDevice(SimMac::Impl& m, RegistryId id) : m_(m), id_(id) {}
  RegistryId service() const override { return m_.node(id_) ? id_ : 0; }
  int32_t open() override { return m_.node(id_) ? kIOReturnSuccess : kIOReturnNotFound; }
  void close() override {}
  std::vector<pl::Dict> copyMatchingElements(const pl::Dict& matching) override {
    std::vector<pl::Dict> out;
    for (auto& e : elements()) {
      bool ok = true;
      for (const auto& [k, v] : matching) {
        auto it = e.find(k);
        ok = ok && it != e.end() && it->second == v;
      }
      if (ok) out.push_back(e);
    }
    return out;
  }
  std::unique_ptr<HidQueue> createQueue(int depth) override {
    if (!m_.node(id_) || depth <= 0) return nullptr;
    return std::make_unique<SimQueue>(m_, id_, static_cast<size_t>(depth), elements());
  }
  int32_t setReport(int type, uint32_t reportID, const pl::Data& bytes) override {
    if (!m_.node(id_)) return kIOReturnNotFound;
    if (type != kIOHIDReportTypeOutput) return kIOReturnError;
    m_.answerReceiver(id_, reportID, bytes);
    return lastStatus_;
  }

 private:
  std::vector<pl::Dict> elements() const {
    std::vector<pl::Dict> out;
    const Node* n = m_.node(id_);
    if (!n) return out;
    auto it = n->props.find("Elements");
    if (it != n->props.end() && it->second.isArray()) flattenElements(*it->second.asArray(), out);
    return out;
  }
  SimMac::Impl& m_;
  RegistryId id_;
  int32_t lastStatus_ = kIOReturnSuccess;
};

class SimDevices : public HidDevices {
 public:
  explicit SimDevices(SimMac::Impl& m) : m_(m) {}
  HidDeviceRef createDevice(RegistryId entry) override {
    const Node* n = m_.node(entry);
    if (!n || !m_.conforms(*n, "IOHIDDevice")) return nullptr;
    return std::make_shared<SimHidDevice>(m_, entry);
  }
  bool checkListenAccess() override { return m_.listenAccess; }
  void pause(double) override {}

 private:
  SimMac::Impl& m_;
};

// --- System facts, defaults, web ------------------------------------------------------------

class SimSystemInfo : public SystemInfo {
 public:
  explicit SimSystemInfo(SimMac::Impl& m) : m_(m) {}
  OsVersion osVersion() const override { return m_.os; }
  std::vector<std::string> preferredLanguages() const override { return m_.languages; }
  std::string hardwareModel() const override { return m_.hwModel; }
  std::string marketingNameForModel(const std::string& model) const override {
    return model == m_.hwModel ? m_.marketing : std::string();
  }
  uint32_t userID() const override { return 501; }
  uint32_t groupID() const override { return 20; }
  std::string userName() const override { return "user"; }
  std::string processName() const override { return m_.processName; }
  int32_t processID() const override { return 4242; }

 private:
  SimMac::Impl& m_;
};

class SimDefaults : public UserDefaults {
 public:
  explicit SimDefaults(SimMac::Impl& m) : m_(m) {}
  void synchronize(const std::string&) override {}
  std::optional<pl::Value> value(const std::string& domain, const std::string& key) const override {
    auto d = m_.defaults.find(domain);
    if (d == m_.defaults.end()) return std::nullopt;
    auto it = d->second.find(key);
    if (it == d->second.end()) return std::nullopt;
    return it->second;
  }
  bool setValue(const std::string& domain, const std::string& key, const pl::Value& v) override {
    m_.defaults[domain][key] = v;
    return true;
  }
  bool removeValue(const std::string& domain, const std::string& key) override {
    m_.defaults[domain].erase(key);
    return true;
  }

 private:
  SimMac::Impl& m_;
};

class SimHttp : public HttpClient {
 public:
  explicit SimHttp(SimMac::Impl& m) : m_(m) {}
  std::optional<HttpResponse> get(const std::string& path, const std::string& query, double) override {
    m_.httpLog.push_back(path + "?" + query);
    auto it = m_.httpAnswers.find(path);
    if (it == m_.httpAnswers.end()) return std::nullopt;
    return HttpResponse{it->second.first, it->second.second};
  }
  std::optional<HttpResponse> post(const std::string& path, const std::string& query, const pl::Data&,
                                   const std::string&, double t) override {
    return get(path, query, t);
  }

 private:
  SimMac::Impl& m_;
};

class SimSession : public Session {
 public:
  explicit SimSession(SimMac::Impl& m) : m_(m) {}
  SessionState current() const override { return m_.sessionState; }
  Token observe(std::function<void(SessionEvent)> fn) override {
    Token t = m_.nextToken++;
    m_.sessionObservers[t] = std::move(fn);
    return t;
  }
  void unobserve(Token t) override { m_.sessionObservers.erase(t); }

 private:
  SimMac::Impl& m_;
};

class SimNotifications : public Notifications {
 public:
  explicit SimNotifications(SimMac::Impl& m) : m_(m) {}
  bool post(const std::string& name, const std::string& object, const pl::Dict& userInfo) override {
    m_.posted.push_back({name, object, userInfo});
    for (const auto& [t, entry] : m_.notificationObservers) {
      if (entry.first != name) continue;
      Token token = t;
      SimMac::Impl* m = &m_;
      m_.deliver([m, token, name, object, userInfo] {
        // An observer removed before delivery gets nothing.
        auto it = m->notificationObservers.find(token);
        if (it != m->notificationObservers.end()) {
          auto handler = it->second.second;
          handler(name, object, userInfo);
        }
      });
    }
    return true;
  }
  Token addObserver(const std::string& name, Handler handler) override {
    Token t = m_.nextToken++;
    m_.notificationObservers[t] = {name, std::move(handler)};
    return t;
  }
  void removeObserver(Token t) override { m_.notificationObservers.erase(t); }

 private:
  SimMac::Impl& m_;
};

class SimScreens : public Screens {
 public:
  explicit SimScreens(SimMac::Impl& m) : m_(m) {}
  std::vector<Rect> frames() const override { return m_.screenFrames; }
  Token observeChanges(std::function<void()> fn) override {
    Token t = m_.nextToken++;
    m_.screenObservers[t] = std::move(fn);
    return t;
  }
  void unobserve(Token t) override { m_.screenObservers.erase(t); }

 private:
  SimMac::Impl& m_;
};

}  // namespace

// --- The receiver's answers ------------------------------------------------------------------

void SimMac::Impl::enqueue(RegistryId deviceEntry, uint32_t reportID, pl::Data value) {
  auto qs = queues;  // a queue may not go away while offered to, but stay safe anyway
  for (SimQueue* q : qs) q->offer(deviceEntry, reportID, value);
}

void SimMac::Impl::answerReceiver(RegistryId deviceEntry, uint32_t reportID, const pl::Data& bytes) {
  const Node* n = node(deviceEntry);
  if (!n) return;
  auto rit = receivers.find(n->top);
  if (rit == receivers.end() || reportID != 0x10 || bytes.size() != 7 || bytes[0] != 0x10) return;
  // Only the vendor interface talks to the receiver.
  auto page = n->props.find("PrimaryUsagePage");
  if (page == n->props.end() || page->second.unsignedIntValue() != 0xFF00) return;
  const Receiver& rx = rit->second;
  auto slotFor = [&](int ix) -> const ReceiverSlot* {
    for (const auto& s : rx.slots)
      if (s.slot == ix) return &s;
    return nullptr;
  };

  if (bytes[1] == 0xFF && bytes[2] == 0x80) {
    // Register writes: enable notifications, then "report the paired devices".
    enqueue(deviceEntry, 0x10, pl::Data{0xFF, 0x80, bytes[3], 0x00, 0x00, 0x00});
    if (bytes[3] == 0x02 && bytes[4] == 0x02) {
      if (rx.behaviour.answersPairing) {
        for (const auto& s : rx.slots)
          enqueue(deviceEntry, 0x10,
                  pl::Data{static_cast<uint8_t>(s.slot), 0x41, 0x04, 0x00, static_cast<uint8_t>(s.mid & 0xFF),
                           static_cast<uint8_t>((s.mid >> 8) & 0xFF)});
      }
      enqueue(deviceEntry, 0x10, pl::Data{0x07, 0x80, 0x02, 0x00, 0x00, 0x00});
    }
    return;
  }
  if (bytes[1] == 0xFF && bytes[2] == 0x83 && bytes[3] == 0xB5) {
    uint8_t sub = bytes[4];
    // 0x30 + slot - 1: extended pairing information; 0x40 + slot - 1: the device's name.
    if (sub >= 0x30 && sub <= 0x35) {
      const ReceiverSlot* s = slotFor(sub - 0x2F);
      pl::Data v(19, 0);
      v[0] = 0xFF; v[1] = 0x83; v[2] = 0xB5; v[3] = sub;
      if (s) { v[4] = static_cast<uint8_t>(s->mid & 0xFF); v[5] = static_cast<uint8_t>((s->mid >> 8) & 0xFF); }
      enqueue(deviceEntry, 0x11, v);
    } else if (sub >= 0x40 && sub <= 0x45) {
      const ReceiverSlot* s = slotFor(sub - 0x3F);
      if (!s) {
        enqueue(deviceEntry, 0x10, pl::Data{0xFF, 0x8F, 0x83, 0xB5, 0x02, 0x00});
        return;
      }
      pl::Data v(19, 0);
      v[0] = 0xFF; v[1] = 0x83; v[2] = 0xB5; v[3] = sub;
      size_t len = std::min<size_t>(s->name.size(), 14);
      v[4] = static_cast<uint8_t>(len);
      for (size_t i = 0; i < len; ++i) v[5 + i] = static_cast<uint8_t>(s->name[i]);
      enqueue(deviceEntry, 0x11, v);
    }
    return;
  }
  if (bytes[1] >= 1 && bytes[1] <= 6 && bytes[2] == 0x02 && bytes[3] == 0x1A) {
    const ReceiverSlot* s = slotFor(bytes[1]);
    if (!s) return;
    pl::Data v(19, 0);
    v[0] = bytes[1]; v[1] = 0x02; v[2] = 0x1A; v[3] = bytes[4];
    v[5] = 0x50; v[6] = 0x4D;
    v[7] = static_cast<uint8_t>(s->firmware >> 24); v[8] = static_cast<uint8_t>(s->firmware >> 16);
    v[9] = static_cast<uint8_t>(s->firmware >> 8); v[10] = static_cast<uint8_t>(s->firmware);
    enqueue(deviceEntry, 0x11, v);
  }
}

// --- SimMac ------------------------------------------------------------------------------------

SimMac::SimMac(RunLoop* runLoop) : impl_(std::make_unique<Impl>(runLoop)) {
  Impl& m = *impl_;
  m.registryPort = std::make_unique<SimRegistry>(m);
  m.eventSystemPort = std::make_unique<SimEventSystem>(m);
  m.devicesPort = std::make_unique<SimDevices>(m);
  m.systemPort = std::make_unique<SimSystemInfo>(m);
  m.defaultsPort = std::make_unique<SimDefaults>(m);
  m.httpPort = std::make_unique<SimHttp>(m);
  m.sessionPort = std::make_unique<SimSession>(m);
  m.notificationsPort = std::make_unique<SimNotifications>(m);
  m.screensPort = std::make_unique<SimScreens>(m);
  Node root;
  root.id = m.nextId++;
  root.classes = {"IORegistryEntry"};
  root.name = "Root";
  root.top = root.id;
  m.root = root.id;
  m.nodes.emplace(root.id, std::move(root));
}

SimMac::~SimMac() = default;

IoRegistry& SimMac::registry() { return *impl_->registryPort; }
HidEventSystem& SimMac::eventSystem() { return *impl_->eventSystemPort; }
HidDevices& SimMac::hidDevices() { return *impl_->devicesPort; }
SystemInfo& SimMac::systemInfo() { return *impl_->systemPort; }
UserDefaults& SimMac::defaults() { return *impl_->defaultsPort; }
HttpClient& SimMac::http() { return *impl_->httpPort; }
Session& SimMac::session() { return *impl_->sessionPort; }
Notifications& SimMac::notifications() { return *impl_->notificationsPort; }
Screens& SimMac::screens() { return *impl_->screensPort; }

Platform SimMac::platform() {
  Platform p;
  p.registry = &registry();
  p.eventSystem = &eventSystem();
  p.hidDevices = &hidDevices();
  p.runLoop = impl_->runLoop;
  p.system = &systemInfo();
  p.defaults = &defaults();
  p.http = &http();
  p.session = &session();
  p.notifications = &notifications();
  p.screens = &screens();
  SimDesktop& d = desktop();
  p.accessibility = &d.accessibility();
  p.cursor = &d.cursor();
  p.desktop = &d.desktop();
  // No sleeper: waits are real unless a test puts the desktop's virtual sleeper in.
  return p;
}

SimDesktop& SimMac::desktop() {
  if (!impl_->desktop) {
    impl_->desktop = std::make_unique<SimDesktop>(impl_->runLoop, impl_->notificationsPort.get());
    impl_->desktop->setScreenSource([impl = impl_.get()] { return impl->screenFrames; });
  }
  return *impl_->desktop;
}

RegistryId SimMac::attach(const pl::Value& fixture, std::string* error) { return attach(fixture, error, 0); }

RegistryId SimMac::attach(const pl::Value& fixture, std::string* error, RegistryId baseId) {
  std::string err;
  Impl& m = *impl_;
  RegistryId savedNext = m.nextId;
  if (baseId != 0) {
    if (m.nodes.count(baseId)) {
      if (error) *error = "registry id already in use";
      return 0;
    }
    m.nextId = baseId;
  }
  const pl::Value* tree = fixture.find("tree");
  if (!tree || !tree->isDict()) {
    if (error) *error = "fixture has no tree dictionary";
    return 0;
  }
  std::vector<ReceiverSlot> slots;
  if (const pl::Value* rx = fixture.find("receiver")) {
    const pl::Array* arr = rx->arrayFor("slots");
    if (!arr) {
      if (error) *error = "receiver block needs slots";
      return 0;
    }
    for (const auto& s : *arr) {
      ReceiverSlot slot;
      slot.slot = static_cast<int>(s.integerFor("slot").value_or(0));
      slot.mid = static_cast<uint32_t>(s.integerFor("mid").value_or(0));
      slot.name = s.stringFor("name").value_or("");
      slot.firmware = static_cast<uint32_t>(s.integerFor("firmware").value_or(0));
      if (slot.slot < 1 || slot.slot > 6) {
        if (error) *error = "receiver slot out of 1...6";
        return 0;
      }
      slots.push_back(slot);
    }
  }
  RegistryId top = m.addNode(*tree, m.root, 0, &err, 0);
  if (baseId != 0) m.nextId = std::max(savedNext, m.nextId);
  if (top == 0) {
    // Remove whatever part of the tree was added before the fault.
    std::vector<RegistryId> partial;
    for (const auto& [id, n] : m.nodes)
      if (n.top != m.root && n.parent == m.root && std::find(m.tops.begin(), m.tops.end(), id) == m.tops.end())
        partial.push_back(id);
    for (RegistryId id : partial) m.removeSubtree(id);
    if (error) *error = err;
    return 0;
  }
  m.tops.push_back(top);
  m.profiles[top] = fixture.stringFor("profile").value_or("");
  if (fixture.find("receiver")) m.receivers[top] = Receiver{slots, {}};
  for (RegistryId s : eventServicesOf(top)) {
    auto clients = m.clients;
    for (SimClient* c : clients) c->arrived(s);
  }
  return top;
}

RegistryId SimMac::attachProfile(const std::string& dir, const std::string& profile, std::string* error) {
  auto r = pl::readFile(dir + "/" + profile + ".plist");
  if (!r) {
    if (error) *error = r.error;
    return 0;
  }
  return attach(*r.value, error);
}

bool SimMac::detach(RegistryId top) {
  Impl& m = *impl_;
  auto it = std::find(m.tops.begin(), m.tops.end(), top);
  if (it == m.tops.end()) return false;
  auto services = eventServicesOf(top);
  std::vector<std::pair<RegistryId, ServiceRef>> gone;
  for (RegistryId s : services) gone.emplace_back(s, serviceFor(s));
  m.tops.erase(it);
  m.profiles.erase(top);
  m.receivers.erase(top);
  m.removeSubtree(top);
  for (auto& [id, ref] : gone) {
    auto clients = m.clients;
    for (SimClient* c : clients) c->removed(id, ref);
    m.services.erase(id);
  }
  return true;
}

std::vector<RegistryId> SimMac::attachedDevices() const { return impl_->tops; }

std::vector<RegistryId> SimMac::eventServicesOf(RegistryId top) const {
  std::vector<RegistryId> all{top}, out;
  impl_->collectDescendants(top, all, true);
  for (RegistryId id : all) {
    const Node* n = impl_->node(id);
    if (n && n->eventService) out.push_back(id);
  }
  return out;
}

ServiceRef SimMac::serviceFor(RegistryId entry) {
  auto& s = impl_->services[entry];
  if (!s) s = std::make_shared<SimService>(*impl_, entry);
  return s;
}

std::string SimMac::profileOf(RegistryId top) const {
  auto it = impl_->profiles.find(top);
  return it == impl_->profiles.end() ? std::string() : it->second;
}

void SimMac::setProperty(RegistryId entry, const std::string& key, const pl::Value& value) {
  if (Node* n = impl_->node(entry)) n->props[key] = value;
}

void SimMac::removeProperty(RegistryId entry, const std::string& key) {
  if (Node* n = impl_->node(entry)) n->props.erase(key);
}

void SimMac::refuseServiceWrites(const std::string& key, bool refuse) { impl_->refusedKeys[key] = refuse; }
void SimMac::failIterators(bool fail) { impl_->iteratorsFail = fail; }
void SimMac::failClientCreation(bool fail) { impl_->clientCreationFails = fail; }
ReceiverBehaviour& SimMac::receiverBehaviour(RegistryId top) { return impl_->receivers[top].behaviour; }
void SimMac::setListenAccess(bool granted) { impl_->listenAccess = granted; }

void SimMac::setSystemAcceleration(const std::string& key, double value) {
  impl_->systemAccel[key] = value;
  pl::Value fixed = pl::Value::int32(static_cast<int32_t>(std::clamp(value * 65536.0, -2147483648.0, 2147483647.0)));
  auto clients = impl_->clients;
  for (SimClient* c : clients) c->propertyChanged(key, fixed);
}

std::optional<double> SimMac::systemAcceleration(const std::string& key) const {
  auto it = impl_->systemAccel.find(key);
  if (it == impl_->systemAccel.end()) return std::nullopt;
  return it->second;
}

void SimMac::failAccelerationReads(bool fail) { impl_->accelerationReadsFail = fail; }
void SimMac::setProcessName(const std::string& name) { impl_->processName = name; }
void SimMac::setOsVersion(OsVersion v) { impl_->os = v; }
void SimMac::setPreferredLanguages(std::vector<std::string> langs) { impl_->languages = std::move(langs); }
void SimMac::setHardwareModel(const std::string& model, const std::string& marketingName) {
  impl_->hwModel = model;
  impl_->marketing = marketingName;
}
void SimMac::setHttpAnswer(const std::string& path, pl::Data body, int status) {
  impl_->httpAnswers[path] = {status, std::move(body)};
}
std::vector<std::string> SimMac::httpRequests() const { return impl_->httpLog; }
const std::vector<PropertyWrite>& SimMac::writes() const { return impl_->writes; }
void SimMac::clearWrites() { impl_->writes.clear(); }
void SimMac::setWriteObserver(std::function<void(const PropertyWrite&)> fn) { impl_->writeObserver = std::move(fn); }

void SimMac::setSessionState(SessionState s) {
  SessionState old = impl_->sessionState;
  impl_->sessionState = s;
  if (old.onConsole != s.onConsole) impl_->fireSession(s.onConsole ? SessionEvent::BecameActive : SessionEvent::ResignedActive);
  if (old.screenLocked != s.screenLocked)
    impl_->fireSession(s.screenLocked ? SessionEvent::ScreenLocked : SessionEvent::ScreenUnlocked);
}
void SimMac::lockScreen() { setSessionState({impl_->sessionState.onConsole, true}); }
void SimMac::unlockScreen() { setSessionState({impl_->sessionState.onConsole, false}); }
void SimMac::logout() { setSessionState({false, impl_->sessionState.screenLocked}); }
void SimMac::login() { setSessionState({true, impl_->sessionState.screenLocked}); }
void SimMac::setScreenFrames(std::vector<Rect> frames) { impl_->screenFrames = std::move(frames); }
void SimMac::displayChange() {
  for (const auto& [t, fn] : impl_->screenObservers) {
    auto f = fn;
    impl_->deliver([f] { f(); });
  }
}
const std::vector<SimMac::Posted>& SimMac::postedNotifications() const { return impl_->posted; }

}  // namespace vl::sim

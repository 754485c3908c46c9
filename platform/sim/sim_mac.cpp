// SimMac: the simulated Mac itself: its ports put together, devices attached and detached, and
// the controls tests and the world use (faults, system state, session, screens).
#include "platform/sim/sim_mac.h"

#include <algorithm>

#include "core/plist/codec.h"
#include "platform/sim/sim_desktop.h"
#include "platform/sim/sim_event_system.h"
#include "platform/sim/sim_mac_impl.h"

namespace vl::sim {

using namespace mac_detail;

// --- SimMac ------------------------------------------------------------------------------------
SimMac::SimMac(RunLoop* runLoop) : impl_(std::make_unique<Impl>(runLoop)) {
  Impl& m = *impl_;
  m.registryPort = makeRegistry(m);
  m.eventSystemPort = makeEventSystem(m);
  m.devicesPort = makeHidDevices(m);
  m.systemPort = makeSystemInfo(m);
  m.defaultsPort = makeUserDefaults(m);
  m.httpPort = makeHttp(m);
  m.hidManagersPort = makeHidManagers(m);
  m.eventMonitorsPort = makeEventMonitors(m);
  m.sessionPort = makeSession(m);
  m.notificationsPort = makeNotifications(m);
  m.screensPort = makeScreens(m);
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
  p.fileManager = &impl_->fileManager;
  p.hidManagers = impl_->hidManagersPort.get();
  p.eventMonitors = impl_->eventMonitorsPort.get();
  // No sleeper: waits are real unless a test puts the desktop's virtual sleeper in.
  return p;
}

SimFileManager& SimMac::fileManager() { return impl_->fileManager; }

SimDesktop& SimMac::desktop() {
  if (!impl_->desktop) {
    impl_->desktop = std::make_unique<SimDesktop>(impl_->runLoop, impl_->notificationsPort.get());
    impl_->desktop->setScreenSource([impl = impl_.get()] { return impl->screenFrames; });
  }
  return *impl_->desktop;
}

Result<RegistryId> SimMac::attach(const pl::Value& fixture, RegistryId baseId) {
  Impl& m = *impl_;
  RegistryId savedNext = m.nextId;
  if (baseId != 0) {
    if (m.nodes.count(baseId)) return Status::failure(1, "registry id already in use");
    m.nextId = baseId;
  }
  const pl::Value* tree = fixture.find("tree");
  if (!tree || !tree->isDict()) return Status::failure(1, "fixture has no tree dictionary");
  std::vector<ReceiverSlot> slots;
  if (const pl::Value* rx = fixture.find("receiver")) {
    const pl::Array* arr = rx->arrayFor("slots");
    if (!arr) return Status::failure(1, "receiver block needs slots");
    for (const auto& s : *arr) {
      ReceiverSlot slot;
      slot.slot = static_cast<int>(s.integerFor("slot").value_or(0));
      slot.mid = static_cast<uint32_t>(s.integerFor("mid").value_or(0));
      slot.name = s.stringFor("name").value_or("");
      slot.firmware = static_cast<uint32_t>(s.integerFor("firmware").value_or(0));
      if (slot.slot < 1 || slot.slot > 6) return Status::failure(1, "receiver slot out of 1...6");
      slots.push_back(slot);
    }
  }
  Result<RegistryId> added = m.addNode(*tree, m.root, 0, 0);
  if (baseId != 0) m.nextId = std::max(savedNext, m.nextId);
  if (!added) {
    // Remove whatever part of the tree was added before the fault.
    std::vector<RegistryId> partial;
    for (const auto& [id, n] : m.nodes)
      if (n.top != m.root && n.parent == m.root && std::find(m.tops.begin(), m.tops.end(), id) == m.tops.end())
        partial.push_back(id);
    for (RegistryId id : partial) m.removeSubtree(id);
    return added.status();
  }
  RegistryId top = *added;
  m.tops.push_back(top);
  m.profiles[top] = fixture.stringFor("profile").value_or("");
  if (fixture.find("receiver")) m.receivers[top] = Receiver{slots, {}};
  for (RegistryId s : eventServicesOf(top)) {
    auto clients = m.clients;
    for (SimClient* c : clients) c->arrived(s);
  }
  return top;
}

Result<RegistryId> SimMac::attachProfile(const std::string& dir, const std::string& profile) {
  auto r = pl::readFile(dir + "/" + profile + ".plist");
  if (!r) return Status::failure(1, r.error);
  return attach(*r.value);
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
void SimMac::setMachine(const std::string& machine) { impl_->machine = machine; }
void SimMac::setCodeSigner(const std::string& bundlePath, const std::string& signer) {
  if (signer.empty())
    impl_->codeSigners.erase(bundlePath);
  else
    impl_->codeSigners[bundlePath] = signer;
}
void SimMac::setKernelExtension(const std::string& bundleID, const std::string& path) {
  if (path.empty())
    impl_->kernelExtensions.erase(bundleID);
  else
    impl_->kernelExtensions[bundleID] = path;
}
void SimMac::setKeyboardLayout(int16_t handlerID, uint32_t layoutType) { impl_->keyboardLayouts[handlerID] = layoutType; }
void SimMac::setHttpAnswer(const std::string& path, pl::Data body, int status) {
  impl_->httpErrors.erase(path);
  impl_->httpAnswers[path] = {status, std::move(body)};
}
void SimMac::setHttpError(const std::string& path, int code, const std::string& domain) {
  HttpError e;
  e.domain = domain;
  e.code = code;
  e.description = "simulated transport error";
  impl_->httpErrors[path] = e;
}
void SimMac::setHttpDelay(double seconds) { impl_->httpDelay = seconds; }
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

// The world folder's file models, read strictly and written as XML property lists.
#include "platform/sim/world_files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "core/plist/ascii_text.h"
#include "core/plist/codec.h"
#include "core/plist/file_input.h"
#include "core/plist/number_text.h"

namespace vl::sim::world {

std::string errnoText(int e) { return std::strerror(e); }

std::string hexId(RegistryId id) {
  char b[32];
  std::snprintf(b, sizeof b, "0x%llX", static_cast<unsigned long long>(id));
  return b;
}

std::optional<RegistryId> parseHexId(const std::string& text) {
  if (text.size() < 3 || text.size() > 18 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X')) return std::nullopt;
  RegistryId v = 0;
  for (size_t i = 2; i < text.size(); ++i) {
    char c = text[i];
    int d = pl::hexDigitValue(c);
    if (d < 0) return std::nullopt;
    v = v * 16 + static_cast<RegistryId>(d);
  }
  return v;
}

namespace {

constexpr RegistryId kFirstBlock = 0x100001000;
constexpr RegistryId kBlockSize = 0x1000;
// Block numbers stay far below the point where ids would wrap.
constexpr uint64_t kMaxBlocks = 1ull << 40;

Status fail(const std::string& msg) { return Status::failure(1, msg); }

Status checkRoot(const pl::Value& root) {
  if (!root.asDict()) return fail("the root is not a dictionary");
  auto v = root.integerFor("Version");
  if (v && *v > kFormatVersion) return fail("made by a newer version (format " + std::to_string(*v) + ")");
  return Status::success();
}

pl::Dict versioned() {
  pl::Dict d;
  d["Version"] = pl::Value(static_cast<long long>(kFormatVersion));
  return d;
}

Status readWrite(const pl::Value& w, PropertyWrite* out) {
  auto time = w.numberFor("Time");
  const pl::Value* service = w.find("Service");
  auto key = w.stringFor("Key");
  const pl::Value* value = w.find("Value");
  if (!w.isDict() || !time || !service || !service->isInteger() || !key || !value)
    return fail("a write needs Time, Service, Key and Value");
  out->time = *time;
  out->service = service->unsignedLongLongValue();
  out->key = *key;
  out->value = *value;
  out->writer = w.stringFor("Writer").value_or("");
  out->accepted = w.boolFor("Accepted").value_or(true);
  return Status::success();
}

}  // namespace

RegistryId blockId(uint64_t n) { return kFirstBlock + n * kBlockSize; }
bool isBlockStart(RegistryId id) {
  return id >= kFirstBlock && (id - kFirstBlock) % kBlockSize == 0 && (id - kFirstBlock) / kBlockSize < kMaxBlocks;
}

// --- devices.plist ---------------------------------------------------------------------------

Status parse(const pl::Value& root, DevicesFile* out) {
  if (Status s = checkRoot(root); !s) return s;
  DevicesFile f;
  auto next = root.integerFor("NextBlock");
  const pl::Array* devices = root.arrayFor("Devices");
  if (!next || *next < 0 || static_cast<uint64_t>(*next) > kMaxBlocks || !devices)
    return fail("needs NextBlock and Devices");
  f.nextBlock = static_cast<uint64_t>(*next);
  for (const auto& d : *devices) {
    Device dev;
    const pl::Value* id = d.find("Id");
    const pl::Value* fixture = d.find("Fixture");
    if (!id || !id->isInteger() || !fixture || !fixture->isDict())
      return fail("a device needs Id and Fixture");
    dev.id = id->unsignedLongLongValue();
    if (!isBlockStart(dev.id)) return fail("device id " + hexId(dev.id) + " does not start a block");
    for (const auto& other : f.devices)
      if (other.id == dev.id) return fail("device id " + hexId(dev.id) + " appears twice");
    if ((dev.id - kFirstBlock) / kBlockSize >= f.nextBlock)
      return fail("device id " + hexId(dev.id) + " is beyond NextBlock");
    dev.profile = d.stringFor("Profile").value_or(fixture->stringFor("profile").value_or(""));
    dev.name = d.stringFor("Name").value_or(fixture->stringFor("name").value_or(""));
    dev.attached = d.numberFor("Attached").value_or(0);
    dev.fixture = *fixture;
    f.devices.push_back(std::move(dev));
  }
  *out = std::move(f);
  return Status::success();
}

pl::Value toValue(const DevicesFile& f) {
  pl::Dict d = versioned();
  d["NextBlock"] = pl::Value::uint64(f.nextBlock);
  pl::Array devices;
  for (const auto& dev : f.devices) {
    pl::Dict e;
    e["Id"] = pl::Value::uint64(dev.id);
    e["Profile"] = pl::Value(dev.profile);
    e["Name"] = pl::Value(dev.name);
    e["Attached"] = pl::Value(dev.attached);
    e["Fixture"] = dev.fixture;
    devices.emplace_back(std::move(e));
  }
  d["Devices"] = pl::Value(std::move(devices));
  return pl::Value(std::move(d));
}

// --- properties.plist ------------------------------------------------------------------------

Status parse(const pl::Value& root, PropertiesFile* out) {
  if (Status s = checkRoot(root); !s) return s;
  PropertiesFile f;
  const pl::Dict* services = root.dictFor("Services");
  if (!services) return fail("needs Services");
  for (const auto& [key, props] : *services) {
    auto id = parseHexId(key);
    if (!id) return fail("service key '" + key + "' is not a 0x registry id");
    if (!props.isDict()) return fail("service " + key + " is not a dictionary");
    f.services[*id] = *props.asDict();
  }
  *out = std::move(f);
  return Status::success();
}

pl::Value toValue(const PropertiesFile& f) {
  pl::Dict d = versioned();
  pl::Dict services;
  for (const auto& [id, props] : f.services)
    if (!props.empty()) services[hexId(id)] = pl::Value(props);
  d["Services"] = pl::Value(std::move(services));
  return pl::Value(std::move(d));
}

// --- system.plist ----------------------------------------------------------------------------

Status parse(const pl::Value& root, SystemFile* out) {
  if (Status s = checkRoot(root); !s) return s;
  SystemFile f;
  if (const pl::Value* a = root.find("Acceleration")) {
    if (!a->isDict()) return fail("Acceleration is not a dictionary");
    for (const auto& [k, v] : *a->asDict()) {
      if (!v.isNumber()) return fail("acceleration " + k + " is not a number");
      f.acceleration[k] = v.doubleValue();
    }
  }
  if (const pl::Value* s = root.find("Session")) {
    auto console = s->boolFor("OnConsole");
    auto locked = s->boolFor("ScreenLocked");
    if (!console || !locked) return fail("Session needs OnConsole and ScreenLocked");
    f.session = {*console, *locked};
  }
  if (const pl::Value* s = root.find("Screens")) {
    const pl::Array* frames = s->asArray();
    if (!frames || frames->empty()) return fail("Screens is not a non-empty array");
    f.screens.clear();
    for (const auto& fr : *frames) {
      auto x = fr.numberFor("X"), y = fr.numberFor("Y"), w = fr.numberFor("Width"), h = fr.numberFor("Height");
      if (!x || !y || !w || !h) return fail("a screen needs X, Y, Width and Height");
      f.screens.push_back({*x, *y, *w, *h});
    }
  }
  if (const pl::Value* c = root.find("DisplayChanges")) {
    if (!c->isInteger() || c->longLongValue() < 0) return fail("DisplayChanges is not a count");
    f.displayChanges = c->unsignedLongLongValue();
  }
  // Keyboards by handler id: {"<decimal id>": "<four-character layout type>"}.
  if (const pl::Value* k = root.find("KeyboardLayouts")) {
    if (!k->isDict()) return fail("KeyboardLayouts is not a dictionary");
    for (const auto& [id, type] : *k->asDict()) {
      auto handler = pl::parseIntegerText(id);
      const std::string* code = type.asString();
      if (!handler || *handler < INT16_MIN || *handler > INT16_MAX || !code || code->size() != 4)
        return fail("a keyboard layout needs a handler id and a four-character type");
      uint32_t packed = 0;
      for (unsigned char c : *code) packed = (packed << 8) | c;
      f.keyboardLayouts[static_cast<int16_t>(*handler)] = packed;
    }
  }
  *out = std::move(f);
  return Status::success();
}

pl::Value toValue(const SystemFile& f) {
  pl::Dict d = versioned();
  pl::Dict accel;
  for (const auto& [k, v] : f.acceleration) accel[k] = pl::Value(v);
  d["Acceleration"] = pl::Value(std::move(accel));
  pl::Dict session;
  session["OnConsole"] = pl::Value(f.session.onConsole);
  session["ScreenLocked"] = pl::Value(f.session.screenLocked);
  d["Session"] = pl::Value(std::move(session));
  pl::Array screens;
  for (const auto& r : f.screens) {
    pl::Dict s;
    s["X"] = pl::Value(r.x);
    s["Y"] = pl::Value(r.y);
    s["Width"] = pl::Value(r.width);
    s["Height"] = pl::Value(r.height);
    screens.emplace_back(std::move(s));
  }
  d["Screens"] = pl::Value(std::move(screens));
  d["DisplayChanges"] = pl::Value::uint64(f.displayChanges);
  if (!f.keyboardLayouts.empty()) {
    pl::Dict layouts;
    for (const auto& [id, type] : f.keyboardLayouts) {
      std::string code;
      for (int shift = 24; shift >= 0; shift -= 8) code += static_cast<char>((type >> shift) & 0xFF);
      layouts[std::to_string(id)] = pl::Value(code);
    }
    d["KeyboardLayouts"] = pl::Value(std::move(layouts));
  }
  return pl::Value(std::move(d));
}

// --- applications.plist ----------------------------------------------------------------------

Status parse(const pl::Value& root, ApplicationsFile* out) {
  if (Status s = checkRoot(root); !s) return s;
  ApplicationsFile f;
  auto next = root.integerFor("NextPid");
  const pl::Array* running = root.arrayFor("Running");
  if (!next || *next <= 0 || *next > INT32_MAX || !running) return fail("needs NextPid and Running");
  f.nextPid = static_cast<int32_t>(*next);
  for (const auto& a : *running) {
    auto pid = a.integerFor("ProcessIdentifier");
    if (!a.isDict() || !pid || *pid <= 0 || *pid > INT32_MAX) return fail("an application needs a ProcessIdentifier");
    RunningApplication app;
    app.processIdentifier = static_cast<int32_t>(*pid);
    app.bundleIdentifier = a.stringFor("BundleIdentifier").value_or("");
    app.bundleURL = a.stringFor("BundleURL").value_or("");
    app.executableURL = a.stringFor("ExecutableURL").value_or("");
    app.localizedName = a.stringFor("LocalizedName").value_or("");
    app.active = a.boolFor("Active").value_or(false);
    if (auto policy = a.integerFor("ActivationPolicy")) {
      if (*policy < 0 || *policy > 2) return fail("ActivationPolicy must be 0, 1 or 2");
      app.activationPolicy = static_cast<int32_t>(*policy);
    }
    if (a.boolFor("HostProcess").value_or(false)) f.hostProcesses.insert(app.processIdentifier);
    if (auto t = a.numberFor("StartTime")) f.startTimes[app.processIdentifier] = *t;
    f.running.push_back(std::move(app));
  }
  *out = std::move(f);
  return Status::success();
}

pl::Value toValue(const ApplicationsFile& f) {
  pl::Dict d = versioned();
  d["NextPid"] = pl::Value(static_cast<long long>(f.nextPid));
  pl::Array running;
  for (const auto& app : f.running) {
    pl::Dict a;
    a["ProcessIdentifier"] = pl::Value(static_cast<long long>(app.processIdentifier));
    a["BundleIdentifier"] = pl::Value(app.bundleIdentifier);
    a["BundleURL"] = pl::Value(app.bundleURL);
    a["ExecutableURL"] = pl::Value(app.executableURL);
    a["LocalizedName"] = pl::Value(app.localizedName);
    a["Active"] = pl::Value(app.active);
    if (app.activationPolicy != 0) a["ActivationPolicy"] = pl::Value(static_cast<long long>(app.activationPolicy));
    if (f.hostProcesses.count(app.processIdentifier)) a["HostProcess"] = pl::Value(true);
    if (auto t = f.startTimes.find(app.processIdentifier); t != f.startTimes.end()) a["StartTime"] = pl::Value(t->second);
    running.emplace_back(std::move(a));
  }
  d["Running"] = pl::Value(std::move(running));
  return pl::Value(std::move(d));
}

// --- history/writes-<n>.plist ----------------------------------------------------------------

Status parse(const pl::Value& root, HistoryChunk* out) {
  if (Status s = checkRoot(root); !s) return s;
  const pl::Array* writes = root.arrayFor("Writes");
  if (!writes) return fail("needs Writes");
  HistoryChunk c;
  for (const auto& w : *writes) {
    PropertyWrite pw;
    if (Status s = readWrite(w, &pw); !s) return s;
    c.writes.push_back(std::move(pw));
  }
  *out = std::move(c);
  return Status::success();
}

pl::Value toValue(const HistoryChunk& c) {
  pl::Dict d = versioned();
  pl::Array writes;
  for (const auto& w : c.writes) {
    pl::Dict e;
    e["Time"] = pl::Value(w.time);
    e["Service"] = pl::Value::uint64(w.service);
    e["Key"] = pl::Value(w.key);
    e["Value"] = w.value;
    e["Writer"] = pl::Value(w.writer);
    e["Accepted"] = pl::Value(w.accepted);
    writes.emplace_back(std::move(e));
  }
  d["Writes"] = pl::Value(std::move(writes));
  return pl::Value(std::move(d));
}

// --- input.plist -------------------------------------------------------------------------------

Status parse(const pl::Value& root, InputFile* out) {
  if (Status s = checkRoot(root); !s) return s;
  const pl::Value* next = root.find("NextSeq");
  const pl::Array* events = root.arrayFor("Events");
  if (!next || !next->isInteger() || next->unsignedLongLongValue() == 0 || !events)
    return fail("needs NextSeq and Events");
  InputFile f;
  f.nextSeq = next->unsignedLongLongValue();
  for (const auto& e : *events) {
    const pl::Value* seq = e.find("Seq");
    const pl::Value* device = e.find("Device");
    if (!e.isDict() || !seq || !seq->isInteger() || !device || !device->isInteger())
      return fail("an event needs Seq and Device");
    InputEvent ev;
    ev.seq = seq->unsignedLongLongValue();
    if (ev.seq >= f.nextSeq) return fail("an event is numbered at or after NextSeq");
    ev.writer = e.stringFor("Writer").value_or("");
    ev.device = device->unsignedLongLongValue();
    ev.deltaX = e.numberFor("DeltaX").value_or(0);
    ev.deltaY = e.numberFor("DeltaY").value_or(0);
    if (const pl::Array* values = e.arrayFor("Values")) {
      for (const auto& v : *values) {
        auto page = v.integerFor("UsagePage");
        auto usage = v.integerFor("Usage");
        auto value = v.integerFor("Value");
        const pl::Value* time = v.find("Time");
        if (!page || !usage || !value || !time || !time->isInteger() || *page < 0 || *page > UINT32_MAX || *usage < 0 ||
            *usage > UINT32_MAX)
          return fail("an input value needs UsagePage, Usage, Value and Time");
        ev.values.push_back(HidInputValue{static_cast<uint32_t>(*page), static_cast<uint32_t>(*usage), *value,
                                          time->unsignedLongLongValue()});
      }
    }
    f.events.push_back(std::move(ev));
  }
  *out = std::move(f);
  return Status::success();
}

pl::Value toValue(const InputFile& f) {
  pl::Dict d = versioned();
  d["NextSeq"] = pl::Value::uint64(f.nextSeq);
  pl::Array events;
  for (const auto& ev : f.events) {
    pl::Dict e;
    e["Seq"] = pl::Value::uint64(ev.seq);
    e["Writer"] = pl::Value(ev.writer);
    e["Device"] = pl::Value::uint64(ev.device);
    if (ev.device == 0) {
      e["DeltaX"] = pl::Value(ev.deltaX);
      e["DeltaY"] = pl::Value(ev.deltaY);
    }
    pl::Array values;
    for (const auto& v : ev.values) {
      pl::Dict x;
      x["UsagePage"] = pl::Value::uint32(v.usagePage);
      x["Usage"] = pl::Value::uint32(v.usage);
      x["Value"] = pl::Value::int64(v.integerValue);
      x["Time"] = pl::Value::uint64(v.timestamp);
      values.emplace_back(std::move(x));
    }
    if (!values.empty()) e["Values"] = pl::Value(std::move(values));
    events.emplace_back(std::move(e));
  }
  d["Events"] = pl::Value(std::move(events));
  return pl::Value(std::move(d));
}

// --- Fixtures --------------------------------------------------------------------------------

size_t entryCount(const pl::Value& tree) {
  size_t n = 1;
  if (const pl::Array* kids = tree.arrayFor("children"))
    for (const auto& c : *kids) n += entryCount(c);
  return n;
}

namespace {
void putOverrides(pl::Value& entry, RegistryId& next, const std::map<RegistryId, pl::Dict>& overrides, int depth) {
  RegistryId id = next++;
  if (depth > pl::kMaxDepth || !entry.isDict()) return;
  pl::Dict& d = *entry.asDict();
  auto o = overrides.find(id);
  if (o != overrides.end()) {
    auto props = d.find("properties");
    if (props != d.end() && props->second.isDict())
      for (const auto& [k, v] : o->second) (*props->second.asDict())[k] = v;
  }
  auto kids = d.find("children");
  if (kids != d.end() && kids->second.isArray())
    for (auto& c : *kids->second.asArray()) putOverrides(c, next, overrides, depth + 1);
}
}  // namespace

pl::Value withOverrides(const pl::Value& fixture, RegistryId base, const std::map<RegistryId, pl::Dict>& overrides) {
  pl::Value out = fixture;
  auto first = overrides.lower_bound(base);
  if (first == overrides.end() || first->first >= base + kBlockSize || !out.isDict()) return out;
  auto tree = out.asDict()->find("tree");
  if (tree == out.asDict()->end()) return out;
  RegistryId next = base;
  putOverrides(tree->second, next, overrides, 0);
  return out;
}

// --- File access -----------------------------------------------------------------------------

Result<std::string> readBytes(const std::string& path) {
  // A FIFO or device named like a world file must not stall the programs sharing the world.
  std::string out;
  pl::FileReadResult r = pl::readRegularFile(path, pl::kMaxInputFileBytes, &out);
  if (r.status == pl::FileReadStatus::Missing) return std::string();
  if (!r) return fail(r.error);
  return out;
}

template <class Model>
Status parseBytes(const std::string& path, const std::string& bytes, Model* out) {
  if (bytes.empty()) {
    *out = Model{};
    return Status::success();
  }
  pl::ReadResult r = pl::read(std::string_view(bytes));
  if (!r) return fail(path + ": " + r.error);
  return parse(*r.value, out).context(path);
}

template Status parseBytes(const std::string&, const std::string&, DevicesFile*);
template Status parseBytes(const std::string&, const std::string&, PropertiesFile*);
template Status parseBytes(const std::string&, const std::string&, SystemFile*);
template Status parseBytes(const std::string&, const std::string&, ApplicationsFile*);
template Status parseBytes(const std::string&, const std::string&, HistoryChunk*);
template Status parseBytes(const std::string&, const std::string&, InputFile*);

Result<std::string> writeModel(const std::string& path, const pl::Value& v) {
  std::string xml = pl::writeXml(v);
  // Temporary file and rename: readers see the old file or the new one, never a part. No
  // fsync: a simulated machine need not survive a power cut, and the shared world is written
  // on every property write, where a sync costs tens of milliseconds.
  size_t slash = path.rfind('/');
  std::string dir = slash == std::string::npos ? "." : path.substr(0, slash);
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  std::string tmpl = dir + "/." + name + ".XXXXXX";
  std::vector<char> tmp(tmpl.begin(), tmpl.end());
  tmp.push_back('\0');
  int fd = ::mkstemp(tmp.data());
  if (fd < 0) return fail(path + ": cannot create a temporary file: " + errnoText(errno));
  ::fchmod(fd, 0644);
  size_t done = 0;
  while (done < xml.size()) {
    ssize_t n = ::write(fd, xml.data() + done, xml.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      int e = errno;
      ::close(fd);
      ::unlink(tmp.data());
      return fail(path + ": write failed: " + errnoText(e));
    }
    done += static_cast<size_t>(n);
  }
  if (::close(fd) != 0 || ::rename(tmp.data(), path.c_str()) != 0) {
    int e = errno;
    ::unlink(tmp.data());
    return fail(path + ": cannot replace the file: " + errnoText(e));
  }
  return xml;
}

FileLock::FileLock(int fd, bool exclusive) : fd_(fd) {
  while (fd_ >= 0) {
    if (::flock(fd_, exclusive ? LOCK_EX : LOCK_SH) == 0) {
      held_ = true;
      break;
    }
    if (errno != EINTR) break;
  }
}

FileLock::~FileLock() {
  if (held_) ::flock(fd_, LOCK_UN);
}

}  // namespace vl::sim::world

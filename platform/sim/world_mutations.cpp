// World's changes: devices attached and detached, service properties, system and session
// state, applications and live input, each written to the shared files under the folder's lock
// and applied to this process's simulated Mac.
#include "platform/sim/world.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>

#include "core/plist/codec.h"
#include "platform/sim/host_process.h"
#include "platform/sim/world_files.h"

#include "platform/sim/world_private.h"

namespace vl::sim {

using namespace world;
namespace fs = std::filesystem;

Status World::Private::postInput(InputEvent ev) {
  ev.writer = inputWriter;
  Status written = update<InputFile>(kWorldInputFile, [&](InputFile& f) {
    ev.seq = f.nextSeq++;
    f.events.push_back(ev);
    if (f.events.size() > kInputEventLimit)
      f.events.erase(f.events.begin(), f.events.end() - static_cast<std::ptrdiff_t>(kInputEventLimit));
    return Status::success();
  });
  if (!written) return written;
  if (ev.device != 0) mac->postInputReport(ev.device, ev.values);
  else mac->postMouseMoved(ev.deltaX, ev.deltaY);
  return Status::success();
}

Result<RegistryId> World::attach(const pl::Value& fixture) {
  Private& p = *p_;
  const pl::Value* tree = fixture.find("tree");
  if (!tree || !tree->isDict()) return fail("fixture has no tree dictionary");
  if (entryCount(*tree) >= kWorldBlockSize)
    return fail("fixture has more than " + std::to_string(kWorldBlockSize - 1) + " registry entries");
  {
    // Refuse a malformed fixture before it reaches the folder, where it would break every reader.
    SimMac scratch;
    if (auto tried = scratch.attach(fixture); !tried) return tried.status();
  }
  Device dev;
  dev.profile = fixture.stringFor("profile").value_or("");
  dev.name = fixture.stringFor("name").value_or("");
  dev.attached = p.now();
  dev.fixture = fixture;
  Status written = p.update<DevicesFile>(kWorldDevicesFile, [&](DevicesFile& f) {
    dev.id = blockId(f.nextBlock++);
    f.devices.push_back(dev);
    return Status::success();
  });
  if (!written) return written;
  Result<RegistryId> top = p.mac->attach(fixture, dev.id);
  if (!top) return fail("cannot attach as " + hexId(dev.id) + ": " + top.status().detail());
  p.devices.push_back(std::move(dev));
  return top;
}

Result<RegistryId> World::attachProfile(const std::string& dir, const std::string& profile) {
  bool isPath = profile.find('/') != std::string::npos ||
                (profile.size() > 6 && profile.compare(profile.size() - 6, 6, ".plist") == 0);
  std::string path = isPath ? profile : dir + "/" + profile + ".plist";
  if (!isPath && (profile.empty() || profile[0] == '.')) return fail("'" + profile + "' is no profile name");
  auto r = pl::readFile(path);
  if (!r) return fail(r.error);
  return attach(*r.value);
}

Status World::detach(RegistryId top) {
  Private& p = *p_;
  {
    FileLock lock(p.lockFd, true);
    if (!lock.held()) return fail(p.folder + ": cannot lock the world: " + errnoText(errno));
    DevicesFile devices;
    PropertiesFile props;
    bool foreignDevices = false, foreignProps = false;
    if (Status s = p.load(kWorldDevicesFile, &devices, &foreignDevices); !s) return s;
    if (Status s = p.load(kWorldPropertiesFile, &props, &foreignProps); !s) return s;
    auto it = std::find_if(devices.devices.begin(), devices.devices.end(), [&](const Device& d) { return d.id == top; });
    if (it == devices.devices.end()) return fail("no attached device has the id " + hexId(top));
    devices.devices.erase(it);
    // Values written to the device's services go with it.
    auto& s = props.services;
    s.erase(s.lower_bound(top), s.lower_bound(top + kWorldBlockSize));
    if (Status st = p.store(kWorldPropertiesFile, props, foreignProps); !st) return st;
    if (Status st = p.store(kWorldDevicesFile, devices, foreignDevices); !st) return st;
  }
  p.properties.erase(p.properties.lower_bound(top), p.properties.lower_bound(top + kWorldBlockSize));
  auto it = std::find_if(p.devices.begin(), p.devices.end(), [&](const Device& d) { return d.id == top; });
  if (it != p.devices.end()) {
    p.devices.erase(it);
    p.mac->detach(top);
  }
  return Status::success();
}

Status World::setProperty(RegistryId entry, const std::string& key, const pl::Value& value) {
  Private& p = *p_;
  if (!p.mac->registry().exists(entry)) return fail("no registry entry has the id " + hexId(entry));
  Status written = p.update<PropertiesFile>(kWorldPropertiesFile, [&](PropertiesFile& f) {
    f.services[entry][key] = value;
    return Status::success();
  });
  if (!written) return written;
  p.properties[entry][key] = value;
  p.mac->setProperty(entry, key, value);
  return Status::success();
}

Status World::setSystemAcceleration(const std::string& key, double value) {
  if (key.empty()) return fail("empty acceleration key");
  Status written = p_->updateSystem([&](SystemFile& f) { f.acceleration[key] = value; });
  if (written) p_->mac->setSystemAcceleration(key, value);
  return written;
}

Status World::setSessionState(SessionState state) {
  Status written = p_->updateSystem([&](SystemFile& f) { f.session = state; });
  if (written) p_->mac->setSessionState(state);
  return written;
}

Status World::setKeyboardLayout(int16_t handlerID, uint32_t layoutType) {
  Status written = p_->updateSystem([&](SystemFile& f) { f.keyboardLayouts[handlerID] = layoutType; });
  if (written) p_->mac->setKeyboardLayout(handlerID, layoutType);
  return written;
}

Status World::setScreenFrames(std::vector<Rect> frames) {
  if (frames.empty()) return fail("a machine has at least one screen");
  Status written = p_->updateSystem([&](SystemFile& f) { f.screens = frames; });
  if (written) p_->mac->setScreenFrames(std::move(frames));
  return written;
}

Status World::displayChange() {
  uint64_t count = 0;
  Status written = p_->updateSystem([&](SystemFile& f) { count = ++f.displayChanges; });
  if (!written) return written;
  // Changes of others counted in between are told as this one event.
  p_->displayChanges = count;
  p_->mac->displayChange();
  return Status::success();
}

Result<int32_t> World::launchApplication(RunningApplication app, bool activate) {
  ApplicationsFile result;
  double now = p_->now();
  Status written = p_->update<ApplicationsFile>(kWorldApplicationsFile, [&](ApplicationsFile& f) {
    if (app.processIdentifier <= 0) app.processIdentifier = f.nextPid++;
    f.startTimes[app.processIdentifier] = now;
    for (const auto& a : f.running)
      if (a.processIdentifier == app.processIdentifier)
        return fail("process " + std::to_string(app.processIdentifier) + " is already running");
    if (activate)
      for (auto& a : f.running) a.active = false;
    app.active = activate;
    f.running.push_back(app);
    result = f;
    return Status::success();
  });
  if (!written) return written;
  p_->applyApplications(result);
  return app.processIdentifier;
}

Result<int32_t> World::recordHostProcess(RunningApplication app) {
  if (app.processIdentifier <= 0) app.processIdentifier = static_cast<int32_t>(::getpid());
  app.active = false;
  ApplicationsFile result;
  Status written = p_->update<ApplicationsFile>(kWorldApplicationsFile, [&](ApplicationsFile& f) {
    auto gone = [&](const RunningApplication& a) {
      bool stale = f.hostProcesses.count(a.processIdentifier) && a.bundleIdentifier == app.bundleIdentifier &&
                   !hostProcessAlive(a.processIdentifier);
      return stale || a.processIdentifier == app.processIdentifier;
    };
    for (const auto& a : f.running)
      if (gone(a)) {
        f.hostProcesses.erase(a.processIdentifier);
        f.startTimes.erase(a.processIdentifier);
      }
    f.running.erase(std::remove_if(f.running.begin(), f.running.end(), gone), f.running.end());
    f.running.push_back(app);
    f.hostProcesses.insert(app.processIdentifier);
    result = f;
    return Status::success();
  });
  if (!written) return written;
  p_->applyApplications(result);
  return app.processIdentifier;
}

Status World::terminateApplication(const std::string& bundleIdentifier) {
  ApplicationsFile result;
  Status written = p_->update<ApplicationsFile>(kWorldApplicationsFile, [&](ApplicationsFile& f) {
    for (auto it = f.running.rbegin(); it != f.running.rend(); ++it) {
      if (it->bundleIdentifier == bundleIdentifier) {
        f.hostProcesses.erase(it->processIdentifier);
        f.startTimes.erase(it->processIdentifier);
        f.running.erase(std::next(it).base());
        result = f;
        return Status::success();
      }
    }
    return fail("no running application has the identifier " + bundleIdentifier);
  });
  if (written) p_->applyApplications(result);
  return written;
}

Status World::terminateProcess(int32_t pid) {
  ApplicationsFile result;
  Status written = p_->update<ApplicationsFile>(kWorldApplicationsFile, [&](ApplicationsFile& f) {
    auto it = std::find_if(f.running.begin(), f.running.end(),
                           [&](const RunningApplication& a) { return a.processIdentifier == pid; });
    if (it == f.running.end()) return fail("no running application has the process id " + std::to_string(pid));
    f.running.erase(it);
    f.hostProcesses.erase(pid);
    f.startTimes.erase(pid);
    result = f;
    return Status::success();
  });
  if (written) p_->applyApplications(result);
  return written;
}

Status World::postInputReport(RegistryId hidDevice, const std::vector<HidInputValue>& values) {
  if (hidDevice == 0 || !p_->mac->registry().conformsTo(hidDevice, "IOHIDDevice"))
    return fail("no HID device has the id " + hexId(hidDevice));
  if (values.empty()) return fail("an input report needs values");
  InputEvent ev;
  ev.device = hidDevice;
  ev.values = values;
  return p_->postInput(std::move(ev));
}

Status World::postMouseMoved(double deltaX, double deltaY) {
  if (!std::isfinite(deltaX) || !std::isfinite(deltaY)) return fail("a movement needs finite deltas");
  InputEvent ev;
  ev.deltaX = deltaX;
  ev.deltaY = deltaY;
  return p_->postInput(std::move(ev));
}

}  // namespace vl::sim

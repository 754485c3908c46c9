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

bool World::Private::postInput(InputEvent ev, std::string* error) {
  ev.writer = inputWriter;
  if (!update<InputFile>(
          kWorldInputFile,
          [&](InputFile& f) {
            ev.seq = f.nextSeq++;
            f.events.push_back(ev);
            if (f.events.size() > kInputEventLimit)
              f.events.erase(f.events.begin(), f.events.end() - static_cast<std::ptrdiff_t>(kInputEventLimit));
            return true;
          },
          error))
    return false;
  if (ev.device != 0) mac->postInputReport(ev.device, ev.values);
  else mac->postMouseMoved(ev.deltaX, ev.deltaY);
  return true;
}

RegistryId World::attach(const pl::Value& fixture, std::string* error) {
  Private& p = *p_;
  const pl::Value* tree = fixture.find("tree");
  if (!tree || !tree->isDict()) {
    fail(error, "fixture has no tree dictionary");
    return 0;
  }
  if (entryCount(*tree) >= kWorldBlockSize) {
    fail(error, "fixture has more than " + std::to_string(kWorldBlockSize - 1) + " registry entries");
    return 0;
  }
  {
    // Refuse a malformed fixture before it reaches the folder, where it would break every reader.
    SimMac scratch;
    std::string why;
    if (scratch.attach(fixture, &why) == 0) {
      fail(error, why);
      return 0;
    }
  }
  Device dev;
  dev.profile = fixture.stringFor("profile").value_or("");
  dev.name = fixture.stringFor("name").value_or("");
  dev.attached = p.now();
  dev.fixture = fixture;
  bool ok = p.update<DevicesFile>(
      kWorldDevicesFile,
      [&](DevicesFile& f) {
        dev.id = blockId(f.nextBlock++);
        f.devices.push_back(dev);
        return true;
      },
      error);
  if (!ok) return 0;
  std::string why;
  RegistryId top = p.mac->attach(fixture, &why, dev.id);
  if (top == 0) {
    fail(error, "cannot attach as " + hexId(dev.id) + ": " + why);
    return 0;
  }
  p.devices.push_back(std::move(dev));
  return top;
}

RegistryId World::attachProfile(const std::string& dir, const std::string& profile, std::string* error) {
  bool isPath = profile.find('/') != std::string::npos ||
                (profile.size() > 6 && profile.compare(profile.size() - 6, 6, ".plist") == 0);
  std::string path = isPath ? profile : dir + "/" + profile + ".plist";
  if (!isPath && (profile.empty() || profile[0] == '.')) {
    fail(error, "'" + profile + "' is no profile name");
    return 0;
  }
  auto r = pl::readFile(path);
  if (!r) {
    fail(error, r.error);
    return 0;
  }
  return attach(*r.value, error);
}

Status World::detach(RegistryId top) {
  return asStatus([&](std::string* error) {
    Private& p = *p_;
    {
      FileLock lock(p.lockFd, true);
      if (!lock.held()) return fail(error, p.folder + ": cannot lock the world: " + errnoText(errno));
      DevicesFile devices;
      PropertiesFile props;
      bool foreignDevices = false, foreignProps = false;
      if (!p.load(kWorldDevicesFile, &devices, &foreignDevices, error) ||
          !p.load(kWorldPropertiesFile, &props, &foreignProps, error))
        return false;
      auto it = std::find_if(devices.devices.begin(), devices.devices.end(), [&](const Device& d) { return d.id == top; });
      if (it == devices.devices.end()) return fail(error, "no attached device has the id " + hexId(top));
      devices.devices.erase(it);
      // Values written to the device's services go with it.
      auto& s = props.services;
      s.erase(s.lower_bound(top), s.lower_bound(top + kWorldBlockSize));
      if (!p.store(kWorldPropertiesFile, props, foreignProps, error) || !p.store(kWorldDevicesFile, devices, foreignDevices, error))
        return false;
    }
    p.properties.erase(p.properties.lower_bound(top), p.properties.lower_bound(top + kWorldBlockSize));
    auto it = std::find_if(p.devices.begin(), p.devices.end(), [&](const Device& d) { return d.id == top; });
    if (it != p.devices.end()) {
      p.devices.erase(it);
      p.mac->detach(top);
    }
    return true;
  });
}

Status World::setProperty(RegistryId entry, const std::string& key, const pl::Value& value) {
  return asStatus([&](std::string* error) {
    Private& p = *p_;
    if (!p.mac->registry().exists(entry)) return fail(error, "no registry entry has the id " + hexId(entry));
    bool ok = p.update<PropertiesFile>(
        kWorldPropertiesFile,
        [&](PropertiesFile& f) {
          f.services[entry][key] = value;
          return true;
        },
        error);
    if (!ok) return false;
    p.properties[entry][key] = value;
    p.mac->setProperty(entry, key, value);
    return true;
  });
}

Status World::setSystemAcceleration(const std::string& key, double value) {
  return asStatus([&](std::string* error) {
    if (key.empty()) return fail(error, "empty acceleration key");
    bool ok = p_->updateSystem([&](SystemFile& f) { f.acceleration[key] = value; }, error);
    if (ok) p_->mac->setSystemAcceleration(key, value);
    return ok;
  });
}

Status World::setSessionState(SessionState state) {
  return asStatus([&](std::string* error) {
    bool ok = p_->updateSystem([&](SystemFile& f) { f.session = state; }, error);
    if (ok) p_->mac->setSessionState(state);
    return ok;
  });
}

Status World::setKeyboardLayout(int16_t handlerID, uint32_t layoutType) {
  return asStatus([&](std::string* error) {
    bool ok = p_->updateSystem([&](SystemFile& f) { f.keyboardLayouts[handlerID] = layoutType; }, error);
    if (ok) p_->mac->setKeyboardLayout(handlerID, layoutType);
    return ok;
  });
}

Status World::setScreenFrames(std::vector<Rect> frames) {
  return asStatus([&](std::string* error) {
    if (frames.empty()) return fail(error, "a machine has at least one screen");
    bool ok = p_->updateSystem([&](SystemFile& f) { f.screens = frames; }, error);
    if (ok) p_->mac->setScreenFrames(std::move(frames));
    return ok;
  });
}

Status World::displayChange() {
  return asStatus([&](std::string* error) {
    uint64_t count = 0;
    bool ok = p_->updateSystem([&](SystemFile& f) { count = ++f.displayChanges; }, error);
    if (!ok) return false;
    // Changes of others counted in between are told as this one event.
    p_->displayChanges = count;
    p_->mac->displayChange();
    return true;
  });
}

std::optional<int32_t> World::launchApplication(RunningApplication app, bool activate, std::string* error) {
  ApplicationsFile result;
  double now = p_->now();
  bool ok = p_->update<ApplicationsFile>(
      kWorldApplicationsFile,
      [&](ApplicationsFile& f) {
        if (app.processIdentifier <= 0) app.processIdentifier = f.nextPid++;
        f.startTimes[app.processIdentifier] = now;
        for (const auto& a : f.running)
          if (a.processIdentifier == app.processIdentifier)
            return fail(error, "process " + std::to_string(app.processIdentifier) + " is already running");
        if (activate)
          for (auto& a : f.running) a.active = false;
        app.active = activate;
        f.running.push_back(app);
        result = f;
        return true;
      },
      error);
  if (!ok) return std::nullopt;
  p_->applyApplications(result);
  return app.processIdentifier;
}

std::optional<int32_t> World::recordHostProcess(RunningApplication app, std::string* error) {
  if (app.processIdentifier <= 0) app.processIdentifier = static_cast<int32_t>(::getpid());
  app.active = false;
  ApplicationsFile result;
  bool ok = p_->update<ApplicationsFile>(
      kWorldApplicationsFile,
      [&](ApplicationsFile& f) {
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
        return true;
      },
      error);
  if (!ok) return std::nullopt;
  p_->applyApplications(result);
  return app.processIdentifier;
}

Status World::terminateApplication(const std::string& bundleIdentifier) {
  return asStatus([&](std::string* error) {
    ApplicationsFile result;
    bool ok = p_->update<ApplicationsFile>(
        kWorldApplicationsFile,
        [&](ApplicationsFile& f) {
          for (auto it = f.running.rbegin(); it != f.running.rend(); ++it) {
            if (it->bundleIdentifier == bundleIdentifier) {
              f.hostProcesses.erase(it->processIdentifier);
              f.startTimes.erase(it->processIdentifier);
              f.running.erase(std::next(it).base());
              result = f;
              return true;
            }
          }
          return fail(error, "no running application has the identifier " + bundleIdentifier);
        },
        error);
    if (ok) p_->applyApplications(result);
    return ok;
  });
}

Status World::terminateProcess(int32_t pid) {
  return asStatus([&](std::string* error) {
    ApplicationsFile result;
    bool ok = p_->update<ApplicationsFile>(
        kWorldApplicationsFile,
        [&](ApplicationsFile& f) {
          auto it = std::find_if(f.running.begin(), f.running.end(),
                                 [&](const RunningApplication& a) { return a.processIdentifier == pid; });
          if (it == f.running.end()) return fail(error, "no running application has the process id " + std::to_string(pid));
          f.running.erase(it);
          f.hostProcesses.erase(pid);
          f.startTimes.erase(pid);
          result = f;
          return true;
        },
        error);
    if (ok) p_->applyApplications(result);
    return ok;
  });
}

Status World::postInputReport(RegistryId hidDevice, const std::vector<HidInputValue>& values) {
  return asStatus([&](std::string* error) {
    if (hidDevice == 0 || !p_->mac->registry().conformsTo(hidDevice, "IOHIDDevice"))
      return fail(error, "no HID device has the id " + hexId(hidDevice));
    if (values.empty()) return fail(error, "an input report needs values");
    InputEvent ev;
    ev.device = hidDevice;
    ev.values = values;
    return p_->postInput(std::move(ev), error);
  });
}

Status World::postMouseMoved(double deltaX, double deltaY) {
  return asStatus([&](std::string* error) {
    if (!std::isfinite(deltaX) || !std::isfinite(deltaY)) return fail(error, "a movement needs finite deltas");
    InputEvent ev;
    ev.deltaX = deltaX;
    ev.deltaY = deltaY;
    return p_->postInput(std::move(ev), error);
  });
}

}  // namespace vl::sim

// World's cross-process sync: reads the shared files and brings this process's simulated Mac
// in step with what other processes wrote (devices, properties, system state, applications,
// live input).
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

namespace {

const char* const kSharedFiles[] = {kWorldDevicesFile, kWorldPropertiesFile, kWorldSystemFile, kWorldApplicationsFile};

}  // namespace

Status World::Private::applyDevices(const DevicesFile& f) {
  std::string firstError;
  // Gone (or replaced under the same id by a world made anew): removal callbacks.
  for (auto it = devices.begin(); it != devices.end();) {
    auto match = std::find_if(f.devices.begin(), f.devices.end(),
                              [&](const Device& d) { return d.id == it->id && d.profile == it->profile; });
    if (match == f.devices.end()) {
      mac->detach(it->id);
      it = devices.erase(it);
    } else {
      ++it;
    }
  }
  for (const auto& d : f.devices) {
    bool have = std::any_of(devices.begin(), devices.end(), [&](const Device& x) { return x.id == d.id; });
    if (have) continue;
    // Values written since the device came are in place before its services arrive.
    if (auto attached = mac->attach(withOverrides(d.fixture, d.id, properties), d.id); !attached) {
      if (firstError.empty())
        firstError = path(kWorldDevicesFile) + ": device " + hexId(d.id) + " (" + d.profile + "): " + attached.status().detail();
      continue;
    }
    devices.push_back(d);
  }
  if (!firstError.empty()) return fail(firstError);
  return Status::success();
}

void World::Private::applyProperties(const PropertiesFile& f) {
  properties = f.services;
  for (const auto& [id, props] : f.services) {
    if (!mac->registry().exists(id)) continue;
    for (const auto& [key, value] : props) {
      auto cur = mac->registry().property(id, key);
      if (!cur || *cur != value) mac->setProperty(id, key, value);
    }
  }
}

void World::Private::applySystem(const SystemFile& f, bool initial) {
  for (const auto& [key, value] : f.acceleration) {
    auto cur = mac->systemAcceleration(key);
    if (!cur || *cur != value) mac->setSystemAcceleration(key, value);
  }
  SessionState s = mac->session().current();
  if (s.onConsole != f.session.onConsole || s.screenLocked != f.session.screenLocked) mac->setSessionState(f.session);
  if (mac->screens().frames() != f.screens) mac->setScreenFrames(f.screens);
  for (const auto& [handler, type] : f.keyboardLayouts) mac->setKeyboardLayout(handler, type);
  if (f.displayChanges != displayChanges) {
    displayChanges = f.displayChanges;
    if (!initial) mac->displayChange();
  }
}

void World::Private::applyApplications(const ApplicationsFile& given) {
  ApplicationsFile f = given;
  hostProcesses = f.hostProcesses;
  for (const auto& [pid, t] : f.startTimes) workspace->setProcessStartTime(pid, t);
  // A real process that ended without a word (a crashed agent) runs no more.
  f.running.erase(std::remove_if(f.running.begin(), f.running.end(),
                                 [&](const RunningApplication& a) {
                                   return f.hostProcesses.count(a.processIdentifier) && !hostProcessAlive(a.processIdentifier);
                                 }),
                  f.running.end());
  auto current = workspace->runningApplications();
  bool same = current.size() == f.running.size();
  for (size_t i = 0; same && i < current.size(); ++i) {
    const auto &a = current[i], &b = f.running[i];
    same = a.processIdentifier == b.processIdentifier && a.bundleIdentifier == b.bundleIdentifier &&
           a.bundleURL == b.bundleURL && a.executableURL == b.executableURL && a.localizedName == b.localizedName &&
           a.active == b.active && a.activationPolicy == b.activationPolicy;
  }
  if (same) return;
  for (const auto& a : current) workspace->terminate(a.processIdentifier);
  for (const auto& a : f.running) workspace->launch(a, a.active);
}

// Reads every shared file under a shared lock, then applies those that changed, outside the
// lock (callbacks may write and take it again).
Status World::Private::sync(bool initial) {
  std::map<std::string, std::string> bytes;
  {
    FileLock lock(lockFd, false);
    if (!lock.held()) return fail(folder + ": cannot lock the world: " + errnoText(errno));
    for (const char* file : kSharedFiles) {
      auto b = readBytes(path(file));
      if (!b) return b.status();
      bytes[file] = std::move(*b);
    }
    auto b = readBytes(path(kWorldInputFile));
    if (!b) return b.status();
    bytes[kWorldInputFile] = std::move(*b);
  }
  // Every file is applied that can be; the first failure is what the caller hears.
  Status firstError;
  auto note = [&](Status e) {
    if (firstError.ok()) firstError = std::move(e);
  };
  auto changed = [&](const char* file) { return initial || bytes[file] != known[file]; };
  // Devices before properties (values of a new device go in with it), properties before
  // system state (a device is complete before the events that may make clients look at it).
  if (changed(kWorldDevicesFile) || changed(kWorldPropertiesFile)) {
    PropertiesFile props;
    if (Status s = parseBytes(path(kWorldPropertiesFile), bytes[kWorldPropertiesFile], &props)) properties = props.services;
    else note(std::move(s));
  }
  if (changed(kWorldDevicesFile)) {
    DevicesFile f;
    if (Status s = parseBytes(path(kWorldDevicesFile), bytes[kWorldDevicesFile], &f)) note(applyDevices(f));
    else note(std::move(s));
    known[kWorldDevicesFile] = bytes[kWorldDevicesFile];
  }
  if (changed(kWorldPropertiesFile)) {
    PropertiesFile f;
    // A malformed properties file was noted above.
    if (parseBytes(path(kWorldPropertiesFile), bytes[kWorldPropertiesFile], &f)) applyProperties(f);
    known[kWorldPropertiesFile] = bytes[kWorldPropertiesFile];
  }
  if (changed(kWorldSystemFile)) {
    SystemFile f;
    if (Status s = parseBytes(path(kWorldSystemFile), bytes[kWorldSystemFile], &f)) applySystem(f, initial);
    else note(std::move(s));
    known[kWorldSystemFile] = bytes[kWorldSystemFile];
  }
  if (changed(kWorldApplicationsFile)) {
    ApplicationsFile f;
    if (Status s = parseBytes(path(kWorldApplicationsFile), bytes[kWorldApplicationsFile], &f)) applyApplications(f);
    else note(std::move(s));
    known[kWorldApplicationsFile] = bytes[kWorldApplicationsFile];
  }
  // Input last: it may move devices that arrived in the same pass.
  if (changed(kWorldInputFile)) {
    InputFile f;
    if (Status s = parseBytes(path(kWorldInputFile), bytes[kWorldInputFile], &f)) applyInput(f, initial);
    else note(std::move(s));
    known[kWorldInputFile] = bytes[kWorldInputFile];
  }
  return firstError;
}

// Hands on the events numbered after the last seen, except this object's own. When the
// world is opened, what is there is history and nothing is handed on.
void World::Private::applyInput(const InputFile& f, bool initial) {
  if (!initial) {
    for (const auto& ev : f.events) {
      if (ev.seq <= inputSeen || ev.writer == inputWriter) continue;
      if (ev.device != 0) mac->postInputReport(ev.device, ev.values);
      else mac->postMouseMoved(ev.deltaX, ev.deltaY);
    }
  }
  inputSeen = std::max(inputSeen, f.nextSeq - 1);
}

}  // namespace vl::sim

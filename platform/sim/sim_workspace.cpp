// The simulated workspace's implementation.
#include "platform/sim/sim_workspace.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>

#include "core/plist/codec.h"

namespace vl::sim {

namespace fs = std::filesystem;

namespace {
// Folder extensions the file manager shows as single files.
bool isPackageExtension(const std::string& ext) {
  static const char* const kinds[] = {".app", ".bundle", ".prefPane", ".framework", ".plugin", ".kext"};
  return std::any_of(std::begin(kinds), std::end(kinds), [&](const char* k) { return ext == k; });
}
}  // namespace

RunningApplication& SimWorkspace::launch(RunningApplication app, bool activate) {
  if (app.processIdentifier == 0) app.processIdentifier = nextPid_++;
  if (activate)
    for (auto& r : running_) r.active = false;
  app.active = activate;
  running_.push_back(std::move(app));
  return running_.back();
}

void SimWorkspace::terminate(int32_t pid) {
  running_.erase(std::remove_if(running_.begin(), running_.end(),
                                [&](const RunningApplication& r) { return r.processIdentifier == pid; }),
                 running_.end());
}

void SimWorkspace::startProcess(const std::string& name) { processes_.push_back(name); }

void SimWorkspace::stopProcess(const std::string& name) {
  auto it = std::find(processes_.begin(), processes_.end(), name);
  if (it != processes_.end()) processes_.erase(it);
}

std::vector<std::string> SimWorkspace::processNames() const {
  // An application's command is its executable's name; one without an executable shows by
  // its localized name.
  std::vector<std::string> names;
  for (const auto& r : runningApplications()) {
    const std::string& exe = r.executableURL;
    size_t slash = exe.find_last_of('/');
    names.push_back(exe.empty() ? r.localizedName : exe.substr(slash == std::string::npos ? 0 : slash + 1));
  }
  names.insert(names.end(), processes_.begin(), processes_.end());
  return names;
}

Status SimWorkspace::openApplication(const std::string& bundlePath) {
  std::optional<std::string> id = bundleIdentifierAtPath(bundlePath);
  if (!id) return Status::failure(1, bundlePath + " is no application bundle");
  for (const auto& r : runningApplications())
    if (r.bundleIdentifier == *id) return Status::success();
  pl::ReadResult info = pl::readFile((fs::path(bundlePath) / "Contents" / "Info.plist").string());
  std::string executable = info ? info.value->stringFor("CFBundleExecutable").value_or("") : std::string();
  RunningApplication app;
  app.bundleIdentifier = *id;
  app.bundleURL = bundlePath;
  if (!executable.empty()) app.executableURL = (fs::path(bundlePath) / "Contents" / "MacOS" / executable).string();
  app.localizedName = displayNameAtPath(bundlePath);
  launch(std::move(app));
  return Status::success();
}

void SimWorkspace::activate(int32_t pid) {
  for (auto& r : running_) r.active = r.processIdentifier == pid;
}

void SimWorkspace::registerApplication(const std::string& bundleID, const std::string& path) {
  registered_[bundleID] = path;
}

void SimWorkspace::unregisterApplication(const std::string& bundleID) { registered_.erase(bundleID); }

bool SimWorkspace::makeBundle(const std::string& path, const std::string& bundleID, bool register_) {
  std::error_code ec;
  std::string name = fs::path(path).stem().string();
  fs::create_directories(fs::path(path) / "Contents" / "MacOS", ec);
  if (ec) return false;
  pl::Dict info;
  info["CFBundleIdentifier"] = pl::Value(bundleID);
  info["CFBundleExecutable"] = pl::Value(name);
  info["CFBundleName"] = pl::Value(name);
  std::string xml = pl::writeXml(pl::Value(info));
  {
    std::ofstream out(fs::path(path) / "Contents" / "Info.plist", std::ios::binary);
    out << xml;
    if (!out) return false;
  }
  {
    std::ofstream exe(fs::path(path) / "Contents" / "MacOS" / name, std::ios::binary);
    exe << "#!/bin/sh\n";
    if (!exe) return false;
  }
  if (register_) registerApplication(bundleID, path);
  return true;
}

std::vector<RunningApplication> SimWorkspace::runningApplications() const {
  if (!alive_) return running_;
  std::vector<RunningApplication> out;
  for (const auto& r : running_)
    if (alive_(r)) out.push_back(r);
  return out;
}

void SimWorkspace::setLivenessCheck(std::function<bool(const RunningApplication&)> alive) { alive_ = std::move(alive); }

std::optional<RunningApplication> SimWorkspace::frontmostApplication() const {
  for (const auto& r : runningApplications())
    if (r.active) return r;
  return std::nullopt;
}

std::optional<std::string> SimWorkspace::urlForApplicationWithBundleIdentifier(const std::string& bundleID) const {
  auto it = registered_.find(bundleID);
  if (it == registered_.end()) return std::nullopt;
  std::error_code ec;
  if (!fs::exists(it->second, ec)) return std::nullopt;
  return it->second;
}

bool SimWorkspace::isFilePackageAtPath(const std::string& path) const {
  std::error_code ec;
  if (!fs::is_directory(path, ec)) return false;
  return isPackageExtension(fs::path(path).extension().string()) ||
         fs::exists(fs::path(path) / "Contents" / "Info.plist", ec);
}

std::optional<std::string> SimWorkspace::bundleIdentifierAtPath(const std::string& path) const {
  std::error_code ec;
  if (!fs::is_directory(path, ec)) return std::nullopt;
  pl::ReadResult r = pl::readFile((fs::path(path) / "Contents" / "Info.plist").string());
  if (!r) return std::nullopt;
  auto id = r.value->stringFor("CFBundleIdentifier");
  if (!id || id->empty()) return std::nullopt;
  return id;
}

std::string SimWorkspace::displayNameAtPath(const std::string& path) const {
  fs::path p(path);
  while (!p.empty() && p.filename().empty()) p = p.parent_path();
  std::string name = p.filename().string();
  // The file manager hides the extension of application bundles.
  if (p.extension() == ".app") name = p.stem().string();
  return name.empty() ? path : name;
}

std::string SimWorkspace::iconForFile(const std::string& path) const {
  std::error_code ec;
  if (!fs::exists(path, ec)) return {};
  fs::path icon = fs::path(path) / "Contents" / "Resources" / "AppIcon.icns";
  if (fs::exists(icon, ec)) return icon.string();
  return isFilePackageAtPath(path) ? "application-x-executable" : "text-x-generic";
}

std::optional<double> SimWorkspace::processStartTime(int32_t pid) const {
  if (startTimeSource_)
    if (auto t = startTimeSource_(pid)) return t;
  auto it = startTimes_.find(pid);
  if (it == startTimes_.end()) return std::nullopt;
  auto apps = runningApplications();
  bool running = std::any_of(apps.begin(), apps.end(), [&](const RunningApplication& r) { return r.processIdentifier == pid; });
  if (!running) return std::nullopt;
  return it->second;
}

Status SimWorkspace::terminateRunningApplication(int32_t pid) {
  terminationRequests_.push_back(pid);
  auto running = runningApplications();
  auto it = std::find_if(running.begin(), running.end(),
                         [&](const RunningApplication& r) { return r.processIdentifier == pid; });
  if (it == running.end()) return Status::failure(ESRCH, "no application runs as process " + std::to_string(pid));
  Status refused = Status::failure(1, it->localizedName + " refused to quit");
  if (terminationHandler_) return terminationHandler_(*it) ? Status::success() : refused;
  if (refusing_.count(pid)) return refused;
  terminate(pid);
  return Status::success();
}

void SimWorkspace::setProcessStartTime(int32_t pid, double seconds) { startTimes_[pid] = seconds; }

void SimWorkspace::setProcessStartTimeSource(std::function<std::optional<double>(int32_t)> source) {
  startTimeSource_ = std::move(source);
}

void SimWorkspace::refuseTermination(int32_t pid, bool refuse) {
  if (refuse) refusing_.insert(pid);
  else refusing_.erase(pid);
}

void SimWorkspace::setTerminationHandler(std::function<bool(const RunningApplication&)> handler) {
  terminationHandler_ = std::move(handler);
}

}  // namespace vl::sim

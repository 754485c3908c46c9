// Test support: a simulated Mac on a virtual run loop with its platform set (handed to what a
// test makes), a temporary home folder and recording Alerts and Lifecycle ports.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/errors/error_context.h"
#include "core/errors/error_stack.h"
#include "core/runloop/virtual_runloop.h"
#include "platform/api/alerts.h"
#include "platform/api/paths.h"
#include "platform/api/platform.h"
#include "platform/sim/sim_mac.h"

namespace vl::test {

// A temporary folder removed with the object.
class TempDir {
 public:
  TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "velmora-test-XXXXXX").string();
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data())) throw std::runtime_error("mkdtemp failed");
    path_ = buf.data();
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

class RecordingAlerts : public Alerts {
 public:
  void beep() override { ++beeps; }
  void presentModal(const ErrorInfo& e) override { modal.push_back(e); }
  void presentSheet(const ErrorInfo& e, std::function<void()> done) override {
    sheets.push_back(e);
    sheetHadCompletion.push_back(static_cast<bool>(done));
    if (done) done();
  }
  void displayNotice(const std::string& h, const std::string& m, const std::string& icon) override {
    notices.push_back({h, m, icon});
  }
  int beeps = 0;
  std::vector<ErrorInfo> modal, sheets;
  std::vector<bool> sheetHadCompletion;
  struct Notice {
    std::string header, message, icon;
  };
  std::vector<Notice> notices;
};

class RecordingLifecycle : public Lifecycle {
 public:
  void terminate(int status) override { exits.push_back(status); }
  void terminateApplication(const std::string& id) override { terminatedApps.push_back(id); }
  std::vector<int> exits;
  std::vector<std::string> terminatedApps;
};

inline std::string sourceResources() { return VELMORA_SOURCE_RESOURCES; }

// The usual test bench: everything a core function needs, in virtual time.
class SimWorld : public ::testing::Test {
 protected:
  SimWorld()
      : mac(&loop),
        paths(home.path(), sourceResources()),
        platform(makePlatform()) {}

  Platform makePlatform() {
    Platform p = mac.platform();
    p.runLoop = &loop;
    p.paths = &paths;
    p.alerts = &alerts;
    p.lifecycle = &lifecycle;
    return p;
  }

  // Attaches a fixture profile and returns its top entry (fails the test when missing).
  RegistryId attach(const std::string& profile) {
    auto top = mac.attachProfile(sim::deviceProfileFolder(VELMORA_SOURCE_RESOURCES), profile);
    EXPECT_TRUE(top) << profile << ": " << top.status().detail();
    return top.valueOr(0);
  }
  // The first pointing service of a device.
  ServiceRef pointingService(RegistryId top) {
    auto services = mac.eventServicesOf(top);
    EXPECT_FALSE(services.empty());
    return services.empty() ? nullptr : mac.serviceFor(services.front());
  }

  VirtualRunLoop loop;
  sim::SimMac mac;
  TempDir home;
  RootedPaths paths;
  RecordingAlerts alerts;
  RecordingLifecycle lifecycle;
  // The ports of this simulated Mac; tests hand it to the code under test.
  Platform platform;
  // This test's own error stack and process identity (a tool unless the test says otherwise).
  ErrorStack errors;
  ProcessIdentity identity;
  ErrorContext errorContext() { return {errors, identity}; }
};

}  // namespace vl::test

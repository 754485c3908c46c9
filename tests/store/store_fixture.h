// Test bench of the store tests: the simulated Mac with a workspace, a temporary home, and
// helpers to open, save and reopen stores there.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "core/store/records.h"
#include "platform/sim/sim_workspace.h"
#include "support/sim_world.h"

namespace vl::test {

class StoreBench : public SimWorld {
 protected:
  StoreBench() : workspace(home.path() + "/Users/me") {
    platform.workspace = &workspace;
    std::filesystem::create_directories(workspace.homeDirectory());
  }

  std::string storePath() const { return home.path() + "/store/Device.dvsetting"; }

  StoreContextRef open(bool readOnly, const std::string& path = {}, const StoreModel* model = nullptr) {
    std::filesystem::create_directories(std::filesystem::path(path.empty() ? storePath() : path).parent_path());
    StoreContextRef ctx;
    ErrorInfo err;
    int32_t rc = QS814createMOC(platform, errors, path.empty() ? storePath() : path, model, readOnly, &ctx, &err, records);
    EXPECT_EQ(rc, 0) << err.userInfo[kDescriptionKey].describe();
    return ctx;
  }

  void save(ManagedObjectContext* ctx) {
    ErrorInfo err;
    ASSERT_EQ(QS814saveMOC(ctx, &err), 0) << err.userInfo[kDescriptionKey].describe();
  }

  // A device with its five default favourites, as the pane makes one (no registry needed).
  QS802DeviceClass* makeDevice(ManagedObjectContext* ctx, uint32_t vid, uint32_t pid, uint32_t mid,
                               const std::string& transport) {
    QS802DeviceClass* d = QS814insertDevice(errors, ctx);
    d->setVid(vid);
    d->setPid(pid);
    d->setMid(mid);
    d->setTransport(transport);
    d->setPointerResolution(std::string("400"));
    EXPECT_NE(d->insert5CursorSpeedsWithSens(-1, -1), nullptr);
    return d;
  }

  static std::string fileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  sim::SimWorkspace workspace;
  // What the stores opened here give their records (empty unless a test sets it first).
  RecordSettings records;
};

}  // namespace vl::test

// Test bench of the curve graph: a store with devices on the simulated Mac and a recording
// stand-in for the pane controller.
#pragma once

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "core/store/records.h"
#include "pane/curves/default_curves.h"
#include "pane/graph/curve_view.h"
#include "store/store_fixture.h"

namespace vl::test {

class RecordingCurveHost : public CurveViewHost {
 public:
  void addCurveViewObserver(VL260CurveView* v) override { observer = v; }
  void removeCurveViewObserver(VL260CurveView* v) override {
    if (observer == v) observer = nullptr;
  }
  QS802DeviceClass* selectedDevice() const override { return device; }
  std::vector<QS805CursorSpeedClass*> cursorSpeedRows() const override {
    if (!device) return {};
    auto rows = device->cursorSpeeds();
    std::sort(rows.begin(), rows.end(), [](auto* a, auto* b) { return a->index() < b->index(); });
    return rows;
  }
  size_t cursorSpeedSelectionIndex() const override { return selection; }
  void selectCursorSpeedRow(size_t row) override {
    selectedRows.push_back(row);
    selection = row;
  }
  bool cursorSpeedTableEnabled() const override { return tableEnabled; }
  bool cursorSpeedTableIsFirstResponder() const override { return firstResponder; }
  bool isDeleted(const QS802DeviceClass* d) const override { return deleted.count(d) > 0; }
  bool mouseButtonDown() const override { return buttonDown; }
  std::optional<std::string> kernelExtensionPath(const std::string& id) const override {
    auto it = kexts.find(id);
    if (it == kexts.end()) return std::nullopt;
    return it->second;
  }
  std::optional<std::string> microsoftDriverPath() const override { return microsoftDriver; }
  bool karabinerElementsRunning() const override { return karabiner; }
  void removeAllUndoActions() override { ++undoClears; }
  void setNeedsDisplay() override { ++redraws; }
  void showSheetAlert(const std::string& m, const std::string& i) override { sheets.emplace_back(m, i); }

  // Selects a device and its selected favourite, then tells the view, as the controller does.
  void select(QS802DeviceClass* d, size_t row) {
    device = d;
    selection = row;
    if (observer) observer->observeValueForKeyPath(kObservedStatus);
  }

  VL260CurveView* observer = nullptr;
  QS802DeviceClass* device = nullptr;
  size_t selection = kNoCurve;
  bool tableEnabled = true, firstResponder = true, buttonDown = false, karabiner = false;
  std::set<const QS802DeviceClass*> deleted;
  std::map<std::string, std::string> kexts;
  std::optional<std::string> microsoftDriver;
  int undoClears = 0, redraws = 0;
  std::vector<std::pair<std::string, std::string>> sheets;
  std::vector<size_t> selectedRows;
};

class CurveViewBench : public StoreBench {
 protected:
  CurveViewBench() {
    records.defaultAcclTable = pl::Value(*defaultAcclTable());
    records.defaultAcclCurves = *defaultAcclCurves();
    ctx = open(false);
  }

  // A device record with five default favourites; connected to the profile's first pointing
  // service when a profile is given.
  QS802DeviceClass* device(uint32_t vid, uint32_t pid, const std::string& transport, const std::string& profile = {}) {
    QS802DeviceClass* d = makeDevice(ctx.get(), vid, pid, 0, transport);
    if (!profile.empty()) {
      EXPECT_EQ(d->VL702addClient(pointingService(attach(profile))), 0);
    }
    return d;
  }
  QS805CursorSpeedClass* row(QS802DeviceClass* d, int64_t index) {
    for (auto* cs : d->cursorSpeeds())
      if (cs->index() == index) return cs;
    return nullptr;
  }

  StoreContextRef ctx;
  RecordingCurveHost host;
};

}  // namespace vl::test

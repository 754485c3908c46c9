// Test bench of the speed tab's editing classes: a store with one device and its five
// favourites, a controller stand-in owning the selection and the undo, and the pane's window.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "core/store/records.h"
#include "pane/editing/editing_host.h"
#include "platform/sim/sim_pasteboard.h"
#include "tests/pane/fake_pane_window.h"
#include "tests/store/store_fixture.h"

namespace vl::test {

// The controller's side: the selected favourite of the one device, the store's undo, and a
// record of what was applied from outside.
class FakeSpeedHost : public SpeedEditingHost {
 public:
  std::vector<QS805CursorSpeedClass*> selection;
  UndoManager* undo = nullptr;
  struct Applied {
    double sensitivityDisplay, trackingSpeed;
    QS802DeviceClass* device;
  };
  std::vector<Applied> applied;

  std::vector<QS805CursorSpeedClass*> selectedCursorSpeeds() const override { return selection; }
  UndoManager* mainWindowUndoManager() override { return undo; }
  void applyRecommendedSens(double s, double t, QS802DeviceClass* d) override { applied.push_back({s, t, d}); }
};

class FakeFieldView : public SpeedFieldView {
 public:
  double value = std::numeric_limits<double>::quiet_NaN();
  int selections = 0;
  int firstResponders = 0;
  double doubleValue() const override { return value; }
  void selectText() override { ++selections; }
  void makeFirstResponder() override { ++firstResponders; }
};

class EditingBench : public StoreBench {
 protected:
  EditingBench() {
    records.bundle = {"quillon.Velmora.prefpane", "", "", ""};
    platform.pasteboard = &pasteboard;
    ctx = open(false);
    device = makeDevice(ctx.get(), 0x46d, 0xc52b, 0x4069, "USB");
    device->setName(std::string("MX Master"));
    favourite = device->selectedCursorSpeed();
    host.selection = {favourite};
    host.undo = ctx->undoManager();
    settle();
  }
  // Ends a run-loop pass: the changes so far are announced and their undo group closes.
  void settle() { loop.runPass(); }

  StoreContextRef ctx;
  QS802DeviceClass* device = nullptr;
  QS805CursorSpeedClass* favourite = nullptr;
  FakeSpeedHost host;
  FakePaneWindow window;
  sim::SimPasteboard pasteboard;
};

}  // namespace vl::test

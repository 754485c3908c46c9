// The pane's device list: what it lists and in which order, which device it selects, and how it
// follows devices that come and go.
#include "core/store/user_info_record.h"
#include "tests/pane/controller_bench.h"

namespace vl {
namespace {

class PaneDevices : public test::PaneBench {};

TEST_F(PaneDevices, ShiftAloneAtLoadListsEveryStoredDevice) {
  struct Case {
    ModifierFlags held;
    std::vector<std::string> listed;
  };
  const std::vector<Case> cases = {
      {{}, {}},
      {{.shift = true}, {"Alpha", "Alpha", "Beta"}},
      {{.shift = true, .option = true}, {}},
      {{.shift = true, .command = true}, {}},
      {{.control = true}, {}},
  };
  writeStore({{0x1, 0x20, 0, "USB", "Beta"}, {0x1, 0x11, 0, "USB", "Alpha"}, {0x1, 0x10, 0, "USB", "Alpha"}});
  for (const Case& c : cases) {
    window.modifiers = c.held;
    open();
    EXPECT_EQ(deviceNames(), c.listed);
    leave();
    pane.reset();
  }
}

TEST_F(PaneDevices, SortedByNameThenProductThenModel) {
  writeStore({{0x1, 0x2, 5, "USB", "Same"}, {0x1, 0x2, 1, "USB", "Same"}, {0x1, 0x1, 9, "USB", "Same"},
              {0x1, 0x9, 0, "USB", "Other"}});
  window.modifiers.shift = true;
  open();
  std::vector<std::pair<uint32_t, uint32_t>> order;
  for (QS802DeviceClass* d : pane->deviceList().arrangedObjects()) order.emplace_back(d->pid(), d->mid());
  EXPECT_EQ(order, (std::vector<std::pair<uint32_t, uint32_t>>{{0x9, 0}, {0x1, 9}, {0x2, 1}, {0x2, 5}}));
}

TEST_F(PaneDevices, TheRememberedDeviceIsSelectedElseTheFirstRow) {
  struct Case {
    std::optional<std::string> remembered;
    std::string selected;
  };
  const std::vector<Case> cases = {
      {std::string("1-11-0-USB"), "B"},
      {std::string("1-99-0-USB"), "A"},  // no such device: the first row
      {std::nullopt, "A"},
  };
  for (const Case& c : cases) {
    std::filesystem::remove(*settings.storePath);
    writeStore({{0x1, 0x10, 0, "USB", "A"}, {0x1, 0x11, 0, "USB", "B"}}, c.remembered);
    window.modifiers.shift = true;
    open();
    ASSERT_TRUE(pane->selectedDevice());
    EXPECT_EQ(pane->selectedDevice()->displayName(), c.selected) << c.remembered.value_or("none");
    leave();
    pane.reset();
  }
}

TEST_F(PaneDevices, TheSelectionIsRememberedWhenThePaneIsLeft) {
  writeStore({{0x1, 0x10, 0, "USB", "A"}, {0x1, 0x11, 0, "USB", "B"}});
  window.modifiers.shift = true;
  open();
  ASSERT_TRUE(pane->deviceList().setSelectionIndex(1));
  leave();
  EXPECT_EQ(pane->managedObjectContext(), nullptr);
  open();
  ASSERT_TRUE(pane->selectedDevice());
  EXPECT_EQ(pane->selectedDevice()->displayName(), "B");
}

TEST_F(PaneDevices, AnAttachedDeviceGetsItsRecordAndIsSelected) {
  open();
  EXPECT_EQ(pane->deviceList().count(), 0u);
  attach("magic-mouse-2-bluetooth");
  loop.advance(1.2 + 1.0 - 0.05);  // the pane's standby time plus that of a device arriving later
  EXPECT_EQ(pane->deviceList().count(), 0u);
  loop.advance(0.1);
  ASSERT_EQ(pane->deviceList().count(), 1u);
  QS802DeviceClass* device = pane->selectedDevice();
  ASSERT_TRUE(device);
  EXPECT_EQ(device->VL702status(), kVL702Controlled);
  EXPECT_EQ(pane->cursorSpeedList().count(), 5u);
  EXPECT_EQ(pane->cursorSpeedList().selectionIndex(), std::optional<size_t>(0));
  EXPECT_GT(window.deviceReloads, 0);
}

TEST_F(PaneDevices, TheLastChosenDeviceIsChosenAgainWhenItAppearsAfterAnother) {
  open();
  attach("generic-usb-optical-mouse");
  RegistryId magic = attach("magic-mouse-2-bluetooth");
  loop.advance(2.5);
  ASSERT_EQ(pane->deviceList().count(), 2u);
  auto indexOf = [this](const std::string& name) -> std::optional<size_t> {
    for (size_t i = 0; i < pane->deviceList().count(); ++i)
      if (pane->deviceList().row(i)->displayName().find(name) != std::string::npos) return i;
    return std::nullopt;
  };
  ASSERT_TRUE(indexOf("Magic Mouse"));
  ASSERT_TRUE(pane->deviceList().setSelectionIndex(indexOf("Magic Mouse")));
  leave();
  pane.reset();

  // Next time the other mouse is there first and is shown meanwhile; the chosen one takes over
  // when it comes.
  ASSERT_TRUE(mac.detach(magic));
  open();
  loop.advance(2.5);
  ASSERT_EQ(pane->deviceList().count(), 1u);
  ASSERT_TRUE(pane->selectedDevice());
  attach("magic-mouse-2-bluetooth");
  loop.advance(2.5);
  ASSERT_EQ(pane->deviceList().count(), 2u);
  ASSERT_TRUE(pane->selectedDevice());
  EXPECT_NE(pane->selectedDevice()->displayName().find("Magic Mouse"), std::string::npos)
      << pane->selectedDevice()->displayName();
  // And the pane's own pick of the meantime was not remembered over the user's choice.
  leave();
  pane.reset();
  open();
  loop.advance(2.5);
  ASSERT_TRUE(pane->selectedDevice());
  EXPECT_NE(pane->selectedDevice()->displayName().find("Magic Mouse"), std::string::npos);
}

TEST_F(PaneDevices, DetachingNeverAlertsAndUnsupportedServicesAreIgnored) {
  RegistryId mouse = attach("generic-usb-optical-mouse");
  attach("hid-compatibility-shim");
  attach("wacom-intuos-tablet");
  open();
  loop.advance(1.3);
  std::vector<std::string> listed = deviceNames();
  EXPECT_EQ(listed.size(), 1u) << "only the supported mouse is listed";
  ASSERT_TRUE(mac.detach(mouse));
  loop.advance(3);
  EXPECT_TRUE(alerts.notices.empty());
  EXPECT_TRUE(alerts.sheets.empty());
  EXPECT_TRUE(window.alerts.empty());
  EXPECT_FALSE(ended());
  EXPECT_EQ(pane->deviceList().count(), 0u) << "a device no driver drives leaves the list";
  // It stays in the store with its favourites.
  window.modifiers.shift = true;
  pane->loadDeviceList();
  EXPECT_EQ(pane->deviceList().count(), 1u);
}

TEST_F(PaneDevices, ADeviceStoredEarlierKeepsItsRecord) {
  writeStore({{0x093A, 0x2510, 0, "USB", "My Mouse"}});
  attach("generic-usb-optical-mouse");
  open();
  loop.advance(1.3);
  ASSERT_EQ(pane->deviceList().count(), 1u);
  EXPECT_EQ(pane->selectedDevice()->displayName(), "My Mouse");
  EXPECT_EQ(QS814allDevices(pane->managedObjectContext()).size(), 1u);
}

}  // namespace
}  // namespace vl

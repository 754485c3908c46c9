// The pane tells the agent of saved changes: one command per burst of changes to a record,
// sent after the store was saved, and only for changes the agent acts on.
#include <filesystem>

#include "core/store/app_record.h"
#include "tests/pane/controller_bench.h"

namespace vl {
namespace {

class PaneChanges : public test::PaneBench {
 protected:
  // Opens the pane with a plain USB mouse attached and waits until it is listed.
  void openWithMouse() {
    attach("generic-usb-optical-mouse");
    open();
    loop.advance(1.3);  // the pane's standby time
    ASSERT_EQ(pane->deviceList().count(), 1u);
    ASSERT_TRUE(pane->cursorSpeedList().selectedObject());
  }
  QS805CursorSpeedClass* selected() { return pane->cursorSpeedList().selectedObject(); }
  // How many applications the store file holds, read by another program.
  size_t storedApplications() {
    StoreContextRef ctx;
    ErrorInfo error;
    EXPECT_EQ(QS814createMOC(platform, errors, settings.storePath, nullptr, true, &ctx, &error), 0);
    return ctx ? ctx->fetch(EntityKind::Application).size() : 0;
  }
  // The favourite as the store file holds it, read by another program.
  std::optional<std::string> storedSensitivity(int64_t index) {
    StoreContextRef ctx;
    ErrorInfo error;
    EXPECT_EQ(QS814createMOC(platform, errors, settings.storePath, nullptr, true, &ctx, &error), 0);
    for (QS802DeviceClass* d : QS814allDevices(ctx.get()))
      for (QS805CursorSpeedClass* cs : d->cursorSpeeds())
        if (cs->index() == index) return cs->sensitivity();
    return std::nullopt;
  }
};

TEST_F(PaneChanges, ABurstOfChangesSendsOneCommandWithTheLastValuesAfterTheSave) {
  openWithMouse();
  QS805CursorSpeedClass* cs = selected();
  size_t before = commands(cmd::kCursorSpeed).size();
  std::optional<std::string> savedWhenSent;
  for (const char* text : {"1000", "1100", "1200"}) {
    cs->setSensitivityDisplay(std::string(text));
    loop.runPass();
    loop.advance(0.03);
  }
  loop.advance(0.06);  // 0.09 s after the last change: still waiting
  EXPECT_EQ(commands(cmd::kCursorSpeed).size(), before);
  loop.advance(0.02);
  auto sent = commands(cmd::kCursorSpeed);
  ASSERT_EQ(sent.size(), before + 1);
  const pl::Dict& c = sent.back();
  EXPECT_EQ(commandString(c, key::kSensitivity), "800");
  EXPECT_EQ(commandString(c, key::kTrackingSpeed), "0.6875");
  EXPECT_EQ(commandUInt32(c, key::kVID), 0x093Au);
  EXPECT_EQ(commandString(c, key::kTransport), "USB");
  // The store was saved before the agent was told: it reads the last value.
  EXPECT_FALSE(pane->managedObjectContext()->hasChanges());
  EXPECT_EQ(storedSensitivity(cs->index()), "800");
  EXPECT_GE(window.commits, 1);
  EXPECT_GE(window.restored, 1);
}

TEST_F(PaneChanges, ChoosingAnotherFavouriteSendsItsValues) {
  openWithMouse();
  size_t before = commands(cmd::kCursorSpeed).size();
  ASSERT_TRUE(pane->cursorSpeedList().setSelectionIndex(3));
  loop.runPass();
  loop.advance(0.2);
  auto sent = commands(cmd::kCursorSpeed);
  ASSERT_EQ(sent.size(), before + 1);
  EXPECT_EQ(commandString(sent.back(), key::kSensitivity), "700");  // the fourth default favourite
  EXPECT_EQ(pane->selectedDevice()->cursorSpeedSelectedIndex(), 3);
}

TEST_F(PaneChanges, TurningADeviceOffSendsTheActivationCommandAndClearsUndo) {
  openWithMouse();
  pane->selectedDevice()->setCursorSpeedDisabled(true);
  loop.runPass();
  EXPECT_TRUE(pane->canUndo());
  loop.advance(0.2);
  auto sent = commands(cmd::kCursorSpeedActivate);
  ASSERT_EQ(sent.size(), 1u);
  ASSERT_TRUE(sent.back().count(key::kDisabled));
  EXPECT_TRUE(sent.back().at(key::kDisabled).boolValue());
  EXPECT_FALSE(pane->canUndo());
}

TEST_F(PaneChanges, LockingAFavouriteSavesWithoutACommand) {
  openWithMouse();
  size_t before = mac.postedNotifications().size();
  selected()->setIsLocked(true);
  loop.runPass();
  loop.advance(0.2);
  EXPECT_EQ(mac.postedNotifications().size(), before);
  EXPECT_FALSE(pane->managedObjectContext()->hasChanges());
  EXPECT_FALSE(pane->canUndo());
}

TEST_F(PaneChanges, OnlySnappingChangesOfApplicationsReachTheAgent) {
  openWithMouse();
  size_t before = commands(cmd::kAutoCursorSnapping).size();
  const size_t appsBefore = storedApplications();
  std::string app = home.path() + "/Applications/TextEdit.app";
  ASSERT_TRUE(workspace.makeBundle(app, "com.apple.TextEdit"));
  QS803AppClass* rec = QS803AppClass::insertSnappingAppWithObject(errors, AppObject(FileURL{app}), pane->managedObjectContext());
  ASSERT_TRUE(rec);
  loop.runPass();
  loop.advance(0.2);
  // A new record that snaps as the default does changes nothing for the agent.
  size_t afterInsert = commands(cmd::kAutoCursorSnapping).size();
  EXPECT_EQ(afterInsert, before + (rec->snappingIX() == std::optional<size_t>(0) ? 0u : 1u));

  // The new row is in the store file at once, without waiting for the sheet to close.
  EXPECT_FALSE(pane->managedObjectContext()->hasChanges());
  EXPECT_EQ(storedApplications(), appsBefore + 1);

  rec->setName(std::string("My Editor"));
  loop.runPass();
  loop.advance(0.2);
  EXPECT_EQ(commands(cmd::kAutoCursorSnapping).size(), afterInsert) << "a rename is not a snapping change";
  EXPECT_FALSE(pane->managedObjectContext()->hasChanges()) << "the new name is saved too";

  rec->setSnapping(std::string(kSnappingDefaultButton));
  loop.runPass();
  loop.advance(0.2);
  auto sent = commands(cmd::kAutoCursorSnapping);
  ASSERT_EQ(sent.size(), afterInsert + 1);
  EXPECT_FALSE(sent.back().count(key::kApplication)) << "the command carries only the sender";
}

TEST_F(PaneChanges, LeavingThePaneCancelsPendingCommands) {
  openWithMouse();
  size_t before = commands(cmd::kCursorSpeed).size();
  int64_t index = selected()->index();
  selected()->setSensitivityDisplay(std::string("1500"));
  loop.runPass();
  leave();
  loop.advance(1);
  EXPECT_EQ(commands(cmd::kCursorSpeed).size(), before);
  // shouldUnselect saved the change all the same; the agent reads it at its next apply.
  EXPECT_EQ(storedSensitivity(index), "500");
}

TEST_F(PaneChanges, ARefusedEditIsNeitherSavedNorSent) {
  openWithMouse();
  size_t before = commands(cmd::kCursorSpeed).size();
  window.refuseCommit = true;
  selected()->setSensitivityDisplay(std::string("1500"));
  loop.runPass();
  loop.advance(0.2);
  EXPECT_EQ(commands(cmd::kCursorSpeed).size(), before);
  EXPECT_TRUE(pane->managedObjectContext()->hasChanges());
  EXPECT_FALSE(pane->shouldUnselect()) << "the pane stays while the field refuses its text";
}

}  // namespace
}  // namespace vl

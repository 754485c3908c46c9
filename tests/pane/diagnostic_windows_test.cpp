// The diagnostic sheets' logic: the accessibility warning's texts and buttons, the stored-device
// sheet's delete rule and removal, the registry dump, and the pane's log window.
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "core/store/object_context.h"
#include "pane/windows/ax_warning.h"
#include "pane/windows/device_sheet.h"
#include "pane/windows/log_viewer.h"
#include "pane/windows/registry_viewer.h"
#include "platform/sim/sim_desktop.h"
#include "tests/pane/controller_bench.h"

namespace vl {
namespace {

// --- Accessibility warning ---------------------------------------------------------------------

class RecordingAXView : public AXWarnWindowView {
 public:
  void showSheet(const AXWarningTexts& t) override { shown.push_back(t); }
  void closeSheet() override { ++closes; }
  void runConfirmAlert(const SheetAlert& a, std::function<void(int)> c) override {
    confirms.push_back(a);
    completion = std::move(c);
  }
  std::vector<AXWarningTexts> shown;
  int closes = 0;
  std::vector<SheetAlert> confirms;
  std::function<void(int)> completion;
};

TEST(AXWarningTexts, NameWhoIsUntrustedAndGiveTheMatchingAdvice) {
  struct Case {
    bool agent, host;
    const char* message;
    const char* informative;
  };
  const std::vector<Case> cases = {
      {true, true,
       "You need to allow “Velmora Manager” and “System Preferences” to use accessibility features in Security & Privacy.",
       "If this message is displayed even though you have already done it, please uncheck and check “Velmora Manager” "
       "and “System Preferences” again in the accessibility list."},
      {true, false, "You need to allow “Velmora Manager” to use accessibility features in Security & Privacy.",
       "If this message is displayed even though you have already done it, please uncheck and check “Velmora Manager” "
       "again in the accessibility list."},
      {false, true, "You need to allow “System Preferences” to use accessibility features in Security & Privacy.",
       "If this message is displayed even though you have already done it, please click Cancel button and quit "
       "“System Preferences”."},
  };
  for (const Case& c : cases) {
    auto t = axWarningTexts(c.agent, c.host);
    ASSERT_TRUE(t);
    EXPECT_EQ(t->message, c.message);
    EXPECT_EQ(t->informative, c.informative);
  }
  EXPECT_FALSE(axWarningTexts(false, false));
}

class AXWarning : public test::PaneBench {
 protected:
  void SetUp() override {
    make();
    warning = std::make_unique<VL216AXWarnWinDelegate>(VL216AXWarnWinDelegate::Ports::from(pane->platform()), *pane, view);
    pane->setAXWarnWindow(warning.get());
  }
  void TearDown() override { pane->setAXWarnWindow(nullptr); }
  RecordingAXView view;
  std::unique_ptr<VL216AXWarnWinDelegate> warning;
};

TEST_F(AXWarning, ShownWhenThePaneShowsAndTheHostIsNotTrusted) {
  mac.desktop().setTrusted(false);
  open();
  ASSERT_EQ(view.shown.size(), 1u);
  EXPECT_NE(view.shown[0].message.find("“System Preferences”"), std::string::npos);
  EXPECT_TRUE(warning->isVisible());
}

TEST_F(AXWarning, NotShownWhenEveryoneIsTrustedOrBeforeCatalina) {
  open();
  EXPECT_TRUE(view.shown.empty());
  leave();
  mac.desktop().setTrusted(false);
  mac.setOsVersion({10, 14, 6});
  open();
  EXPECT_TRUE(view.shown.empty());
}

TEST_F(AXWarning, OkShowsAllThenAsksTheAgentAndTheSystem) {
  mac.desktop().setTrusted(false);
  open();
  int promptsBefore = mac.desktop().prompts();
  warning->okButton();
  EXPECT_FALSE(warning->isVisible());
  EXPECT_TRUE(window.showAllVisible);
  EXPECT_TRUE(commands(cmd::kAccessibilityWarning).empty()) << "the command waits for the next pass";
  loop.runUntilIdle();
  EXPECT_EQ(commands(cmd::kAccessibilityWarning).size(), 1u);
  EXPECT_EQ(mac.desktop().prompts(), promptsBefore + 1);
}

TEST_F(AXWarning, ReturnInTheLastClearQuestionDoesNothingAndOnlyItsOKClears) {
  mac.desktop().setTrusted(true);
  open();
  window.alertAnswer = kAlertFirstButtonReturn;
  warning->clearButton();
  ASSERT_EQ(window.alerts.size(), 1u);
  EXPECT_EQ(window.alerts[0].alert.messageText, "Clear all configurations of “Accessibility” and “Input Monitoring”.");
  ASSERT_EQ(view.confirms.size(), 1u);
  EXPECT_EQ(view.confirms[0].messageText, "Are you sure to clear all configurations of “Accessibility” and “Input Monitoring”?");
  // The question is asked through the alert whose buttons have no key equivalent; until one is
  // clicked nothing happens.
  loop.runUntilIdle();
  EXPECT_TRUE(mac.desktop().trusted());
  view.completion(kAlertFirstButtonReturn);
  EXPECT_TRUE(mac.desktop().trusted()) << "cleared on the next pass";
  loop.runUntilIdle();
  EXPECT_FALSE(mac.desktop().trusted());
  ASSERT_EQ(window.alerts.size(), 2u);
  EXPECT_EQ(window.alerts[1].alert.messageText, "Please logout your account.");
}

TEST_F(AXWarning, CancellingEitherClearQuestionKeepsThePermissions) {
  open();
  window.alertAnswer = kAlertSecondButtonReturn;
  warning->clearButton();
  EXPECT_TRUE(view.confirms.empty());
  window.alertAnswer = kAlertFirstButtonReturn;
  warning->clearButton();
  view.completion(kAlertSecondButtonReturn);
  loop.runUntilIdle();
  EXPECT_TRUE(mac.desktop().trusted());
}

TEST_F(AXWarning, WithoutAPermissionToResetTheUserIsToldNothingIsNeeded) {
  platform.accessibility = nullptr;
  pane->setAXWarnWindow(nullptr);
  make();
  VL216AXWarnWinDelegate w(VL216AXWarnWinDelegate::Ports::from(pane->platform()), *pane, view);
  w.clearAccessibility();
  ASSERT_EQ(window.alerts.size(), 1u);
  EXPECT_EQ(window.alerts[0].alert.messageText, kNoPermissionText);
}

// --- Stored devices ----------------------------------------------------------------------------

class RecordingDeviceView : public DeviceWindowView {
 public:
  void showSheet() override { ++shows; }
  void closeSheet() override { ++closes; }
  void reloadTable() override { ++reloads; }
  void setDeleteButtonHidden(bool h) override { hidden = h; }
  int shows = 0, closes = 0, reloads = 0;
  bool hidden = false;
};

class StoredDevices : public test::PaneBench {
 protected:
  size_t rowNamed(VL220DeviceWinDelegate& sheet, const std::string& name) {
    for (size_t i = 0; i < sheet.rows().size(); ++i)
      if (sheet.rows()[i]->displayName() == name) return i;
    ADD_FAILURE() << name;
    return 0;
  }
  RecordingDeviceView view;
};

TEST_F(StoredDevices, DeleteShowsOnlyForASelectionOfDisconnectedDevices) {
  writeStore({{0x1, 0x10, 0, "USB", "Old A"}, {0x1, 0x11, 0, "USB", "Old B"}});
  attach("generic-usb-optical-mouse");
  open();
  loop.advance(1.3);  // the pane's standby time for a new device
  VL220DeviceWinDelegate sheet(*pane, view);
  sheet.showDeviceWindow();
  ASSERT_EQ(sheet.rows().size(), 3u) << "disconnected devices are listed too";
  size_t a = rowNamed(sheet, "Old A"), b = rowNamed(sheet, "Old B");
  size_t connected = 3 - a - b;
  struct Case {
    std::set<size_t> rows;
    bool hidden;
  };
  for (const Case& c : {Case{{}, true}, Case{{a}, false}, Case{{a, b}, false}, Case{{connected}, true},
                        Case{{a, connected}, true}}) {
    sheet.tableViewSelectionDidChange(c.rows);
    EXPECT_EQ(view.hidden, c.hidden) << c.rows.size();
  }
  // Removing with a connected device selected removes nothing.
  sheet.removeDevice();
  EXPECT_EQ(sheet.rows().size(), 3u);
}

TEST_F(StoredDevices, RemovedDevicesLeaveTheStoreAndTheSheetStaysOnShowAll) {
  writeStore({{0x1, 0x10, 0, "USB", "Old A"}, {0x1, 0x11, 0, "USB", "Old B"}});
  open();
  auto sheet = std::make_unique<VL220DeviceWinDelegate>(*pane, view);
  window.sheets = {sheet.get()};
  sheet->showDeviceWindow();
  EXPECT_TRUE(pane->isMOCUndoRegisteredWindow());
  sheet->tableViewSelectionDidChange({rowNamed(*sheet, "Old A")});
  sheet->removeDevice();
  ASSERT_EQ(sheet->rows().size(), 1u);
  EXPECT_EQ(sheet->rows()[0]->displayName(), "Old B");
  EXPECT_TRUE(sheet->selectedRows().empty());
  EXPECT_TRUE(view.hidden);
  // The pane does not close this sheet on its own.
  pane->cancelAttachedSheet();
  EXPECT_TRUE(sheet->isVisible());
  sheet->closeDeviceWindow();
  EXPECT_FALSE(pane->isMOCUndoRegisteredWindow());
  window.sheets.clear();
  sheet.reset();
  leave();
  // Saved: the next visit finds only the device that was kept.
  window.modifiers.shift = true;
  pane.reset();
  open();
  EXPECT_EQ(deviceNames(), std::vector<std::string>{"Old B"});
}

// --- Registry viewer ---------------------------------------------------------------------------

class RecordingRegistryView : public RegistryWindowView {
 public:
  void showSheet() override { ++shows; }
  void closeSheet() override { ++closes; }
  void setText(const std::string& t) override { text = t; }
  void runSavePanel(const std::string& name, std::function<void(const std::optional<std::string>&)> c) override {
    proposed = name;
    c(savePath);
  }
  void showSaveFailure(const std::string& m) override { failures.push_back(m); }
  int shows = 0, closes = 0;
  std::vector<std::string> failures;
  std::string text, proposed;
  std::optional<std::string> savePath;
};

class RegistryViewer : public test::SimWorld {};

TEST_F(RegistryViewer, DumpsTheHIDDevicesWithTheirAncestorsAndProperties) {
  RecordingRegistryView view;
  VL229IORegWinDelegate viewer(platform.registry, view);
  viewer.showIORegWindow();
  EXPECT_EQ(view.text, kRegistryError) << "no HID device yet";

  attach("generic-usb-optical-mouse");
  viewer.showIORegWindow();
  const std::string& dump = view.text;
  ASSERT_TRUE(dump.starts_with("+-o ")) << dump;
  size_t device = dump.find("<class ");
  EXPECT_NE(device, std::string::npos);
  // Ancestors are indented one step per level; the HID device's properties follow it in braces.
  size_t hid = dump.find("<class AppleUserHIDDevice");
  ASSERT_NE(hid, std::string::npos) << dump;
  EXPECT_NE(dump.find("\n          {\n", hid), std::string::npos) << dump;
  EXPECT_NE(dump.find("\"VendorID\" = "), std::string::npos) << dump;
  EXPECT_NE(dump.find("  +-o "), std::string::npos) << dump;

  test::TempDir dir;
  view.savePath = dir.path() + "/out.txt";
  viewer.save();
  EXPECT_EQ(view.proposed, "IORegistry.txt");
  std::ifstream in(*view.savePath);
  std::string saved((std::istreambuf_iterator<char>(in)), {});
  EXPECT_EQ(saved, dump);

  EXPECT_TRUE(view.failures.empty());

  // A FIFO chosen in the save panel is neither replaced nor waited on: the user is told.
  std::string fifo = dir.path() + "/fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  view.savePath = fifo;
  viewer.save();
  ASSERT_EQ(view.failures.size(), 1u);
  EXPECT_NE(view.failures[0].find("a FIFO"), std::string::npos) << view.failures[0];
  struct stat st {};
  ASSERT_EQ(::lstat(fifo.c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));

  EXPECT_TRUE(viewer.cancelByPrefPane());
  EXPECT_EQ(view.text, kRegistryPleaseWait);
}

// --- Log window ----------------------------------------------------------------------------------

class RecordingLogView : public LogWindowView {
 public:
  void showText(const std::string& t, double) override { text = t; }
  void cancelAttachedSheet() override { ++sheetCancels; }
  void closeWindow() override { ++closes; }
  void runSavePanel(const std::string& name, std::function<void(const std::optional<std::string>&)> c) override {
    proposed = name;
    c(savePath);
  }
  void showSaveFailure(const std::string& m) override { failures.push_back(m); }
  std::vector<std::string> failures;
  std::string text, proposed;
  std::optional<std::string> savePath;
  int sheetCancels = 0, closes = 0;
};

TEST(PaneLogWindow, AppendsClearsAndSavesUnderThePanesName) {
  RecordingLogView view;
  VL219LogWinDelegate log(view);
  log.putLogViewer("one");
  log.putLogViewer("");
  EXPECT_TRUE(log.textViewDoCommandBySelector("insertNewline:"));
  log.putLogViewer("two");
  EXPECT_EQ(view.text, "one\ntwo");
  EXPECT_FALSE(log.textViewDoCommandBySelector("moveUp:"));

  test::TempDir dir;
  view.savePath = dir.path() + "/log.txt";
  log.saveLogViewer();
  EXPECT_EQ(view.proposed, "Velmora_Prefpane_Log.txt");
  std::ifstream in(*view.savePath);
  EXPECT_EQ(std::string((std::istreambuf_iterator<char>(in)), {}), "one\ntwo");
  EXPECT_TRUE(view.failures.empty());
  // A folder where the file would go: refused with a message, the folder untouched.
  view.savePath = dir.path();
  log.saveLogViewer();
  ASSERT_EQ(view.failures.size(), 1u);
  EXPECT_NE(view.failures[0].find("a folder"), std::string::npos) << view.failures[0];

  EXPECT_TRUE(log.textViewDoCommandBySelector("deleteBackward:"));
  EXPECT_EQ(view.text, "");
}

TEST(PaneLogWindow, ClosingRestoresACapturedStandardError) {
  RecordingLogView view;
  VL219LogWinDelegate log(view);
  int pipeFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);
  int saved = ::dup(STDERR_FILENO);
  ::dup2(pipeFds[1], STDERR_FILENO);
  log.model().oldStdErr = saved;
  log.model().logPipe[0] = pipeFds[0];
  log.model().logPipe[1] = pipeFds[1];
  log.closeLogViewer();
  EXPECT_EQ(view.sheetCancels, 1);
  EXPECT_EQ(view.closes, 1);
  EXPECT_EQ(log.model().logPipe[0], -1);
  // Standard error is the original again: writing to it no longer reaches the closed pipe.
  EXPECT_EQ(log.model().oldStdErr, 0);
  EXPECT_GE(::write(STDERR_FILENO, "", 0), 0);
}

}  // namespace
}  // namespace vl

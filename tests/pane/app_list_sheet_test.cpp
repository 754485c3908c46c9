// The application list sheet: which rows can be deleted, adding from the chooser, the running
// applications and drops (the host refused, a listed application selected instead of added,
// a drop stopping at its first alert), the sheet's hand-over of selection and undo, and the
// warning about the snapping agent's accessibility permission.
#include <filesystem>
#include <fstream>

#include "core/store/app_record.h"
#include "core/system/desktop_entry.h"
#include "platform/api/desktop.h"
#include "pane/windows/app_list.h"
#include "pane/windows/app_list_sheet.h"
#include "tests/pane/controller_bench.h"
#include "tests/pane/fake_app_list_view.h"

namespace vl {
namespace {

namespace fs = std::filesystem;

class AppListSheet : public test::PaneBench {
 protected:
  void SetUp() override {
    open();
    ASSERT_FALSE(ended());
    sheet = std::make_unique<VL222AppWinDelegate>(VL222AppWinDelegate::Ports::from(platform), *pane, view);
    sheet->awakeFromNib();
  }
  void TearDown() override { sheet.reset(); }

  // An application bundle on disk; returns its path.
  std::string bundle(const std::string& name, const std::string& id) {
    std::string path = home.path() + "/Applications/" + name + ".app";
    EXPECT_TRUE(workspace.makeBundle(path, id));
    return path;
  }
  int32_t run(const std::string& name, const std::string& id, int32_t policy = kActivationPolicyRegular) {
    RunningApplication app;
    app.bundleIdentifier = id;
    app.bundleURL = bundle(name, id);
    app.localizedName = name;
    app.activationPolicy = policy;
    return workspace.launch(app).processIdentifier;
  }
  std::vector<std::string> listed() const {
    std::vector<std::string> names;
    for (QS803AppClass* a : pane->appList().arrangedObjects()) names.push_back(a->displayName());
    return names;
  }
  std::string alertText(size_t i = 0) const { return view.alerts.at(i).messageText; }

  test::FakeAppListView view;
  std::unique_ptr<VL222AppWinDelegate> sheet;
};

TEST_F(AppListSheet, TheListHoldsTheDefaultRecordFirstAndOnlySnappingRecords) {
  ManagedObjectContext* ctx = pane->managedObjectContext();
  QS803AppClass* standard = QS814insertApplication(errors, ctx);  // the sibling product's kind
  ASSERT_TRUE(standard->initWithURL(bundle("Zed", "com.example.zed")));
  ASSERT_TRUE(QS803AppClass::insertSnappingAppWithObject(errors, FileURL{bundle("Alpha", "com.example.alpha")}, ctx));
  loop.runPass();
  EXPECT_EQ(listed(), (std::vector<std::string>{"Default", "Alpha"}));
}

TEST_F(AppListSheet, DeleteIsEnabledOnlyWhenNoSelectedRowIsTheDefault) {
  ASSERT_FALSE(sheet->addAppWithURL(bundle("Mail", "com.apple.mail")));
  ASSERT_EQ(listed(), (std::vector<std::string>{"Default", "Mail"}));
  struct Case {
    std::vector<size_t> rows;
    bool enabled;
  } cases[] = {{{}, false}, {{0}, false}, {{1}, true}, {{0, 1}, false}};
  for (const auto& c : cases) {
    view.rows = c.rows;
    sheet->tableViewSelectionDidChange();
    EXPECT_EQ(view.deleteEnabled, c.enabled) << c.rows.size();
  }
  // Removing with the default selected as well leaves the default in place.
  view.rows = {0, 1};
  sheet->removeApp();
  EXPECT_EQ(listed(), (std::vector<std::string>{"Default"}));
  EXPECT_TRUE(view.rows.empty());
  EXPECT_FALSE(view.deleteEnabled);
}

TEST_F(AppListSheet, AnApplicationAlreadyListedIsSelectedNotAddedAgain) {
  std::string mail = bundle("Mail", "com.apple.mail");
  std::string notes = bundle("Notes", "com.apple.notes");
  ASSERT_FALSE(sheet->addAppWithURL(mail));
  ASSERT_FALSE(sheet->addAppWithURL(notes));
  ASSERT_EQ(view.rows, (std::vector<size_t>{1, 2}));  // the remembered row plus the new one
  view.rows = {2};
  // The same bundle elsewhere has the same key ("Mail.app"), whatever its letters' case.
  std::string other = home.path() + "/Other/mail.app";
  ASSERT_TRUE(workspace.makeBundle(other, "com.apple.mail", false));
  EXPECT_FALSE(sheet->addAppWithURL(other));
  EXPECT_EQ(listed().size(), 3u);
  EXPECT_EQ(view.rows, (std::vector<size_t>{1, 2}));
}

TEST_F(AppListSheet, TheHostIsRefusedWithItsAlert) {
  std::string host = bundle("System Preferences", kHostBundleID);
  EXPECT_TRUE(sheet->addAppWithURL(host));
  EXPECT_EQ(alertText(), "“System Preferences” is not added.");
  EXPECT_EQ(listed().size(), 1u);
  // The same for the running host.
  int32_t pid = run("System Preferences", kHostBundleID);
  (void)pid;
  RunningApplication proc = workspace.runningApplications().back();
  EXPECT_TRUE(sheet->addApp(proc));
  EXPECT_EQ(view.alerts.size(), 2u);
  // And the settings program that stands in its place here.
  EXPECT_TRUE(sheet->addAppWithURL(bundle("Velmora Settings", kSettingsHostBundleID)));
  EXPECT_EQ(view.alerts.size(), 3u);
  EXPECT_EQ(listed().size(), 1u);
}

TEST_F(AppListSheet, ADropOfThreeStopsAtTheHostAfterAddingTheFirst) {
  std::vector<std::string> dropped = {bundle("Mail", "com.apple.mail"), bundle("System Preferences", kHostBundleID),
                                      bundle("Notes", "com.apple.notes")};
  ASSERT_TRUE(sheet->validateDrop(dropped));
  EXPECT_TRUE(sheet->acceptDrop(dropped));
  loop.advance(0.09);  // the drag session ends first
  EXPECT_EQ(listed().size(), 1u);
  loop.advance(0.02);
  EXPECT_EQ(listed(), (std::vector<std::string>{"Default", "Mail"}));
  ASSERT_EQ(view.alerts.size(), 1u);
  EXPECT_EQ(alertText(), "“System Preferences” is not added.");
}

TEST_F(AppListSheet, DropsAreValidatedByTheirFirstFileAndTheWindowsState) {
  std::string app = bundle("Mail", "com.apple.mail");
  std::string folder = home.path() + "/Documents";
  fs::create_directories(folder);
  std::string fakeApp = home.path() + "/Fake.app";  // a folder named like an application
  fs::create_directories(fakeApp);
  EXPECT_FALSE(sheet->validateDrop({folder, app}));
  EXPECT_FALSE(sheet->validateDrop({fakeApp}));
  EXPECT_FALSE(sheet->validateDrop({}));
  EXPECT_TRUE(sheet->validateDrop({app, folder}));
  view.modalSession = true;
  EXPECT_FALSE(sheet->validateDrop({app}));
  view.modalSession = false;
  view.alertUp = true;
  EXPECT_FALSE(sheet->validateDrop({app}));
}

TEST_F(AppListSheet, TheChooserAddsAnApplicationLaterAndRefusesOtherFiles) {
  sheet->openAppPanel();
  EXPECT_EQ(view.panelMessage, "Please select an application.");
  EXPECT_FALSE(view.panelButtonEnabled);
  view.finishPanel(kPanelOK, bundle("Mail", "com.apple.mail"));
  EXPECT_EQ(listed().size(), 1u);  // not while the chooser closes
  loop.advance(0.1);
  EXPECT_EQ(listed(), (std::vector<std::string>{"Default", "Mail"}));

  std::string text = home.path() + "/notes.txt";
  std::ofstream(text) << "hello";
  sheet->openAppPanel();
  view.finishPanel(kPanelOK, text);
  loop.advance(0.1);
  ASSERT_EQ(view.alerts.size(), 1u);
  EXPECT_EQ(alertText(), "The file is not added because it is not an application.");

  sheet->openAppPanel();
  view.finishPanel(kPanelCancel, std::nullopt);
  loop.advance(0.2);
  EXPECT_EQ(view.alerts.size(), 1u);
  EXPECT_EQ(listed().size(), 2u);
}

TEST_F(AppListSheet, ThePopUpOffersRegularApplicationsByNameAndAddsTheChosenOne) {
  int32_t textEdit = run("TextEdit", "com.apple.TextEdit");
  run("Dock Helper", "com.example.accessory", kActivationPolicyAccessory);
  run("daemon", "com.example.daemon", kActivationPolicyProhibited);
  int32_t calc = run("calculator", "com.apple.calculator");
  sheet->openAppPanel();
  ASSERT_EQ(view.popup.size(), 2u);
  EXPECT_EQ(view.popup[0].title, "calculator");  // case does not order names
  EXPECT_EQ(view.popup[0].tag, calc);
  EXPECT_EQ(view.popup[1].tag, textEdit);
  EXPECT_EQ(view.popup[1].iconSize, 18);
  EXPECT_FALSE(view.popup[1].icon.empty());
  view.popupChoice = 1;
  sheet->enableAppPanelButton();
  EXPECT_TRUE(view.panelButtonEnabled);
  sheet->appPanelSelectProc();
  EXPECT_EQ(view.panelsCancelled, 1);
  EXPECT_FALSE(view.panel);
  EXPECT_EQ(listed(), (std::vector<std::string>{"Default", "TextEdit"}));
  QS803AppClass* added = pane->appList().row(1);
  EXPECT_EQ(added->bundleID(), "com.apple.TextEdit");
  EXPECT_EQ(added->snapping(), std::optional<std::string>("Same as Default"));
  EXPECT_EQ(view.rows, (std::vector<size_t>{1}));
}

TEST_F(AppListSheet, ShowingAndClosingMarkUndoAndHandTheSelectionBack) {
  ASSERT_FALSE(sheet->addAppWithURL(bundle("Mail", "com.apple.mail")));
  view.rows.clear();
  window.sheets = {sheet.get()};
  sheet->showAppWindow();
  EXPECT_TRUE(view.sheetShown);
  EXPECT_EQ(view.rows, (std::vector<size_t>{0}));  // nothing selected in the list: row 0
  EXPECT_TRUE(pane->isMOCUndoRegisteredWindow());
  // An edit in the sheet is undone from the sheet's Edit menu.
  pane->appList().row(1)->setSnappingMenuIX(2);
  loop.runPass();
  EXPECT_TRUE(pane->canUndo());
  view.rows = {1};
  // Leaving the pane ("Show All") closes the sheet through the controller.
  pane->cancelAttachedSheet();
  EXPECT_FALSE(view.sheetShown);
  EXPECT_FALSE(pane->canUndo());
  EXPECT_EQ(pane->appList().selectionIndexes(), (std::vector<size_t>{1}));
  // Shown again, the list's selection is the table's.
  sheet->showAppWindow();
  EXPECT_EQ(view.rows, (std::vector<size_t>{1}));
  // A field that refuses its text keeps the sheet up.
  view.refuseCommit = true;
  sheet->closeAppWindow();
  EXPECT_TRUE(view.sheetShown);
}

TEST_F(AppListSheet, ChoosingASnappingTargetIsSavedAndSentAddingANeutralRecordIsNot) {
  loop.advance(0.2);
  size_t before = commands(cmd::kAutoCursorSnapping).size();
  ASSERT_FALSE(sheet->addAppWithURL(bundle("Mail", "com.apple.mail")));
  loop.advance(0.2);
  EXPECT_EQ(commands(cmd::kAutoCursorSnapping).size(), before);  // "Same as Default" changes nothing
  pane->appList().row(1)->setSnappingMenuIX(2);                   // "Default Button"
  loop.runPass();
  loop.advance(0.2);
  EXPECT_EQ(commands(cmd::kAutoCursorSnapping).size(), before + 1);
  EXPECT_FALSE(pane->managedObjectContext()->hasChanges());
}

TEST_F(AppListSheet, TheSnappingWarningNamesTheAgentThatSnapsAndAsksItForThePermission) {
  struct Case {
    std::string buildDate;  // later than the sibling's: this product's agent snaps
    std::string agent, receiver;
  } cases[] = {{"2099-01-01", "Velmora Manager", "quillon.Velmora.boa"},
               {"", "Drovana Manager", "quillon.boa.Drovana"}};
  for (const auto& c : cases) {
    sheet.reset();
    leave();
    pane.reset();
    settings.buildDate = c.buildDate;
    window.alerts.clear();
    window.showAllVisible = false;
    open();
    size_t before = commands(cmd::kAccessibilityWarning).size();
    pane->clickSnappingWarning();
    ASSERT_EQ(window.alerts.size(), 1u);
    EXPECT_EQ(window.alerts[0].alert.messageText,
              "You need to allow “" + c.agent + "” to use accessibility features in Security & Privacy.");
    EXPECT_NE(window.alerts[0].alert.informativeText.find("check “" + c.agent + "” again"), std::string::npos);
    EXPECT_EQ(window.alerts[0].alert.buttons.size(), 2u);
    loop.runUntilIdle();
    auto sent = commands(cmd::kAccessibilityWarning);
    ASSERT_EQ(sent.size(), before + 1);
    EXPECT_EQ(commandString(sent.back(), key::kReceiver), c.receiver);
    EXPECT_TRUE(window.showAllVisible);
  }
  // Cancelled: nothing is sent.
  window.alertAnswer = kAlertSecondButtonReturn;
  size_t before = commands(cmd::kAccessibilityWarning).size();
  pane->clickSnappingWarning();
  loop.runUntilIdle();
  EXPECT_EQ(commands(cmd::kAccessibilityWarning).size(), before);
}

TEST_F(AppListSheet, ADesktopEntryIsAnApplicationNamedByItsEntry) {
  std::string entry = home.path() + "/org.example.Editor.desktop";
  std::ofstream(entry) << "# an editor\n[Desktop Entry]\nType=Application\nName=Editor\nExec=editor %F\nIcon=editor\n";
  ASSERT_TRUE(sheet->validateDrop({entry}));
  EXPECT_FALSE(sheet->addAppWithURL(entry));
  EXPECT_EQ(listed(), (std::vector<std::string>{"Default", "Editor"}));
  EXPECT_FALSE(sheet->addAppWithURL(entry));  // listed already
  EXPECT_EQ(listed().size(), 2u);
}

TEST(DesktopEntry, OnlyWellFormedApplicationEntriesAreRead) {
  const std::string head = "[Desktop Entry]\n";
  struct Case {
    const char* what;
    std::string bytes;
    bool ok;
  } cases[] = {
      {"plain", head + "Type=Application\nName=A\nExec=a\n", true},
      {"spaces around =, locale keys, other groups", head + "Type = Application\nName=A\nName[de_DE@euro]=B\nExec=a\n[Desktop Action x]\nName=y\n", true},
      {"D-Bus activated without Exec", head + "Type=Application\nName=A\nDBusActivatable=true\n", true},
      {"no main group", "Type=Application\nName=A\nExec=a\n", false},
      {"another group first", "[Other]\nName=x\n" + head + "Type=Application\nName=A\nExec=a\n", false},
      {"duplicate key", head + "Type=Application\nName=A\nName=B\nExec=a\n", false},
      {"no Name", head + "Type=Application\nExec=a\n", false},
      {"no Exec", head + "Type=Application\nName=A\n", false},
      {"line without =", head + "Type=Application\nName=A\nExec=a\ngarbage\n", false},
      {"bad escape", head + "Type=Application\nName=A\\q\nExec=a\n", false},
      {"bad boolean", head + "Type=Application\nName=A\nExec=a\nHidden=yes\n", false},
      {"not UTF-8", head + "Type=Application\nName=\xC3\x28\nExec=a\n", false},
      {"control character", head + "Type=Application\nName=A\x01\nExec=a\n", false},
      {"too large", head + "Type=Application\nName=A\nExec=a\n#" + std::string(kMaxDesktopEntryBytes, 'x') + "\n", false},
  };
  for (const auto& c : cases) {
    std::string error;
    auto e = parseDesktopEntry(c.bytes, &error);
    EXPECT_EQ(e.has_value(), c.ok) << c.what << ": " << error;
    if (!c.ok) {
      EXPECT_FALSE(error.empty()) << c.what;
    }
  }
  auto e = parseDesktopEntry(head + "Type=Application\nName=My\\sApp\nExec=a\n");
  ASSERT_TRUE(e);
  EXPECT_EQ(e->name, "My App");
  EXPECT_EQ(desktopFileID("/usr/share/applications/org.example.App.desktop"), "org.example.App");
}

}  // namespace
}  // namespace vl

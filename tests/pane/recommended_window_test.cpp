// The recommended-settings window in virtual time against the simulated web service: consent,
// every outcome of a download, downloads that never block and never show a stale answer,
// search mode, applying an entry, and the upload command on closing (also from the pane).
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

#include "core/plist/codec.h"
#include "core/store/web_sharing.h"
#include "pane/windows/recommended_window.h"
#include "tests/pane/controller_bench.h"
#include "tests/store/store_fixture.h"

namespace vl::test {
namespace {

// A recording window: what it shows now, and the history of table contents.
class FakeRecdView : public RecommendedWindowView {
 public:
  bool visible = false;
  bool minimised = false;
  bool searchControls = false;
  std::map<RecdField, std::string> fields;
  std::vector<RecommendedEntry> rows;
  std::vector<std::vector<RecommendedEntry>> rowHistory;
  std::optional<size_t> selection;
  std::string status, total;
  std::vector<std::string> statusHistory;
  int dates = 0;
  bool progress = false;
  int progressStarts = 0;
  int fronts = 0, beeps = 0, closes = 0;
  struct Sheet {
    SheetAlert alert;
    std::function<void(int)> completion;
  };
  std::optional<Sheet> sheet;
  std::vector<SheetAlert> sheetsShown;

  void showWindow() override {
    visible = true;
    minimised = false;
  }
  void bringToFront() override { ++fronts; }
  void closeWindow() override {
    visible = false;
    ++closes;
  }
  bool isVisibleOrMinimised() const override { return visible || minimised; }
  void setSearchControlsVisible(bool v) override { searchControls = v; }
  std::string fieldText(RecdField f) const override {
    auto it = fields.find(f);
    return it == fields.end() ? "" : it->second;
  }
  void setFieldText(RecdField f, const std::string& t) override { fields[f] = t; }
  void setRows(const std::vector<RecommendedEntry>& r) override {
    rows = r;
    rowHistory.push_back(r);
  }
  std::optional<size_t> selectedRow() const override { return selection; }
  void setStatusText(const std::string& t) override {
    status = t;
    statusHistory.push_back(t);
  }
  void setTotalText(const std::string& t) override { total = t; }
  void showDownloadDate() override { ++dates; }
  void startProgress() override {
    progress = true;
    ++progressStarts;
  }
  void stopProgress() override { progress = false; }
  bool hasSheet() const override { return sheet.has_value(); }
  void showSheetAlert(const SheetAlert& a, std::function<void(int)> c) override {
    sheet = Sheet{a, std::move(c)};
    sheetsShown.push_back(a);
  }
  void endSheet() override { press(kAlertCancelledReturn); }
  void beep() override { ++beeps; }

  void press(int returnCode) {
    if (!sheet) return;
    auto c = std::move(sheet->completion);
    sheet.reset();
    if (c) c(returnCode);
  }
};

class FakeRecdHost : public RecommendedWindowHost {
 public:
  ModifierFlags modifiers;
  std::set<const QS802DeviceClass*> deleted;
  struct Applied {
    double sensitivity, tracking;
    QS802DeviceClass* device;
  };
  std::vector<Applied> applied;
  ModifierFlags recommendedModifierFlags() const override { return modifiers; }
  bool isDeleted(const QS802DeviceClass* d) const override { return !d || deleted.count(d) > 0; }
  void applyRecommendedSens(double s, double t, QS802DeviceClass* d) override { applied.push_back({s, t, d}); }
};

pl::Dict rankEntry(double acc, double sen, int64_t qty) {
  return pl::Dict{{"Acc", acc}, {"Sen", sen}, {"Qty", pl::Value::int64(qty)}};
}

pl::Data xmlBytes(const pl::Value& v) {
  std::string s = pl::writeXml(v);
  return pl::Data(s.begin(), s.end());
}

const std::string kRankPath = "/velmora/xml/setting_rank.php";

class RecdWindow : public StoreBench {
 protected:
  RecdWindow() {
    ctx = open(false);
    // A Logitech mouse paired over Bluetooth: its ranking is the receiver model's.
    device = makeDevice(ctx.get(), 0x46D, 0xB012, 0, "Bluetooth");
    window = std::make_unique<QS838RecdWinClass>(QS838RecdWinClass::Ports::from(platform), host, "quillon.Velmora.prefpane");
    window->setViewFactory([this](QS838RecdWinClass&) {
      auto v = std::make_unique<FakeRecdView>();
      view = v.get();
      return v;
    });
    mac.setOsVersion({10, 15, 7});
  }
  ~RecdWindow() override { window.reset(); }

  void share(bool on) { window->setSharingEnabled(on); }
  void answer(const pl::Array& entries) { mac.setHttpAnswer(kRankPath, xmlBytes(pl::Value(entries))); }
  // Opens the window and lets the delayed download start.
  void openAndStart() {
    window->show(device);
    loop.advance(0.1);
  }
  std::vector<pl::Dict> uploads() const {
    std::vector<pl::Dict> out;
    for (const auto& n : mac.postedNotifications())
      if (n.name == kBOANotificationName && commandString(n.userInfo, key::kCommand) == cmd::kUploadCursorSpeed) {
        pl::Dict d = n.userInfo;
        d["object"] = n.object;
        out.push_back(d);
      }
    return out;
  }

  StoreContextRef ctx;
  QS802DeviceClass* device = nullptr;
  FakeRecdHost host;
  FakeRecdView* view = nullptr;
  std::unique_ptr<QS838RecdWinClass> window;
};

TEST_F(RecdWindow, ConsentFirstThenTheRankingOfTheNormalisedModel) {
  answer({rankEntry(0.6875, 1600, 40), rankEntry(1.5, 1500, 19)});
  window->show(device);
  ASSERT_NE(view, nullptr);
  EXPECT_TRUE(view->visible);
  EXPECT_FALSE(view->searchControls);
  EXPECT_EQ(view->fields[RecdField::Pid], "45074");  // the device's own values in the fields
  EXPECT_FALSE(view->sheet) << "the alert waits 0.1 s";
  loop.advance(0.1);
  ASSERT_TRUE(view->sheet);
  EXPECT_EQ(view->sheet->alert.messageText, recd::kSharingOff);
  EXPECT_EQ(view->sheet->alert.buttons, (std::vector<std::string>{"Start Sharing", "Cancel"}));
  EXPECT_EQ(view->beeps, 1);
  // A second request for the alert while it is up does nothing.
  window->showSharingAlert();
  EXPECT_EQ(view->sheetsShown.size(), 1u);

  view->press(kAlertSecondButtonReturn);
  EXPECT_EQ(view->status, recd::kSharingOff);
  EXPECT_FALSE(window->sharingEnabled());
  EXPECT_TRUE(mac.httpRequests().empty());

  window->showSharingAlert();
  view->press(kAlertFirstButtonReturn);
  EXPECT_TRUE(window->sharingEnabled());
  EXPECT_TRUE(mac.httpRequests().empty()) << "the download starts on the next pass";
  loop.runPass();
  ASSERT_EQ(mac.httpRequests().size(), 1u);
  EXPECT_EQ(mac.httpRequests()[0],
            kRankPath + "?VID=1133&PID=50475&MID=16449&Tra=USB&OS0=101200&OS1=0&Cnt=20");
  loop.runUntilIdle();
  ASSERT_EQ(view->rows.size(), 2u);
  EXPECT_EQ(view->rows[1].rat, 2);  // 19 × 4 ÷ 40 + 1
  EXPECT_EQ(view->status, recd::kListed);
}

TEST_F(RecdWindow, EveryOutcomeHasItsMessage) {
  pl::Array hundredAndOne(101, pl::Value(rankEntry(1, 1000, 5)));
  pl::Array listed{rankEntry(2, 1200, 8), rankEntry(1, 1000, 3)};
  listed.back().asDict()->emplace("Tot", 11);
  struct Case {
    const char* why;
    std::function<void()> serve;
    std::string status;
    size_t rows;
  } cases[] = {
      {"listed", [&] { answer(listed); }, recd::kListed, 2},
      {"empty", [&] { answer({}); }, recd::kNotShared, 0},
      {"101 entries", [&] { answer(hundredAndOne); }, recd::kWrongData, 0},
      {"rising Qty", [&] { answer({rankEntry(1, 1000, 3), rankEntry(1, 1000, 4)}); }, recd::kWrongData, 0},
      {"garbage", [&] { mac.setHttpAnswer(kRankPath, pl::Data{'<', 'h', 't', 'm', 'l', '>'}, 500); }, recd::kWrongData, 0},
      {"refused",
       [&] { mac.setHttpError(kRankPath, kURLErrorCannotConnectToHost); },
       "Failed to connect the server. Click the Recommend button to try again.\nDetails: NSURLErrorDomain, -1004", 0},
  };
  share(true);
  for (const Case& c : cases) {
    mac.setHttpDelay(0.5);  // the window is free while the answer is on its way
    c.serve();
    openAndStart();
    EXPECT_EQ(view->status, recd::kDownloading) << c.why;
    EXPECT_TRUE(view->progress) << c.why;
    loop.advance(0.5);
    EXPECT_EQ(view->status, c.status) << c.why;
    EXPECT_EQ(view->rows.size(), c.rows) << c.why;
    EXPECT_EQ(window->recommendedList().has_value(), c.rows > 0) << c.why;
    EXPECT_EQ(window->listShown(), c.rows > 0) << c.why;
    EXPECT_FALSE(view->progress) << c.why;
    if (c.rows) {
      EXPECT_EQ(view->total, "11") << c.why;
    }
    window->close();
  }
}

TEST_F(RecdWindow, ASilentServerTimesOutAfterFiveSecondsWithoutBlocking) {
  share(true);
  mac.setHttpDelay(60);
  answer({rankEntry(1, 1000, 3)});
  openAndStart();
  loop.advance(4.9);
  EXPECT_EQ(view->status, recd::kDownloading);
  EXPECT_TRUE(view->progress);
  EXPECT_TRUE(window->downloading());
  loop.advance(0.2);
  EXPECT_EQ(view->status, "Failed to connect the server. Click the Recommend button to try again.\nDetails: NSURLErrorDomain, -1001");
  EXPECT_FALSE(view->progress);
  EXPECT_FALSE(window->downloading());
}

TEST_F(RecdWindow, ANewerDownloadReplacesTheRunningOneAndItsAnswerIsNeverShown) {
  share(true);
  mac.setHttpDelay(3);
  answer({rankEntry(7, 700, 3)});
  openAndStart();
  loop.advance(1);
  answer({rankEntry(1, 1000, 9), rankEntry(2, 900, 8)});
  window->update();  // the search button, say
  loop.advance(10);
  ASSERT_EQ(mac.httpRequests().size(), 2u);
  for (const auto& shown : view->rowHistory)
    for (const auto& row : shown) EXPECT_NE(row.accValue(), 7) << "the abandoned answer was shown";
  EXPECT_EQ(view->rows.size(), 2u);
  EXPECT_EQ(view->progressStarts, 2);
  EXPECT_FALSE(view->progress);
}

TEST_F(RecdWindow, ClosingDuringADownloadCancelsItAndAsksTheAgentToUpload) {
  share(true);
  mac.setHttpDelay(3);
  answer({rankEntry(1, 1000, 3)});
  openAndStart();
  ASSERT_TRUE(window->downloading());
  window->close();
  EXPECT_FALSE(view->visible);
  EXPECT_FALSE(view->progress);
  EXPECT_EQ(loop.pendingCount(), 0u) << "the request's answer is no longer awaited";
  loop.advance(10);
  EXPECT_TRUE(view->rows.empty());
  EXPECT_NE(view->status, recd::kListed);
  auto sent = uploads();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(commandString(sent[0], key::kReceiver), "quillon.Velmora.boa");
  EXPECT_EQ(commandString(sent[0], "object"), "quillon.Velmora.prefpane");
  EXPECT_EQ(window->curDevice(), nullptr);
}

TEST_F(RecdWindow, TheUploadCommandDependsOnSharingAndOnTheBundle) {
  // Sharing off and nothing shown: nothing to upload.
  window->close();
  EXPECT_TRUE(uploads().empty());
  // A window open with the sharing alert up: closing ends the sheet without turning sharing on.
  openAndStart();
  ASSERT_TRUE(view->sheet);
  window->close();
  EXPECT_FALSE(view->sheet);
  EXPECT_FALSE(window->sharingEnabled());
  EXPECT_TRUE(uploads().empty());
  // The sibling product's pane asks its own agent; a foreign bundle asks nobody.
  struct Case {
    const char* bundle;
    std::optional<std::string> receiver;
  } cases[] = {{"quillon.prefpane.Drovana", "quillon.boa.Drovana"}, {"com.example.other", std::nullopt}};
  for (const auto& c : cases) {
    QS838RecdWinClass other(QS838RecdWinClass::Ports::from(platform), host, c.bundle);
    other.setSharingEnabled(true);
    size_t before = uploads().size();
    other.close();
    auto sent = uploads();
    if (!c.receiver) {
      EXPECT_EQ(sent.size(), before) << c.bundle;
      continue;
    }
    ASSERT_EQ(sent.size(), before + 1) << c.bundle;
    EXPECT_EQ(commandString(sent.back(), key::kReceiver), c.receiver);
    EXPECT_EQ(commandString(sent.back(), "object"), c.bundle);
  }
}

TEST_F(RecdWindow, SearchModeReadsTypedIdentitiesAndRanksByQuantity) {
  share(true);
  answer({rankEntry(1, 1000, 12), rankEntry(2, 800, 5)});
  host.modifiers.shift = true;
  window->show(device);
  EXPECT_TRUE(window->searchMode());
  EXPECT_TRUE(view->searchControls);
  EXPECT_EQ(window->curDevice(), nullptr);
  view->fields = {{RecdField::Vid, "46d"}, {RecdField::Pid, "c52b"}, {RecdField::Mid, "0x4041"}, {RecdField::Transport, "b"}};
  loop.advance(0.1);
  // "46d" begins with decimal digits, so it is 46; the others read as hexadecimal.
  EXPECT_EQ(view->fields[RecdField::Vid], "46");
  EXPECT_EQ(view->fields[RecdField::Pid], "50475");
  EXPECT_EQ(view->fields[RecdField::Mid], "16449");
  EXPECT_EQ(view->fields[RecdField::Transport], "Bluetooth");
  ASSERT_EQ(mac.httpRequests().size(), 1u);
  EXPECT_EQ(mac.httpRequests()[0], kRankPath + "?VID=46&PID=50475&MID=16449&Tra=Bluetooth&OS0=101200&OS1=0&Cnt=20")
      << "typed identities are not normalised";
  loop.runUntilIdle();
  ASSERT_EQ(view->rows.size(), 2u);
  EXPECT_EQ(view->rows[0].ran, 12);
  EXPECT_EQ(view->rows[1].ran, 5);
  // Nothing to apply to without a device.
  view->selection = 0;
  window->applySetting();
  EXPECT_TRUE(host.applied.empty());
  window->close();

  // Shift with Option is not search mode.
  host.modifiers.option = true;
  window->show(device);
  EXPECT_FALSE(window->searchMode());
  EXPECT_FALSE(view->searchControls);
  EXPECT_EQ(window->curDevice(), device);
}

TEST_F(RecdWindow, WithoutAUsableDeviceNothingIsAsked) {
  share(true);
  answer({rankEntry(1, 1000, 3)});
  window->show(nullptr);
  loop.advance(0.1);
  EXPECT_EQ(view->status, recd::kNoDevice);
  EXPECT_EQ(view->fields[RecdField::Vid], "");
  window->show(device);
  host.deleted.insert(device);
  loop.advance(0.1);
  EXPECT_EQ(view->status, recd::kNoDevice);
  EXPECT_EQ(window->curDevice(), nullptr);
  EXPECT_TRUE(mac.httpRequests().empty());
  // A closed window does not download.
  window->close();
  window->update();
  EXPECT_TRUE(mac.httpRequests().empty());
}

TEST_F(RecdWindow, ApplyingTakesTheSelectedRowOnly) {
  share(true);
  answer({rankEntry(0.5, 1700, 10), rankEntry(2.25, 1200, 4)});
  openAndStart();
  loop.runUntilIdle();
  window->applySetting();  // no selection
  view->selection = 2;     // past the end
  window->applySetting();
  EXPECT_TRUE(host.applied.empty());
  view->selection = 1;
  window->applySetting();
  ASSERT_EQ(host.applied.size(), 1u);
  EXPECT_DOUBLE_EQ(host.applied[0].sensitivity, 1200);
  EXPECT_DOUBLE_EQ(host.applied[0].tracking, 2.25);
  EXPECT_EQ(host.applied[0].device, device);
}

TEST_F(RecdWindow, ShowingAgainRestartsTheDelay) {
  share(true);
  answer({rankEntry(1, 1000, 3)});
  window->show(device);
  loop.advance(0.05);
  window->show(device);
  loop.advance(0.06);
  EXPECT_TRUE(mac.httpRequests().empty());
  loop.advance(0.05);
  EXPECT_EQ(mac.httpRequests().size(), 1u);
}

// --- From the pane ---------------------------------------------------------------------------------

class PaneRecd : public PaneBench {};

TEST_F(PaneRecd, LeavingThePaneWithSharingOnAsksForAnUploadThoughTheWindowWasNeverOpened) {
  open();
  leave();
  EXPECT_TRUE(commands(cmd::kUploadCursorSpeed).empty());
  EXPECT_TRUE(mac.defaults().setValue("quillon.Velmora.prefpane", kShareSettingsKey, pl::Value(true)).ok());
  pane->willSelect();
  pane->didSelect();
  leave();
  auto sent = commands(cmd::kUploadCursorSpeed);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(commandString(sent[0], key::kReceiver), "quillon.Velmora.boa");
}

TEST_F(PaneRecd, TheRecommendButtonOpensTheWindowForTheSelectedDevice) {
  attach("generic-usb-optical-mouse");
  open();
  loop.advance(1.3);
  ASSERT_NE(pane->selectedDevice(), nullptr);
  FakeRecdView* view = nullptr;
  pane->recommendedWindow().setViewFactory([&](QS838RecdWinClass&) {
    auto v = std::make_unique<FakeRecdView>();
    view = v.get();
    return v;
  });
  EXPECT_TRUE(mac.defaults().setValue("quillon.Velmora.prefpane", kShareSettingsKey, pl::Value(true)).ok());
  pane->showRecommendedWindow();
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(pane->recommendedWindow().curDevice(), pane->selectedDevice());
  loop.advance(0.1);
  auto requests = mac.httpRequests();
  EXPECT_EQ(std::count_if(requests.begin(), requests.end(), [](const std::string& r) { return r.starts_with(kRankPath); }), 1);
  leave();
  EXPECT_FALSE(view->visible);
  EXPECT_EQ(pane->recommendedWindow().curDevice(), nullptr);
  EXPECT_EQ(commands(cmd::kUploadCursorSpeed).size(), 1u);
}

}  // namespace
}  // namespace vl::test

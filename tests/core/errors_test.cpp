// The error stack's entry formats and capacity, the details text, and the alerts and fatal
// ends built on it.
#include <gtest/gtest.h>

#include "core/system/alerts.h"
#include "core/errors/error_stack.h"
#include "support/sim_world.h"

namespace vl {
namespace {

using test::SimWorld;

TEST(ErrorStack, EntryFormats) {
  ErrorStack errors;
  struct Case {
    const char* domain;
    int64_t code;
    const char* entry;
  } cases[] = {
      {nullptr, 8520352, "852.0352"}, {nullptr, 9999, "9999"},     {nullptr, -50, "-50"},
      {"NSCocoaErrorDomain", 4, "NSCocoaErrorDomain(4)"},           {nullptr, 10000, "1.0000"},
      {"", 12, "12"},                  {nullptr, 5220112, "522.0112"},
  };
  for (const auto& c : cases) {
    errors.clear();
    QS810stackError(errors, c.domain, c.code);
    auto entries = errorStackEntries(errors);
    ASSERT_EQ(entries.size(), 1u) << c.entry;
    EXPECT_EQ(entries[0], c.entry);
  }
}

TEST(ErrorStack, ZeroIsNotPushedAndFifteenSlotsKeepTheNewest) {
  ErrorStack errors;
  errors.clear();
  QS810stackError(errors, nullptr, 0);
  EXPECT_TRUE(errorStackEntries(errors).empty());
  for (int i = 1; i <= 16; ++i) QS810stackError(errors, nullptr, i);
  auto entries = errorStackEntries(errors);
  ASSERT_EQ(entries.size(), 15u);
  EXPECT_EQ(entries.front(), "16");
  EXPECT_EQ(entries.back(), "2");
}

TEST(ErrorStack, LongDomainIsCutTo99Characters) {
  ErrorStack errors;
  errors.clear();
  std::string domain(300, 'x');
  QS810stackError(errors, domain.c_str(), 7);
  auto entries = errorStackEntries(errors);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].size(), 99u);
}

TEST(ErrorStack, DetailsReadNewestFirstAndEmptyTheStack) {
  ErrorStack errors;
  errors.clear();
  // The chain of a rejected tracking speed as the layers push it.
  for (int64_t n : {8520366, 8520339, 5220076, 5220093, 5220112}) QS810stackError(errors, nullptr, n);
  BundleInfo b{"quillon.Velmora.boa", "Velmora Manager", "1.0", ""};
  EXPECT_EQ(QS810getErrorString(errors, b),
            "Error (Velmora Manager 1.0) 522.0112, 522.0093, 522.0076, 852.0339, 852.0366, ");
  EXPECT_EQ(QS810getErrorString(errors, b), "Error (Velmora Manager 1.0) ");
}

TEST(ErrorStack, PlatformErrorChainIsPushedOuterFirst) {
  ErrorStack errors;
  errors.clear();
  ErrorInfo e{"NSCocoaErrorDomain", 256, {}};
  e.userInfo[kUnderlyingErrorKey] = pl::Dict{{"domain", "NSPOSIXErrorDomain"}, {"code", 13}};
  QS810stackNSError(errors, &e);
  QS810stackNSError(errors, nullptr);
  auto entries = errorStackEntries(errors);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0], "NSPOSIXErrorDomain(13)");
  EXPECT_EQ(entries[1], "NSCocoaErrorDomain(256)");
}

TEST(ErrorStack, EachProgramsStackIsItsOwn) {
  // Two programs in one process (two simulated Macs in a test): one's failures never show in
  // the other's details, and reading one leaves the other as it was.
  ErrorStack agent, pane;
  QS810stackError(agent, nullptr, 8520352);
  QS810stackError(pane, "NSCocoaErrorDomain", 4);
  EXPECT_EQ(errorStackEntries(agent), std::vector<std::string>{"852.0352"});
  EXPECT_EQ(QS810getErrorString(pane, {"", "Velmora", "1", ""}), "Error (Velmora 1) NSCocoaErrorDomain(4), ");
  EXPECT_EQ(errorStackEntries(agent), std::vector<std::string>{"852.0352"});
  EXPECT_TRUE(errorStackEntries(pane).empty());
}

class Alerting : public SimWorld {
 protected:
  void SetUp() override {
    identity = {ProcessRole::Agent, {"quillon.Velmora.boa", "Velmora Manager", "2.1", ""},
                        {"quillon.Velmora.prefpane", "Velmora", "2.1", "/res"}};
  }
  static std::string text(const ErrorInfo& e, const char* key) { return e.userInfo.at(key).describe(); }
};

TEST_F(Alerting, AlertAppShowsGenericMessageWithTheChain) {
  QS810stackError(errors, nullptr, 8520352);
  QS810alertApp(platform, errorContext(), nullptr, "vl", nullptr, 8520331, 5220076, true, nullptr);
  ASSERT_EQ(alerts.modal.size(), 1u);
  EXPECT_EQ(alerts.beeps, 1);
  const ErrorInfo& e = alerts.modal[0];
  EXPECT_EQ(e.domain, "quillon.Velmora.boa");
  EXPECT_EQ(text(e, kDescriptionKey), "An error occurred.");
  EXPECT_EQ(text(e, kRecoverySuggestionKey), "Error (Velmora Manager 2.1) 522.0076, 852.0331, 852.0352, ");
  EXPECT_TRUE(errorStackEntries(errors).empty());
}

TEST_F(Alerting, WithoutDetailsTheNumbersStayForTheNextReader) {
  QS810alertApp(platform, errorContext(), "", "vl", nullptr, 11, 22, false, nullptr);
  EXPECT_EQ(text(alerts.modal.at(0), kRecoverySuggestionKey), "");
  EXPECT_EQ(errorStackEntries(errors), (std::vector<std::string>{"22", "11"}));
}

TEST_F(Alerting, SheetCompletionOnlyForDelegatesThatRespond) {
  struct Delegate : AlertDelegate {
    bool responds;
    int calls = 0;
    explicit Delegate(bool r) : responds(r) {}
    bool respondsToDidPresentError() const override { return responds; }
    void didPresentErrorWithRecovery(bool) override { ++calls; }
  } yes(true), no(false);
  QS810alertApp(platform, errorContext(), nullptr, "vl", nullptr, 1, 2, true, &yes);
  QS810alertApp(platform, errorContext(), nullptr, "vl", nullptr, 1, 2, true, &no);
  ASSERT_EQ(alerts.sheets.size(), 2u);
  EXPECT_EQ(alerts.sheetHadCompletion, (std::vector<bool>{true, false}));
  EXPECT_EQ(yes.calls, 1);
  EXPECT_EQ(no.calls, 0);
}

TEST_F(Alerting, AgentAbendAlertsThenExitsWithFailure) {
  AbendApp(platform, errorContext(), nullptr, nullptr, 5220093, 5220112);
  ASSERT_EQ(alerts.modal.size(), 1u);
  EXPECT_EQ(lifecycle.exits, (std::vector<int>{kFatalExitStatus}));
  EXPECT_NE(kFatalExitStatus, 0);
  EXPECT_TRUE(lifecycle.terminatedApps.empty());
}

TEST_F(Alerting, PaneAbendPostsANoticeAndEndsTheHost) {
  identity = {ProcessRole::Pane, {"com.apple.systempreferences", "System Preferences", "15", ""},
                      {"quillon.Velmora.prefpane", "Velmora", "2.1", "/res"}};
  ErrorInfo e{"NSCocoaErrorDomain", 4, {}};
  AbendAppNSError(platform, errorContext(), &e, 8140153, 1010042);
  EXPECT_TRUE(alerts.modal.empty());
  ASSERT_EQ(alerts.notices.size(), 1u);
  EXPECT_EQ(alerts.notices[0].message, "Error (Velmora 2.1) 101.0042, 814.0153, NSCocoaErrorDomain(4), ");
  EXPECT_EQ(alerts.notices[0].icon, "/res/Velmora.icns");
  EXPECT_EQ(lifecycle.terminatedApps, (std::vector<std::string>{"com.apple.systempreferences"}));
  EXPECT_EQ(lifecycle.exits.size(), 1u);
}

TEST_F(Alerting, TheIdentityHandedInDecidesWhatAFatalEndDoes) {
  // Two identities side by side on one simulated Mac: the agent's end alerts and exits, the
  // pane's posts a notice and ends its host; neither depends on who ran before.
  const ProcessIdentity pane{ProcessRole::Pane, {"com.apple.systempreferences", "System Preferences", "15", ""},
                             {"quillon.Velmora.prefpane", "Velmora", "2.1", "/res"}};
  ErrorStack paneErrors;
  AbendApp(platform, {paneErrors, pane}, nullptr, nullptr, 11, 22);
  AbendApp(platform, errorContext(), nullptr, nullptr, 33, 44);
  EXPECT_EQ(alerts.notices.size(), 1u);
  EXPECT_EQ(alerts.modal.size(), 1u);
  EXPECT_EQ(lifecycle.terminatedApps, (std::vector<std::string>{"com.apple.systempreferences"}));
  EXPECT_EQ(alerts.notices.at(0).message, "Error (Velmora 2.1) 22, 11, ");
  EXPECT_EQ(text(alerts.modal.at(0), kRecoverySuggestionKey), "Error (Velmora Manager 2.1) 44, 33, ");
}

TEST_F(Alerting, SpeedRangeErrorFillsTheLocalizedPattern) {
  ErrorInfo e = QS812speedRangeError(platform, identity, nullptr, 2500, 10, 2000);
  EXPECT_EQ(e.domain, "quillon.Velmora.boa");
  EXPECT_EQ(text(e, kDescriptionKey), "A value of 2500 is out of range.\nAcceptable values are 10 to 2000.");
}

TEST(VirtualRunLoop, DueWorkRunsInTimeThenSchedulingOrder) {
  VirtualRunLoop loop;
  std::vector<std::string> order;
  int a = 0, b = 0;
  loop.perform(&a, "late", 2.0, [&] { order.push_back("late"); });
  loop.perform(&a, "first", 0.5, [&] { order.push_back("first"); });
  loop.perform(&b, "second", 0.5, [&] { order.push_back("second"); });
  loop.post([&] { order.push_back("posted"); });
  loop.advance(1.0);
  EXPECT_EQ(order, (std::vector<std::string>{"posted", "first", "second"}));
  loop.advance(1.0);
  EXPECT_EQ(order.back(), "late");
}

TEST(VirtualRunLoop, CancelByKeyAndByTarget) {
  VirtualRunLoop loop;
  int t1 = 0, t2 = 0, obj = 0;
  std::vector<std::string> ran;
  loop.perform(&t1, "step", 1, [&] { ran.push_back("t1 step"); });
  loop.perform(&t1, "step", 1, [&] { ran.push_back("t1 step obj"); }, &obj);
  loop.perform(&t1, "other", 1, [&] { ran.push_back("t1 other"); });
  loop.perform(&t2, "step", 1, [&] { ran.push_back("t2 step"); });
  loop.cancelPerform(&t1, "step");
  EXPECT_TRUE(loop.hasPerform(&t1, "step", &obj));
  EXPECT_FALSE(loop.hasPerform(&t1, "step"));
  loop.cancelAllPerforms(&t2);
  loop.advance(2);
  EXPECT_EQ(ran, (std::vector<std::string>{"t1 step obj", "t1 other"}));
}

TEST(VirtualRunLoop, TimersRepeatAtTheirOwnTimesAndObserversEndEachPass) {
  VirtualRunLoop loop(0);
  std::vector<double> fired;
  int passes = 0;
  auto timer = loop.addTimer(0.2, true, [&] { fired.push_back(loop.now()); });
  loop.addEndOfPassObserver([&] { ++passes; });
  loop.advance(0.65);
  ASSERT_EQ(fired.size(), 3u);
  EXPECT_DOUBLE_EQ(fired[2], 0.6000000000000001);
  EXPECT_EQ(passes, 4);  // three firings and the pass at the end of the advance
  loop.removeTimer(timer);
  loop.advance(1);
  EXPECT_EQ(fired.size(), 3u);
  // A perform scheduled from inside a perform with zero delay runs in the same pass.
  bool inner = false;
  loop.post([&] { loop.perform(&inner, "x", 0, [&] { inner = true; }); });
  loop.runPass();
  EXPECT_TRUE(inner);
}

}  // namespace
}  // namespace vl

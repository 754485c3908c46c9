// The pane's message log: what the alerts said, in order, bounded, heard by the log window.
#include <gtest/gtest.h>

#include "pane/windows/pane_log.h"

namespace vl {
namespace {

class RecordingAlerts : public Alerts {
 public:
  void beep() override { ++beeps; }
  void presentModal(const ErrorInfo& e) override { modal.push_back(e.domain); }
  void presentSheet(const ErrorInfo& e, std::function<void()> done) override {
    sheets.push_back(e.domain);
    if (done) done();
  }
  void displayNotice(const std::string& h, const std::string&, const std::string&) override { notices.push_back(h); }
  int beeps = 0;
  std::vector<std::string> modal, sheets, notices;
};

ErrorInfo error(const std::string& description, const std::string& suggestion) {
  ErrorInfo e;
  e.domain = "quillon";
  e.userInfo[kDescriptionKey] = pl::Value(description);
  if (!suggestion.empty()) e.userInfo[kRecoverySuggestionKey] = pl::Value(suggestion);
  return e;
}

TEST(PaneLog, AlertsAreLoggedAndHandedOnAndListenersHearEachMessage) {
  PaneLog log([] { return std::string("12:00:00 "); });
  std::vector<std::string> heard;
  uint64_t token = log.subscribe([&](const std::string& m) { heard.push_back(m); });
  RecordingAlerts inner;
  LoggingAlerts alerts(&inner, log);

  alerts.presentModal(error("An error occurred.", "(1000778)"));
  bool done = false;
  alerts.presentSheet(error("The store could not be saved.", ""), [&] { done = true; });
  alerts.displayNotice("Velmora quit.", "(1001064)", "icon");
  log.put("");
  alerts.beep();

  EXPECT_EQ(log.text(),
            "12:00:00 An error occurred.\n(1000778)\n"
            "12:00:00 The store could not be saved.\n"
            "12:00:00 Velmora quit.\n(1001064)\n");
  EXPECT_EQ(heard.size(), 3u);
  EXPECT_EQ(heard[1], "12:00:00 The store could not be saved.\n");
  // Everything still reaches the user.
  EXPECT_EQ(inner.modal.size(), 1u);
  EXPECT_TRUE(done);
  EXPECT_EQ(inner.notices, std::vector<std::string>{"Velmora quit."});
  EXPECT_EQ(inner.beeps, 1);

  log.unsubscribe(token);
  log.put("later");
  EXPECT_EQ(heard.size(), 3u);

  // Without a window to show it, a sheet still completes.
  LoggingAlerts alone(nullptr, log);
  bool ended = false;
  alone.presentSheet(error("x", ""), [&] { ended = true; });
  EXPECT_TRUE(ended);
}

TEST(PaneLog, KeepsTheNewestTextFromALineStart) {
  PaneLog log([] { return std::string(); });
  const std::string line(1000, 'x');
  for (int i = 0; i < 400; ++i) log.put(std::to_string(i) + line);
  EXPECT_LE(log.text().size(), PaneLog::kMaxBytes);
  EXPECT_FALSE(log.text().starts_with("0x")) << "the oldest messages went";
  EXPECT_NE(log.text().find("399" + line + "\n"), std::string::npos);
  // It starts where a message starts.
  EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(log.text()[0])));
  EXPECT_EQ(log.text().back(), '\n');
}

TEST(PaneLog, TimeStampIsDigitsAndColons) {
  const std::string s = localTimeStamp();
  ASSERT_EQ(s.size(), 9u);
  EXPECT_EQ(s[2], ':');
  EXPECT_EQ(s[5], ':');
  EXPECT_EQ(s[8], ' ');
}

}  // namespace
}  // namespace vl

// The session's writer choice: by session type and desktop, falling back in order, logged once.
#include "platform/linux/pointer_writer_choice.h"

#include <gtest/gtest.h>

namespace vl::linux_input {
namespace {

TEST(WriterChoice, PreferenceFollowsTheSession) {
  using K = WriterKind;
  struct Case {
    SessionFacts facts;
    std::vector<K> expected;
  } cases[] = {
      {{"x11", "GNOME", ":0", ""}, {K::X11, K::Inputd}},
      {{"wayland", "KDE", ":1", "wayland-0"}, {K::KWin, K::Inputd}},  // XWayland's display is not the desktop's
      {{"wayland", "ubuntu:GNOME", ":0", "wayland-0"}, {K::Inputd}},
      {{"wayland", "XFCE:KDEX", "", "wayland-0"}, {K::Inputd}},  // a list item, not a substring
      {{"", "", ":0", ""}, {K::X11, K::Inputd}},
      {{"", "KDE", "", "wayland-1"}, {K::KWin, K::Inputd}},
      {{"tty", "", "", ""}, {K::Inputd}},
  };
  for (const Case& c : cases) EXPECT_EQ(writerPreference(c.facts), c.expected) << c.facts.sessionType << " " << c.facts.currentDesktop;
}

class NamedWriter : public RefusingPointerWriter {
 public:
  explicit NamedWriter(std::string n) : RefusingPointerWriter(""), n_(std::move(n)) {}
  std::string name() const override { return n_; }

 private:
  std::string n_;
};

TEST(WriterChoice, FallsBackInOrderAndLogsOnce) {
  std::vector<std::string> opened, logs;
  auto fails = [&](std::string n) {
    return [&, n]() -> Result<std::unique_ptr<PointerWriter>> {
      opened.push_back(n);
      return Status::failure(writer_error::kUnavailable, n + " unavailable");
    };
  };
  auto works = [&](std::string n) {
    return [&, n]() -> Result<std::unique_ptr<PointerWriter>> {
      opened.push_back(n);
      return std::unique_ptr<PointerWriter>(std::make_unique<NamedWriter>(n));
    };
  };
  auto log = [&](const std::string& line) { logs.push_back(line); };

  auto w = choosePointerWriter({"wayland", "KDE", "", "wayland-0"}, {fails("x11"), fails("kwin"), works("inputd")}, log);
  EXPECT_EQ(w->name(), "inputd");
  EXPECT_EQ(opened, (std::vector<std::string>{"kwin", "inputd"})) << "X11 is never tried on Wayland";
  ASSERT_EQ(logs.size(), 1u);
  EXPECT_NE(logs[0].find("kwin unavailable"), std::string::npos) << logs[0];

  opened.clear();
  logs.clear();
  auto none = choosePointerWriter({"x11", "", ":0", ""}, {fails("x11"), works("kwin"), fails("inputd")}, log);
  EXPECT_EQ(none->name(), "none");
  ASSERT_EQ(logs.size(), 1u);
  Status refused = none->setProperty({}, "HIDMouseAcceleration", pl::Value::int32(65536));
  EXPECT_EQ(refused.code(), writer_error::kUnavailable);
  EXPECT_NE(refused.detail().find("x11 unavailable"), std::string::npos);
  EXPECT_NE(refused.detail().find("velmora-inputd"), std::string::npos) << "says what to install";
  EXPECT_TRUE(none->restore({}).ok());
}

}  // namespace
}  // namespace vl::linux_input

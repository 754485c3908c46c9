// Distributed notifications over the session bus: every kind of value survives the trip with
// its type and signedness, posters hear themselves, and malformed or hostile messages are
// dropped. Runs only where a session bus is reachable (scripts/test provides a private one).
#include <gtest/gtest.h>
#include <systemd/sd-bus.h>

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <limits>

#include "platform/linux/dbus_notifications.h"
#include "platform/linux/sd_event_runloop.h"
#include "support/result_value.h"

namespace vl {
namespace {

using linux_::DbusNotifications;
using linux_::SdEventRunLoop;

// ctest runs test programs side by side on one bus: each process listens under its own
// name so it hears only its own posts.
const std::string kName = "quillon.dvvl.test" + std::to_string(::getpid());
const std::string kOther = "com.example.other.test" + std::to_string(::getpid());

struct Received {
  std::string name, object;
  pl::Dict info;
};

class DbusNotificationsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* bus = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (!bus || !*bus) GTEST_SKIP() << "no session bus (DBUS_SESSION_BUS_ADDRESS unset); scripts/test runs these under dbus-run-session";
    loop = test::valueOf(SdEventRunLoop::create());
    ASSERT_TRUE(loop);
    pane = test::valueOf(DbusNotifications::connect(*loop));
    ASSERT_TRUE(pane);
    agent = test::valueOf(DbusNotifications::connect(*loop));
    ASSERT_TRUE(agent);
  }
  // Runs the loop until count notifications arrived or a second passed.
  void waitFor(const std::vector<Received>& got, size_t count) {
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    while (got.size() < count && std::chrono::steady_clock::now() < end) loop->runOnce(0.05);
  }
  Notifications::Token record(DbusNotifications& n, std::vector<Received>& into, const std::string& name = kName) {
    return n.addObserver(name, [&into](const std::string& nm, const std::string& obj, const pl::Dict& info) {
      into.push_back({nm, obj, info});
    });
  }

  std::unique_ptr<SdEventRunLoop> loop;
  std::unique_ptr<DbusNotifications> pane, agent;
};

TEST_F(DbusNotificationsTest, EveryValueKindSurvivesTheTripWithItsType) {
  pl::Dict nested;
  nested["Level"] = pl::Value(pl::Dict{{"Deeper", pl::Value(pl::Array{pl::Value(1), pl::Value("x")})}});
  pl::Dict info{
      {"Command", pl::Value("Cursor Speed Cmd")},
      {"VID", pl::Value::uint32(0x046D)},
      {"PID", pl::Value::uint32(0xFFFFFFFF)},
      {"Huge", pl::Value::uint64(std::numeric_limits<uint64_t>::max())},
      {"Negative", pl::Value::int32(-5)},
      {"Wide", pl::Value::int64(std::numeric_limits<int64_t>::min())},
      {"DisableAccl", pl::Value(true)},
      {"Off", pl::Value(false)},
      {"Speed", pl::Value(0.6875)},
      {"Name", pl::Value("Magic Mouse \xE2\x9C\x93")},
      {"Empty", pl::Value("")},
      {"Bytes", pl::Value(pl::Data{0x00, 0xFF, 0x10})},
      {"When", pl::Value(pl::Date{7.25e8})},
      {"List", pl::Value(pl::Array{pl::Value(1), pl::Value::uint32(2), pl::Value(pl::Array{})})},
      {"None", pl::Value(pl::Array{})},
      {"Map", pl::Value(nested)},
      {"Blank", pl::Value(pl::Dict{})},
  };
  std::vector<Received> atAgent, atPane;
  record(*agent, atAgent);
  record(*pane, atPane);
  ASSERT_TRUE(pane->post(kName, "quillon.Velmora.prefpane", info)) << pane->lastError();
  waitFor(atAgent, 1);
  waitFor(atPane, 1);
  ASSERT_EQ(atAgent.size(), 1u);
  ASSERT_EQ(atPane.size(), 1u) << "a poster hears its own notification";
  const Received& r = atAgent[0];
  EXPECT_EQ(r.name, kName);
  EXPECT_EQ(r.object, "quillon.Velmora.prefpane");
  EXPECT_EQ(r.info, info);
  // Equality of numbers ignores the type; the type must survive as well.
  for (const auto& [key, sent] : info) {
    auto got = r.info.find(key);
    ASSERT_NE(got, r.info.end()) << key;
    EXPECT_EQ(got->second.type(), sent.type()) << key;
    if (sent.isInteger()) {
      EXPECT_EQ(got->second.isUnsignedInteger(), sent.isUnsignedInteger()) << key;
    }
  }
  EXPECT_EQ(r.info.at("VID").unsignedIntValue(), 0x046Du);
  EXPECT_EQ(r.info.at("Huge").unsignedLongLongValue(), std::numeric_limits<uint64_t>::max());
  EXPECT_EQ(r.info.at("Wide").longLongValue(), std::numeric_limits<int64_t>::min());
  EXPECT_EQ(atPane[0].info, info);
}

TEST_F(DbusNotificationsTest, ObserversGetTheirNameOnlyAndNothingAfterRemoval) {
  std::vector<Received> dvvl, other;
  Notifications::Token t = record(*agent, dvvl);
  record(*agent, other, kOther);
  ASSERT_TRUE(pane->post(kOther, "x", {}));
  ASSERT_TRUE(pane->post(kName, "first", {{"Command", pl::Value("Auto Cursor Snapping Cmd")}}));
  waitFor(dvvl, 1);
  waitFor(other, 1);
  ASSERT_EQ(dvvl.size(), 1u);
  EXPECT_EQ(dvvl[0].object, "first");
  ASSERT_EQ(other.size(), 1u);
  agent->removeObserver(t);
  ASSERT_TRUE(pane->post(kName, "second", {}));
  ASSERT_TRUE(pane->post(kOther, "y", {}));
  waitFor(other, 2);
  EXPECT_EQ(dvvl.size(), 1u);
}

TEST_F(DbusNotificationsTest, ValuesWithoutABusFormAreRefusedAndNullsLeftOut) {
  EXPECT_FALSE(pane->post(kName, "x", {{"Uid", pl::Value(pl::Uid{3})}}));
  EXPECT_FALSE(pane->post(kName, "x", {{"Bad", pl::Value(std::string("\xC3\x28"))}}));
  EXPECT_FALSE(pane->post(kName, "x", {{std::string("\xFF"), pl::Value(1)}}));
  EXPECT_FALSE(pane->post(kName, std::string("a\0b", 3), {}));
  EXPECT_FALSE(pane->lastError().empty());
  std::vector<Received> got;
  record(*agent, got);
  ASSERT_TRUE(pane->post(kName, "x", {{"Gone", pl::Value()}, {"Kept", pl::Value(1)}}));
  waitFor(got, 1);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].info, (pl::Dict{{"Kept", pl::Value(1)}}));
}

// A raw connection sends what a hostile or broken peer might.
TEST_F(DbusNotificationsTest, MalformedMessagesAreDroppedAndTheNextOneArrives) {
  sd_bus* raw = nullptr;
  ASSERT_GE(sd_bus_open_user(&raw), 0);
  auto send = [&](auto build) {
    sd_bus_message* m = nullptr;
    ASSERT_GE(sd_bus_message_new_signal(raw, &m, linux_::kNotificationsPath, linux_::kNotificationsInterface,
                                        linux_::kNotificationsMember),
              0);
    build(m);
    EXPECT_GE(sd_bus_send(raw, m, nullptr), 0);
    sd_bus_message_unref(m);
  };
  send([](sd_bus_message* m) { sd_bus_message_append(m, "s", kName.c_str()); });
  send([](sd_bus_message* m) { sd_bus_message_append(m, "ssa{ss}", kName.c_str(), "o", 1, "k", "v"); });
  send([](sd_bus_message* m) { sd_bus_message_append(m, "ssa{sv}", kName.c_str(), "o", 1, "k", "(ii)", 1, 2); });
  send([](sd_bus_message* m) { sd_bus_message_append(m, "ssa{sv}", kName.c_str(), "o", 1, "k", "ai", 2, 1, 2); });
  send([](sd_bus_message* m) { sd_bus_message_append(m, "ssa{sv}i", kName.c_str(), "o", 0, 7); });
  // Variants nested far deeper than any notification needs.
  send([](sd_bus_message* m) {
    sd_bus_message_append(m, "ss", kName.c_str(), "o");
    sd_bus_message_open_container(m, 'a', "{sv}");
    sd_bus_message_open_container(m, 'e', "sv");
    sd_bus_message_append_basic(m, 's', "deep");
    int depth = 0;
    for (; depth < 24; ++depth)
      if (sd_bus_message_open_container(m, 'v', "av") < 0 || sd_bus_message_open_container(m, 'a', "v") < 0) break;
    sd_bus_message_append(m, "v", "i", 1);
    for (int i = 0; i < depth; ++i) {
      sd_bus_message_close_container(m);
      sd_bus_message_close_container(m);
    }
    sd_bus_message_close_container(m);
    sd_bus_message_close_container(m);
  });
  send([](sd_bus_message* m) { sd_bus_message_append(m, "ssa{sv}", kName.c_str(), "good", 1, "VID", "u", 1133u); });
  sd_bus_flush(raw);
  std::vector<Received> got;
  record(*agent, got);
  waitFor(got, 1);
  // The good one is last; once it is here, every earlier message has been judged.
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].object, "good");
  EXPECT_EQ(got[0].info.at("VID").unsignedIntValue(), 1133u);
  EXPECT_TRUE(got[0].info.at("VID").isUnsignedInteger());
  // At least: other test programs on the same bus may be sending their own broken messages.
  EXPECT_GE(agent->droppedCount(), 6u);
  sd_bus_flush_close_unref(raw);
}

}  // namespace
}  // namespace vl

// A Unifying-style receiver on the umockdev machine: the connected-device tracker learns each
// paired mouse's model id over the receiver's hidraw node, and carries on without one when the
// receiver is silent, refused to this user, or gone mid-exchange — never hanging.
#include <gtest/gtest.h>

#include <cerrno>

#include "core/devices/connected_device.h"
#include "core/hid/pointer_parameters.h"
#include "udev/udev_fixture.h"

namespace vl {
namespace {

class Announcements : public ConnectedDeviceController {
 public:
  void connectedDeviceNotify(const ServiceRef& s, bool attached) override {
    uint32_t vid = 0, pid = 0, mid = 0;
    std::optional<std::string> transport;
    QS852getDeviceInfo(s.get(), &vid, &pid, &mid, &transport, nullptr, nullptr);
    char name[96];
    std::snprintf(name, sizeof name, "%s %x-%x-%x-%s", attached ? "attached" : "detached", vid, pid, mid,
                  transport.value_or("").c_str());
    lines.push_back(name);
  }
  void connectedDeviceError(int32_t e) override { lines.push_back("error " + std::to_string(e)); }
  std::vector<std::string> lines;
};

class Receiver : public test::UdevBench {
 protected:
  std::vector<std::string> paired;
  Announcements controller;
  std::unique_ptr<QS825ConnectedDeviceNotifier> notifier;

  void startTracking() {
    start();
    if (HasFatalFailure()) return;
    ASSERT_FALSE(mock.receiverNode().empty());
    notifier = QS825ConnectedDeviceNotifier::connectedDeviceNotifierWithController(ConnectedDevicePorts::from(platform), &controller, nullptr,
                                                                                  "quillon.Velmora.boa");
    ASSERT_TRUE(notifier);
  }
  void expectAnnouncedWithoutModelId(bool saysDenied);
  std::function<void()> arrange = [] {};
  void TearDown() override {
    notifier.reset();
    test::UdevBench::TearDown();
  }
};

TEST_F(Receiver, EachPairedMouseLearnsItsModelIdFromTheReceiver) {
  paired = mock.addReceiver(1, "4", 0xC52B, {{1, 0x4082}, {2, 0x4069}});
  startTracking();
  ASSERT_EQ(machine->devices().size(), 2u) << "the receiver's keyboard interface is no pointing device";
  loop.advance(0.8);
  std::vector<std::string> want = {"attached 46d-c52b-4082-USB", "attached 46d-c52b-4069-USB"};
  std::sort(controller.lines.begin(), controller.lines.end());
  std::sort(want.begin(), want.end());
  EXPECT_EQ(controller.lines, want);
  // Each slot keeps its own answer; the two mice are two devices at two locations.
  auto first = serviceAt(paired[0]), second = serviceAt(paired[1]);
  EXPECT_EQ(serviceUInt32(first.get(), "QuillonUnifyingIX").value_or(0), 1u);
  EXPECT_EQ(serviceUInt32(second.get(), "QuillonUnifyingIX").value_or(0), 2u);
  EXPECT_NE(serviceUInt32(first.get(), "LocationID"), serviceUInt32(second.get(), "LocationID"));
  EXPECT_EQ(serviceUInt32(first.get(), "LocationID").value_or(0), 0x01410000u);
  // Two exchanges of two reports each, exactly as the receiver expects them.
  ASSERT_EQ(mock.receiverWrites().size(), 4u);
  EXPECT_EQ(mock.receiverWrites()[0], (std::vector<uint8_t>{0x10, 0xFF, 0x80, 0x00, 0x00, 0x09, 0x00}));
  EXPECT_EQ(mock.receiverWrites()[1], (std::vector<uint8_t>{0x10, 0xFF, 0x80, 0x02, 0x02, 0x00, 0x00}));
  EXPECT_TRUE(reports.empty());

  // A paired mouse that leaves is announced gone; the other stays.
  mock.remove(paired[0]);
  EXPECT_EQ(controller.lines.back(), "detached 46d-c52b-4082-USB");
  EXPECT_EQ(machine->devices().size(), 1u);
}

TEST_F(Receiver, AReceiverThatHasNotReportedItsPairingIsAskedAgainEveryThreeSeconds) {
  paired = mock.addReceiver(1, "4", 0xC52B, {{1, 0x4082}});
  mock.setReceiverPairings({});  // answers, but names no paired device yet
  startTracking();
  loop.advance(0.8);
  EXPECT_TRUE(controller.lines.empty());
  loop.advance(3.0);
  EXPECT_TRUE(controller.lines.empty());
  EXPECT_EQ(mock.receiverWrites().size(), 4u);
  mock.setReceiverPairings({{1, 0x4082}});
  loop.advance(3.0);
  EXPECT_EQ(controller.lines, (std::vector<std::string>{"attached 46d-c52b-4082-USB"}));
}

// Silent, refused to this user, or gone mid-exchange: the mice are still announced, at once,
// without a model id; a refusal is said once, with the node and the rule that grants access.
void Receiver::expectAnnouncedWithoutModelId(bool saysDenied) {
  paired = mock.addReceiver(1, "4", 0xC52B, {{1, 0x4082}, {2, 0x4069}});
  arrange();
  startTracking();
  if (HasFatalFailure()) return;
  loop.advance(0.8);
  std::sort(controller.lines.begin(), controller.lines.end());
  EXPECT_EQ(controller.lines, (std::vector<std::string>{"attached 46d-c52b-0-USB", "attached 46d-c52b-0-USB"}));
  EXPECT_FALSE(loop.hasPerform(nullptr, "logitechUnifyingInfo"));
  if (saysDenied) {
    ASSERT_EQ(reports.size(), 1u) << "said once for the node, not once per mouse";
    EXPECT_NE(reports[0].find(mock.receiverNode()), std::string::npos) << reports[0];
    EXPECT_NE(reports[0].find(linux_::kReceiverRuleName), std::string::npos) << reports[0];
  } else {
    EXPECT_TRUE(reports.empty());
  }
}

TEST_F(Receiver, ASilentReceiver) {
  arrange = [this] { mock.setReceiverSilent(true); };
  expectAnnouncedWithoutModelId(false);
}

TEST_F(Receiver, AReceiverThisUserMayNotOpen) {
  opener = [](const char*, int) {
    errno = EACCES;
    return -1;
  };
  expectAnnouncedWithoutModelId(true);
}

TEST_F(Receiver, AReceiverGoneMidExchange) {
  arrange = [this] { mock.unplugReceiverNode(); };
  expectAnnouncedWithoutModelId(false);
}

}  // namespace
}  // namespace vl

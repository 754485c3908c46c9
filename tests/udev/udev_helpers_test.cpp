// The pieces of the udev adapters that need no device tree: reading report descriptors (usage
// pairs, element types, report lengths, hostile bytes), transports and locations, HID ids and
// receiver slots, and the choice of system.
#include <gtest/gtest.h>

#include "platform/linux/hid_report_descriptor.h"
#include "platform/linux/udev_machine.h"
#include "tools/common/system_choice.h"

namespace vl {
namespace {

using namespace linux_;

TEST(ReportDescriptor, AReceiversVendorCollectionsGiveTheElementsTheExchangeAsksFor) {
  std::vector<uint8_t> rx = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x85, 0x10, 0x75, 0x08, 0x95, 0x06, 0x15,
                             0x00, 0x26, 0xFF, 0x00, 0x09, 0x01, 0x81, 0x00, 0x09, 0x01, 0x91, 0x00, 0xC0, 0x06,
                             0x00, 0xFF, 0x09, 0x02, 0xA1, 0x01, 0x85, 0x11, 0x75, 0x08, 0x95, 0x13, 0x15, 0x00,
                             0x26, 0xFF, 0x00, 0x09, 0x02, 0x81, 0x00, 0x09, 0x02, 0x91, 0x00, 0xC0};
  auto d = parseReportDescriptor(rx);
  ASSERT_EQ(d.applications.size(), 2u);
  EXPECT_EQ(d.applications[0].page, 0xFF00u);
  EXPECT_EQ(d.applications[1].usage, 2u);
  EXPECT_TRUE(d.usesReportIDs);
  EXPECT_EQ(d.inputReportLength(0x10), 7u);
  EXPECT_EQ(d.inputReportLength(0x11), 20u);
  EXPECT_EQ(d.inputReportLength(0x12), 0u);
  int inputs16 = 0;
  for (const auto& e : d.elements)
    if (e.reportID == 0x10 && e.type == kElementInputButton && e.usagePage == 0xFF00) ++inputs16;
  EXPECT_EQ(inputs16, 1) << "one input element of report 0x10 on the vendor page, of the type the exchange matches";
}

TEST(ReportDescriptor, AMouseWithoutReportIdsAndHostileBytes) {
  std::vector<uint8_t> mouse = {0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0x09, 0x01, 0xA1, 0x00, 0x05, 0x09, 0x19,
                                0x01, 0x29, 0x03, 0x15, 0x00, 0x25, 0x01, 0x95, 0x03, 0x75, 0x01, 0x81, 0x02,
                                0x95, 0x01, 0x75, 0x05, 0x81, 0x01, 0x05, 0x01, 0x09, 0x30, 0x09, 0x31, 0x09,
                                0x38, 0x15, 0x81, 0x25, 0x7F, 0x75, 0x08, 0x95, 0x03, 0x81, 0x06, 0xC0, 0xC0};
  auto d = parseReportDescriptor(mouse);
  ASSERT_EQ(d.applications.size(), 1u);
  EXPECT_EQ(d.applications[0].page, 1u);
  EXPECT_EQ(d.applications[0].usage, 2u);
  EXPECT_FALSE(d.usesReportIDs);
  EXPECT_EQ(d.inputReportLength(0), 4u);
  // Truncated, a long item running off the end, a huge report, pops without pushes.
  for (auto bytes : std::vector<std::vector<uint8_t>>{{0x05}, {0xFE, 0xFF}, {0x75, 0xFF, 0x97, 0xFF, 0xFF, 0xFF, 0x7F, 0x81, 0x02},
                                                      {0xB4, 0xB4, 0xC0, 0xC0}, {}}) {
    auto h = parseReportDescriptor(bytes);
    EXPECT_LE(h.elements.size(), bytes.size());
  }
}

TEST(UdevHelpers, TransportsLocationsIdsAndSlots) {
  using namespace udev_detail;
  EXPECT_EQ(transportForBus(0x03, false), "USB");
  EXPECT_EQ(transportForBus(0x05, false), "Bluetooth");
  EXPECT_EQ(transportForBus(0x05, true), "Bluetooth Low Energy");
  EXPECT_EQ(transportForBus(0x18, false), "I2C");
  EXPECT_EQ(transportForBus(0x1C, false), "SPI");
  EXPECT_EQ(transportForBus(0x11, false), "PS/2");

  EXPECT_EQ(usbLocation(1, "2", 0), 0x01200000u);
  EXPECT_EQ(usbLocation(3, "1.4.2", 0), 0x03142000u);
  EXPECT_EQ(usbLocation(1, "4", 2), 0x01420000u) << "a receiver's slot takes the next nibble";
  EXPECT_EQ(usbLocation(1, "20", 0), 0x01F00000u) << "ports past 15 stay in their nibble";
  EXPECT_NE(usbLocation(1, "1.2.3.4.5.6", 1), usbLocation(1, "1.2.3.4.5.6", 2));
  EXPECT_NE(usbLocation(0, "", 0), 0u);
  EXPECT_EQ(hashedLocation("bt:aa:bb"), hashedLocation("bt:aa:bb"));
  EXPECT_NE(hashedLocation("bt:aa:bb"), hashedLocation("bt:aa:bc"));
  EXPECT_GT(static_cast<int32_t>(hashedLocation("anything")), 0);

  uint32_t bus = 0, vid = 0, pid = 0;
  EXPECT_TRUE(parseHidId("0003:0000046D:0000C52B", &bus, &vid, &pid));
  EXPECT_EQ(bus, 3u);
  EXPECT_EQ(vid, 0x046Du);
  EXPECT_EQ(pid, 0xC52Bu);
  for (const char* bad : {"", "0003:046D", "0003::C52B", "0003:0000046D:0000C52B:1", "zz:1:2", "0003:123456789:1"})
    EXPECT_FALSE(parseHidId(bad, &bus, &vid, &pid)) << bad;

  EXPECT_EQ(slotFromPhys("usb-0000:00:14.0-2/input2:1"), 1);
  EXPECT_EQ(slotFromPhys("usb-0000:00:14.0-2/input2:6"), 6);
  EXPECT_EQ(slotFromPhys("usb-0000:00:14.0-2/input2:7"), 0);
  EXPECT_EQ(slotFromPhys("usb-0000:00:14.0-2/input2"), 0) << "the colon of the PCI address is no slot";
  EXPECT_EQ(slotFromPhys("usb-0000:00:14.0-2/input2:x"), 0);
}

TEST(SystemChoice, WorldWhenNamedDesktopOtherwiseAndRefusals) {
  struct Case {
    const char* option;
    bool worldGiven;
    const char* env;
    bool ok;
    cli::System system;
  } cases[] = {
      {"", false, nullptr, true, cli::System::Desktop},   {"", false, "", true, cli::System::Desktop},
      {"", false, "/w", true, cli::System::World},        {"", true, nullptr, true, cli::System::World},
      {"desktop", false, "/w", true, cli::System::Desktop}, {"world", false, nullptr, true, cli::System::World},
      {"desktop", true, nullptr, false, cli::System::Desktop}, {"dektop", false, nullptr, false, cli::System::Desktop},
  };
  for (const auto& c : cases) {
    auto r = cli::chooseSystem(c.option, c.worldGiven, c.env);
    EXPECT_EQ(r.ok(), c.ok) << c.option << " " << c.worldGiven;
    if (r.ok()) {
      EXPECT_EQ(r->system, c.system) << c.option;
    }
  }
  EXPECT_NE(cli::chooseSystem("dektop", false, nullptr).status().detail().find("did you mean 'desktop'"), std::string::npos);
  EXPECT_EQ(cli::systemLine(*cli::chooseSystem("", false, nullptr)), "system: desktop (no --world or VELMORA_WORLD)");
}

}  // namespace
}  // namespace vl

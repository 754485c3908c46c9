// The support report: its lines and their order for the devices and software around, and what
// the alert's three buttons do with it.
#include <fstream>
#include <sstream>

#include "core/hid/registry_search.h"
#include "core/system/versions.h"
#include "pane/windows/support_report.h"
#include "platform/sim/sim_pasteboard.h"
#include "tests/pane/controller_bench.h"

namespace vl {
namespace {

class SupportReport : public test::PaneBench {
 protected:
  SupportReport() { platform.pasteboard = &pasteboard; }
  sim::SimPasteboard pasteboard;
  // The report's lines (the three closing line breaks give three empty ones).
  static std::vector<std::string> lines(const std::string& report) {
    std::vector<std::string> out;
    std::string line;
    std::istringstream in(report);
    while (std::getline(in, line)) out.push_back(line);
    return out;
  }
  // The label of each line ("Device", "Open", …), in order, without repeats in a row.
  static std::vector<std::string> labels(const std::string& report) {
    std::vector<std::string> out;
    for (const std::string& l : lines(report)) {
      std::string label = l.substr(0, l.find(':'));
      if (label.empty() || label[0] == '(') continue;
      if (out.empty() || out.back() != label) out.push_back(label);
    }
    return out;
  }
  void installDrovana(const std::string& version) {
    std::string pane = home.path() + "/Library/PreferencePanes/Drovana.prefPane";
    std::filesystem::create_directories(pane + "/Contents");
    std::ofstream(pane + "/Contents/Info.plist")
        << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
           "<key>CFBundleIdentifier</key><string>quillon.prefpane.Drovana</string>"
           "<key>CFBundleShortVersionString</key><string>" << version << "</string>"
           "<key>CFBundleVersion</key><string>" << version << "</string></dict></plist>\n";
  }
  QS802DeviceClass* deviceWithVendor(uint32_t vid) {
    loop.advance(1.3);  // the pane's standby time for a new device
    for (QS802DeviceClass* d : pane->deviceList().arrangedObjects())
      if (d->vid() == vid) return d;
    return nullptr;
  }
};

TEST_F(SupportReport, EveryLineInItsPlaceForALogitechReceiverBesideDrovana) {
  installDrovana("5.3.1");
  mac.setKernelExtension("quillon.driver.Drovana", "/Library/Extensions/Drovana.kext");
  mac.setKernelExtension("com.cyberic.SmoothMouse", "/Library/Extensions/SmoothMouse.kext");
  mac.setCodeSigner(agentPath, "Developer ID Application: Someone Else (XYZ)");
  mac.setMachine("arm64");
  attach("logitech-unifying-receiver");
  open();
  QS802DeviceClass* device = deviceWithVendor(kLogitechVendorID);
  ASSERT_TRUE(device);
  std::string report = supportReportText(*pane, device, "2026-12-07 10:00:00 +0000");

  const std::vector<std::string> expected = {"Device", "Mac", "macOS", "Velmora", "Drovana", "Accessibility", "Domain",
                                             "Drovana.kext", "SmoothMouse.kext"};
  std::vector<std::string> got = labels(report);
  ASSERT_GE(got.size(), expected.size()) << report;
  EXPECT_EQ(std::vector<std::string>(got.begin(), got.begin() + expected.size()), expected) << report;
  // The receiver's paired devices, then each HID device at its location, then the date.
  std::vector<std::string> tail(got.begin() + expected.size(), got.end());
  auto at = [&](const std::string& label) { return std::find(tail.begin(), tail.end(), label) - tail.begin(); };
  EXPECT_LT(at("Unifying"), at("Open")) << report;
  EXPECT_EQ(tail.back(), "Date") << report;

  EXPECT_NE(report.find("\n(VID:0x46D, PID:0x"), std::string::npos) << report;
  EXPECT_NE(report.find("\nVelmora: 2.2.3,H,arm64\n"), std::string::npos) << report;
  EXPECT_NE(report.find("\nDrovana:  5.3.1,H\n"), std::string::npos) << report;
  EXPECT_NE(report.find("\nDomain: Developer ID Application: Someone Else (XYZ)\n"), std::string::npos);
  EXPECT_NE(report.find("\nUnifying: 1. MX Master 3\nUnifying: 2. MX Master 2S\n"), std::string::npos) << report;
  EXPECT_NE(report.find("\nOpen: (FF00-0001) err = 0x0, {"), std::string::npos) << report;
  EXPECT_TRUE(report.ends_with("\nDate: 2026-12-07 10:00:00 +0000\n\n\n")) << report;
}

TEST_F(SupportReport, LinesThatOnlySomeSetupsHaveAreLeftOut) {
  // Our own signer, no sibling product, no definition, not Logitech, machine unknown.
  mac.setCodeSigner(agentPath, "Developer ID Application: Quillon Systems (Q1)");
  mac.setMachine("");
  attach("microsoft-mouse-vendor-driver");
  open();
  QS802DeviceClass* device = deviceWithVendor(0x045E);
  ASSERT_TRUE(device);
  ASSERT_FALSE(device->deviceDefinition());
  std::string report = supportReportText(*pane, device, "now");
  for (const char* absent : {"\nDrovana", "\nDomain:", "\nDefinition:", "\nUnifying:", "\nLogitech", "\nKarabiner"})
    EXPECT_EQ(report.find(absent), std::string::npos) << absent << " in\n" << report;
  EXPECT_NE(report.find(",???\nAccessibility: "), std::string::npos) << report;
  EXPECT_NE(report.find("\nOpen: ("), std::string::npos) << report;
  // Another vendor's driver drives it: the graph's warning, on one line.
  size_t caution = report.find("\nCaution: If the cursor speed does not change");
  ASSERT_NE(caution, std::string::npos) << report;
  EXPECT_LT(report.find("\nDate: ", caution), report.find("\n", caution + 1) + 1) << report;
}

TEST_F(SupportReport, ADefinitionInTheHomeFolderIsShownWithATilde) {
  attach("logitech-mx-master-3-bluetooth");
  open();
  QS802DeviceClass* device = deviceWithVendor(kLogitechVendorID);
  ASSERT_TRUE(device);
  ASSERT_TRUE(device->deviceDefinition()) << "the shipped definitions name this mouse";
  std::string report = supportReportText(*pane, device, "now");
  std::string path = device->deviceDefinition()->filePath();
  EXPECT_NE(report.find("\nDefinition: " + path + "\n"), std::string::npos) << report;
  // Not a receiver: no paired devices to list.
  EXPECT_EQ(report.find("\nUnifying:"), std::string::npos) << report;
}

TEST_F(SupportReport, TheAlertMailsCopiesOrDoesNothing) {
  attach("generic-usb-optical-mouse");
  open();
  struct Case {
    int answer;
    bool mailed, copied;
  };
  for (const Case& c : {Case{kAlertFirstButtonReturn, true, false}, Case{kAlertSecondButtonReturn, false, false},
                        Case{kAlertThirdButtonReturn, false, true}}) {
    window.openedURLs.clear();
    platform.pasteboard->setString("before");
    window.alertAnswer = c.answer;
    const size_t shown = window.alerts.size();
    pane->contactSupport();
    ASSERT_GT(window.alerts.size(), shown);
    const SheetAlert alert = window.alerts[shown].alert;
    EXPECT_EQ(alert.buttons.at(0), "Create an Email");
    EXPECT_EQ(alert.buttons.at(2), "Copy to Clipboard");
    EXPECT_EQ(alert.messageText, "Please send the report below to support@velmora.quillon.example.");
    const std::string& report = alert.informativeText;
    EXPECT_TRUE(report.starts_with("Device: ")) << report;
    EXPECT_EQ(*platform.pasteboard->string(), c.copied ? report : "before");
    // A copy is confirmed, once the clipboard is seen to hold the report; nothing else is.
    ASSERT_EQ(window.alerts.size(), shown + (c.copied ? 2u : 1u));
    if (c.copied) {
      EXPECT_TRUE(window.alerts.back().alert.informational);
      EXPECT_EQ(window.alerts.back().alert.messageText, kReportCopiedText);
    }
    ASSERT_EQ(window.openedURLs.size(), c.mailed ? 1u : 0u);
    if (c.mailed) {
      EXPECT_EQ(window.openedURLs[0], "mailto:support@velmora.quillon.example?subject=%5BVelmora%5D%20&body=" +
                                          QS812addingPercentEscapes(report));
    }
  }
}

TEST_F(SupportReport, TheMailAddressEscapesEverythingAURLCouldMisread) {
  std::string url = supportMailURL("a@b.example", "[X]", "Device: A&B\nDate: 1 +0000?");
  EXPECT_EQ(url, "mailto:a@b.example?subject=%5BX%5D%20&body=Device%3A%20A%26B%0ADate%3A%201%20%2B0000%3F");
}

}  // namespace
}  // namespace vl

// The support report's text, its alert, and what the alert's buttons do.
#include "pane/windows/support_report.h"

#include <chrono>
#include <ctime>
#include <optional>
#include <vector>

#include "core/hid/registry_search.h"
#include "core/store/device_record.h"
#include "core/store/store_text.h"
#include "core/system/drovana.h"
#include "core/system/strings.h"
#include "core/system/versions.h"
#include "pane/graph/curve_view.h"
#include "pane/windows/sheet_host.h"
#include "platform/api/hid.h"
#include "platform/api/system_info.h"
#include "platform/api/workspace.h"

namespace vl {

namespace {

constexpr const char* kSmoothMouseKext = "com.cyberic.SmoothMouse";
constexpr int kUnifyingSlots = 7;

std::string hex(uint64_t v, size_t width = 0) {
  static const char* digits = "0123456789ABCDEF";
  std::string out;
  do {
    out.insert(out.begin(), digits[v & 0xF]);
    v >>= 4;
  } while (v);
  while (out.size() < width) out.insert(out.begin(), '0');
  return out;
}

// The open status is written as a pointer is: lower-case hex digits.
std::string lowercase(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

std::string lastPathComponent(const std::string& path) {
  std::string p = path;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  auto slash = p.rfind('/');
  return slash == std::string::npos ? p : p.substr(slash + 1);
}

bool insideHome(const std::string& path, const std::string& home) {
  if (home.empty() || path.size() <= home.size()) return false;
  return path.compare(0, home.size(), home) == 0 && path[home.size()] == '/';
}

std::string homeAsTilde(const std::string& path, const std::string& home) {
  return insideHome(path, home) ? "~" + path.substr(home.size()) : path;
}

uint32_t unsignedProperty(const Platform& p, RegistryId entry, const char* key) {
  if (!p.registry || entry == 0) return 0;
  auto v = p.registry->property(entry, key);
  return v && v->isNumber() ? v->unsignedIntValue() : 0;
}

// "VersionNumber" of the registry entry of any one of the device's services.
uint32_t deviceVersion(const Platform& p, const QS802DeviceClass& device) {
  for (const ServiceRef& s : device.clientList())
    if (s && s->registryID() != 0) return unsignedProperty(p, s->registryID(), "VersionNumber");
  return 0;
}

// Version text as the operating system describes itself.
std::string osVersionText(const Platform& p) {
  OsVersion v;
  if (p.system) v = p.system->osVersion();
  return "Version " + std::to_string(v.major) + "." + std::to_string(v.minor) + "." + std::to_string(v.patch);
}

std::string replaceNewlines(std::string text) {
  for (char& c : text)
    if (c == '\n') c = ' ';
  return text;
}

}  // namespace

std::string supportReportDate() {
  std::time_t t = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  std::tm tm{};
  gmtime_r(&t, &tm);
  char out[40];
  std::strftime(out, sizeof out, "%Y-%m-%d %H:%M:%S +0000", &tm);
  return out;
}

std::string supportMailURL(const std::string& address, const std::string& subject, const std::string& report) {
  return "mailto:" + address + "?subject=" + QS812addingPercentEscapes(subject) + "%20&body=" + QS812addingPercentEscapes(report);
}

std::string supportReportText(SheetHost& pane, const QS802DeviceClass* device, const std::string& date) {
  const Platform& p = pane.platform();
  const std::string home = p.workspace ? p.workspace->homeDirectory() : std::string();

  // Signer of the agent bundle; ours is not worth a line.
  std::string signer = "no";
  if (auto agent = pane.boaURL(); agent && p.system)
    if (auto s = p.system->codeSigner(*agent)) signer = *s;
  const bool reportSigner = signer.find(kOwnSigner) == std::string::npos;

  std::string machine = p.system ? p.system->machine() : std::string();
  if (machine.empty()) machine = "???";

  std::string r;
  r += "Device: " + (device ? device->displayName() : std::string());
  r += "\n(VID:0x" + hex(device ? device->vid() : 0) + ", PID:0x" + hex(device ? device->pid() : 0) + ", MID:0x" +
       hex(device ? device->mid() : 0) + ", " + (device ? device->transport().value_or("") : std::string()) +
       ", DevVer:0x" + hex(device ? deviceVersion(p, *device) : 0) + ")";
  r += "\nMac: " + machineModelName(p.registry, p.defaults, p.system).first;
  r += "\nmacOS: " + osVersionText(p);
  const std::string& bundlePath = pane.paneBundlePath();
  std::string ownVersion = QS812applicationVersion(bundlePath).value_or(VELMORA_VERSION_TEXT);
  r += "\nVelmora: " + ownVersion + "," + (insideHome(bundlePath, home) ? "H" : "L") + "," + machine;

  if (auto drovanaPane = QS812prefPaneURLForDrovana(p.paths))
    r += "\nDrovana:  " + QS812applicationVersion(*drovanaPane).value_or("") + "," +
         (insideHome(*drovanaPane, home) ? "H" : "L");

  r += std::string("\nAccessibility: ") + (pane.axPreferred() ? "VL" : "DV") + " (" + (pane.boaAXEnabled() ? "ON" : "OFF") + ")";
  if (reportSigner) r += "\nDomain: " + signer;

  const DetectedDrivers& drivers = pane.detectedDrivers();
  if (p.system)
    if (auto kext = p.system->kernelExtensionPath(drovana::kDriverBundlePrefix)) r += "\n" + lastPathComponent(*kext) + ": YES";
  if (drivers.logitechOptions) r += "\nLogitech Options: " + *drivers.logitechOptions;
  if (drivers.logitechGHub) r += "\nLogitech G HUB: YES";
  if (p.system)
    if (auto kext = p.system->kernelExtensionPath(kSmoothMouseKext)) r += "\n" + lastPathComponent(*kext) + ": YES";
  if (drivers.karabinerElements) r += "\nKarabiner-Elements: YES";
  if (drivers.microsoftDriver) r += "\nMicrosoft Driver: " + *drivers.microsoftDriver;
  if (drivers.elecomMouseEventChange) r += "\nElecom MouseEvent: YES";

  if (device) {
    if (const DeviceDefinitionRef& def = device->deviceDefinition())
      r += "\nDefinition: " + homeAsTilde(def->filePath(), home);

    const std::optional<pl::Value>& location = device->locationID();
    if (device->vid() == kLogitechVendorID && location) {
      if (HidDeviceRef receiver = QS822createLogitechHID(p, location)) {
        if (receiver->open() == kIOReturnSuccess) {
          for (int slot = 1; slot <= kUnifyingSlots; ++slot)
            if (auto name = QS822logitechUnifyingDeviceName(p, receiver.get(), slot))
              r += "\nUnifying: " + std::to_string(slot) + ". " + *name;
          receiver->close();
        }
      }
    }

    for (const HidDeviceRef& hid : QS822HIDDeviceList(p, location, 0, 0)) {
      int32_t status = hid->open();
      if (status == kIOReturnSuccess) hid->close();
      RegistryId entry = hid->service();
      std::string clients = QS822getUserClients(p, hid.get(), "Drovana").value_or("");
      r += "\nOpen: (" + hex(unsignedProperty(p, entry, "PrimaryUsagePage") & 0xFFFF, 4) + "-" +
           hex(unsignedProperty(p, entry, "PrimaryUsage") & 0xFFFF, 4) + ") err = 0x" +
           lowercase(hex(static_cast<uint32_t>(status))) + ", {" + clients + "}";
    }

    if (auto caution = pane.curveView().errorMessage(device)) r += "\nCaution: " + replaceNewlines(*caution);
  }

  r += "\nDate: " + date + "\n\n\n";
  return r;
}

}  // namespace vl

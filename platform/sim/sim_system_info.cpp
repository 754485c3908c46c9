// The simulated Mac's SystemInfo port: system version, languages, hardware model, process.
#include "platform/sim/sim_mac_impl.h"

namespace vl::sim::mac_detail {

namespace {

class SimSystemInfo : public SystemInfo {
 public:
  explicit SimSystemInfo(SimMac::Impl& m) : m_(m) {}
  OsVersion osVersion() const override { return m_.os; }
  std::vector<std::string> preferredLanguages() const override { return m_.languages; }
  std::string hardwareModel() const override { return m_.hwModel; }
  std::string marketingNameForModel(const std::string& model) const override {
    return model == m_.hwModel ? m_.marketing : std::string();
  }
  uint32_t userID() const override { return 501; }
  uint32_t groupID() const override { return 20; }
  std::string userName() const override { return "user"; }
  std::string processName() const override { return m_.processName; }
  int32_t processID() const override { return 4242; }
  std::optional<std::string> kernelExtensionPath(const std::string& bundleID) const override {
    auto it = m_.kernelExtensions.find(bundleID);
    if (it == m_.kernelExtensions.end()) return std::nullopt;
    return it->second;
  }
  uint32_t keyboardLayoutType(int16_t handlerID) const override {
    auto it = m_.keyboardLayouts.find(handlerID);
    return it == m_.keyboardLayouts.end() ? kKeyboardANSI : it->second;
  }
  std::string machine() const override { return m_.machine; }
  std::optional<std::string> codeSigner(const std::string& bundlePath) const override {
    auto it = m_.codeSigners.find(bundlePath);
    if (it == m_.codeSigners.end()) return std::nullopt;
    return it->second;
  }

 private:
  SimMac::Impl& m_;
};

}  // namespace

std::unique_ptr<SystemInfo> makeSystemInfo(SimMac::Impl& m) { return std::make_unique<SimSystemInfo>(m); }

}  // namespace vl::sim::mac_detail

// SystemInfo port: facts about the running system and user (OS version, languages, model,
// ids) that the core asks for but cannot compute itself.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vl {

// Keyboard layout types (four-character codes) as KBGetLayoutType answers them.
inline constexpr uint32_t kKeyboardANSI = 0x414E5349;     // 'ANSI'
inline constexpr uint32_t kKeyboardISO = 0x49534F20;      // 'ISO '
inline constexpr uint32_t kKeyboardJIS = 0x4A495320;      // 'JIS '
inline constexpr uint32_t kKeyboardUnknown = 0x3F3F3F3F;  // '????'

struct OsVersion {
  unsigned major = 0, minor = 0, patch = 0;
};

class SystemInfo {
 public:
  virtual ~SystemInfo() = default;
  virtual OsVersion osVersion() const = 0;
  // The user's preferred languages, most preferred first ("ja-JP", "en").
  virtual std::vector<std::string> preferredLanguages() const = 0;
  // The kernel's model identifier ("hw.model"), e.g. "MacBookPro12,1"; empty when unknown.
  virtual std::string hardwareModel() const = 0;
  // A human-readable name for a model identifier when the system has one, else empty
  // (the marketing-name fallback source).
  virtual std::string marketingNameForModel(const std::string& modelIdentifier) const = 0;
  virtual uint32_t userID() const = 0;
  virtual uint32_t groupID() const = 0;
  virtual std::string userName() const = 0;
  // The calling process's own name and id.
  virtual std::string processName() const = 0;
  virtual int32_t processID() const = 0;
  // KextManagerCreateURLForBundleIdentifier: where the kernel extension with this bundle
  // identifier is installed; nullopt when there is none.
  virtual std::optional<std::string> kernelExtensionPath(const std::string& bundleID) const = 0;
  // KBGetLayoutType: the layout type (kKeyboardANSI, ISO, JIS or Unknown) of the keyboard with
  // this handler id.
  virtual uint32_t keyboardLayoutType(int16_t handlerID) const = 0;
  // sysctlbyname("hw.machine"): the machine's architecture ("x86_64", "arm64"); empty when
  // unknown. Adapters that cannot tell keep this default.
  virtual std::string machine() const { return {}; }
  // SecStaticCodeCreateWithPath + SecCodeCopySigningInformation: the common name of the first
  // certificate of the code signature of the bundle at path; nullopt when it is unsigned or any
  // step fails. Platforms without code signing keep this default.
  virtual std::optional<std::string> codeSigner(const std::string& bundlePath) const { return std::nullopt; }
};

}  // namespace vl

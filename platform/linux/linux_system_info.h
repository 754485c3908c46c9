// LinuxSystemInfo: facts about the running Linux system and user — the distribution's version
// (or the kernel's), the locale's languages, the machine's DMI model name, ids and names.
#pragma once

#include <string>
#include <vector>

#include "platform/api/system_info.h"

namespace vl::linux_ {

// Where the facts come from; fromProcess reads the real files and environment.
struct SystemSources {
  std::string osRelease;        // the text of /etc/os-release
  std::string kernelRelease;    // uname's release, "6.1.0-18-amd64"
  std::string language;         // $LANGUAGE
  std::string lang;             // $LC_ALL, else $LC_MESSAGES, else $LANG
  std::string productName;      // /sys/class/dmi/id/product_name
  std::string machine;          // uname's machine, "x86_64"
  std::string vendorName;       // /sys/class/dmi/id/sys_vendor
  static SystemSources fromProcess();
};

// "VERSION_ID" of os-release when it is numeric ("12", "22.04"), else the leading numbers of
// the kernel release; zeros when neither has any.
OsVersion parseOsVersion(const std::string& osRelease, const std::string& kernelRelease);
// The locale's languages, most preferred first, in the platform's "en-GB" form: $LANGUAGE's
// colon-separated list, else the one of $LANG; "C" and "POSIX" mean "en".
std::vector<std::string> parseLanguages(const std::string& language, const std::string& lang);

class LinuxSystemInfo : public SystemInfo {
 public:
  explicit LinuxSystemInfo(const SystemSources& s);
  OsVersion osVersion() const override { return os_; }
  std::vector<std::string> preferredLanguages() const override { return languages_; }
  std::string hardwareModel() const override { return model_; }
  // The vendor and product name for the machine's own model.
  std::string marketingNameForModel(const std::string& modelIdentifier) const override;
  uint32_t userID() const override;
  uint32_t groupID() const override;
  std::string userName() const override;
  std::string processName() const override;
  int32_t processID() const override;
  // Linux has no kernel extensions named by bundle identifier: none is ever found.
  std::optional<std::string> kernelExtensionPath(const std::string&) const override { return std::nullopt; }
  // Linux keyboards carry no handler ids; every id reads as unknown (so no built-in trackpad
  // is taken for an ISO or JIS model).
  uint32_t keyboardLayoutType(int16_t) const override { return kKeyboardUnknown; }
  std::string machine() const override { return machine_; }

 private:
  OsVersion os_;
  std::vector<std::string> languages_;
  std::string model_, vendor_, machine_;
};

}  // namespace vl::linux_

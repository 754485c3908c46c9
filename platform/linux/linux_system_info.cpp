// LinuxSystemInfo: reading and parsing the system's facts.
#include "platform/linux/linux_system_info.h"

#include <pwd.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace vl::linux_ {

namespace {

std::string readSmallFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "";
  std::string s;
  s.resize(64 * 1024);
  in.read(s.data(), static_cast<std::streamsize>(s.size()));
  s.resize(static_cast<size_t>(in.gcount()));
  return s;
}

std::string trim(std::string s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.pop_back();
  size_t i = 0;
  while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
  return s.substr(i);
}

std::string env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

// "12.5.1-rc" -> 12, 5, 1; false when it does not start with a number.
bool leadingVersion(const std::string& text, OsVersion* out) {
  unsigned parts[3] = {0, 0, 0};
  size_t i = 0;
  int n = 0;
  while (n < 3 && i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
    unsigned long v = 0;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])) && v < 100000) v = v * 10 + (text[i++] - '0');
    parts[n++] = static_cast<unsigned>(v);
    if (i < text.size() && text[i] == '.') ++i;
    else break;
  }
  if (n == 0) return false;
  *out = {parts[0], parts[1], parts[2]};
  return true;
}

// One language tag: "en_GB.UTF-8@euro" -> "en-GB"; empty for nothing usable.
std::string languageTag(std::string s) {
  s = s.substr(0, s.find_first_of(".@"));
  if (s == "C" || s == "POSIX") return "en";
  for (char& c : s)
    if (c == '_') c = '-';
  for (char c : s)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-') return "";
  return s;
}

}  // namespace

SystemSources SystemSources::fromProcess() {
  SystemSources s;
  s.osRelease = readSmallFile("/etc/os-release");
  if (s.osRelease.empty()) s.osRelease = readSmallFile("/usr/lib/os-release");
  struct utsname u {};
  if (::uname(&u) == 0) {
    s.kernelRelease = u.release;
    s.machine = u.machine;
  }
  s.language = env("LANGUAGE");
  s.lang = env("LC_ALL");
  if (s.lang.empty()) s.lang = env("LC_MESSAGES");
  if (s.lang.empty()) s.lang = env("LANG");
  s.productName = trim(readSmallFile("/sys/class/dmi/id/product_name"));
  s.vendorName = trim(readSmallFile("/sys/class/dmi/id/sys_vendor"));
  return s;
}

OsVersion parseOsVersion(const std::string& osRelease, const std::string& kernelRelease) {
  std::istringstream in(osRelease);
  std::string line;
  OsVersion v;
  while (std::getline(in, line)) {
    if (line.rfind("VERSION_ID=", 0) != 0) continue;
    std::string value = trim(line.substr(11));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
      value = value.substr(1, value.size() - 2);
    if (leadingVersion(value, &v)) return v;
  }
  if (leadingVersion(kernelRelease, &v)) return v;
  return {};
}

std::vector<std::string> parseLanguages(const std::string& language, const std::string& lang) {
  std::vector<std::string> out;
  auto add = [&](const std::string& raw) {
    std::string tag = languageTag(raw);
    if (!tag.empty() && std::find(out.begin(), out.end(), tag) == out.end()) out.push_back(tag);
  };
  // LANGUAGE counts only with a real locale, as gettext has it.
  std::string locale = lang.substr(0, lang.find_first_of(".@"));
  if (!locale.empty() && locale != "C" && locale != "POSIX" && !language.empty()) {
    std::istringstream in(language);
    std::string item;
    while (std::getline(in, item, ':')) add(item);
  }
  if (out.empty()) add(lang);
  if (out.empty()) out.push_back("en");
  return out;
}

LinuxSystemInfo::LinuxSystemInfo(const SystemSources& s)
    : os_(parseOsVersion(s.osRelease, s.kernelRelease)),
      languages_(parseLanguages(s.language, s.lang)),
      model_(s.productName),
      vendor_(s.vendorName),
      machine_(s.machine) {}

std::string LinuxSystemInfo::marketingNameForModel(const std::string& modelIdentifier) const {
  if (modelIdentifier.empty() || modelIdentifier != model_) return "";
  if (vendor_.empty() || model_.rfind(vendor_, 0) == 0) return model_;
  return vendor_ + " " + model_;
}

uint32_t LinuxSystemInfo::userID() const { return ::getuid(); }
uint32_t LinuxSystemInfo::groupID() const { return ::getgid(); }

std::string LinuxSystemInfo::userName() const {
  struct passwd pw {};
  struct passwd* result = nullptr;
  char buf[4096];
  if (::getpwuid_r(::getuid(), &pw, buf, sizeof buf, &result) == 0 && result && result->pw_name) return result->pw_name;
  return env("USER");
}

std::string LinuxSystemInfo::processName() const {
  std::string comm = trim(readSmallFile("/proc/self/comm"));
  if (!comm.empty()) return comm;
  return program_invocation_short_name ? program_invocation_short_name : "";
}

int32_t LinuxSystemInfo::processID() const { return static_cast<int32_t>(::getpid()); }

}  // namespace vl::linux_

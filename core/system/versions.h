// Packed bundle versions and their text, installed panes' versions and build dates, the OS
// version text, the newest version on the web service, machine model and serial, and small
// text and number helpers shared by agent and pane.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "core/plist/value.h"
#include "platform/api/http_client.h"
#include "platform/api/platform.h"
#include "platform/api/workspace.h"

namespace vl {

// Versions and bundles. A bundle is a folder with Contents/Info.plist.
uint32_t QS812BundleVersion(const std::string& bundlePath);
// The packed version of a running application's bundle; 0 for a process without one.
uint32_t QS812BundleVersionFromProc(const RunningApplication& application);
std::optional<std::string> QS812applicationVersion(const std::string& bundlePath);
// The installed pane of that file name in the first preference-panes folder holding one.
std::optional<std::string> prefPanePath(Paths* paths, const std::string& fileName);
inline std::optional<std::string> QS812prefPaneURLForName(const Platform& p, const std::string& fileName) {
  return prefPanePath(p.paths, fileName);
}
std::optional<std::string> QS812prefPaneURLForDrovana(Paths* paths);
std::optional<std::string> QS812prefPaneURLForVelmora(Paths* paths);
uint32_t QS812DrovanaVersion(Paths* paths);
uint32_t QS812VelmoraVersion(Paths* paths);
std::string QS812buildDateWithURL(const std::optional<std::string>& bundlePath);
std::string QS812DrovanaBuildDate(Paths* paths);
std::string QS812VelmoraBuildDate(Paths* paths);
uint32_t QS812versionNumberFromString(const std::string* text);
inline uint32_t QS812versionNumberFromString(const std::string& text) { return QS812versionNumberFromString(&text); }
std::string QS812stringFromVersionNumver(uint32_t packed);
std::string QS812SystemVersionString(SystemInfo* system);
uint32_t QS812getHostVersion(HttpClient* http, SystemInfo* system, const std::string& applicationName, bool acceptPreReleases);
// The two halves of QS812getHostVersion, for a request started without waiting: the query of
// the version list ("app=…&osv=…" for kHostVersionPath) and the newest version in its answer
// (0 for no answer, a failed one, or nothing that parses).
inline constexpr const char* kHostVersionPath = "/velmora/xml/file.php";
std::string QS812hostVersionQuery(SystemInfo* system, const std::string& applicationName);
uint32_t QS812hostVersionFromAnswer(const HttpResult& answer, bool acceptPreReleases);
// The folder of a directory kind in a domain (NSSearchPathForDirectoriesInDomains): domain 1
// the user's, 2 the all-users (local) one, 4 network, 8 system; directory 22 the PreferencePanes
// folder, 14 Application Support. nullopt for other kinds.
std::optional<std::string> QS812urlForDirectory(Paths* paths, int domain, int directory);
inline constexpr int kUserDomainMask = 1;
inline constexpr int kLocalDomainMask = 2;
inline constexpr int kApplicationSupportDirectory = 14;
inline constexpr int kPreferencePanesDirectory = 22;

// Machine. The serial number is read from the registry's platform entry; the marketing name
// from the system profiler's cache in the user defaults when it names this serial, else from
// the system's own table.
std::optional<std::string> machineSerialNumber(IoRegistry* registry);
// {"<marketing name>, <model identifier>", "<model identifier>"}.
std::pair<std::string, std::string> machineModelName(IoRegistry* registry, UserDefaults* defaults, SystemInfo* system);
inline std::optional<std::string> QS812GetMachineID(const Platform& p) { return machineSerialNumber(p.registry); }
inline std::pair<std::string, std::string> QS812GetModelName(const Platform& p) {
  return machineModelName(p.registry, p.defaults, p.system);
}

// Text and numbers.
std::string QS812addingPercentEscapes(const std::string& text);
// The value of key_<language> in the dictionary for the user's most preferred language, else
// the value of key.
const pl::Value* localizedValueForKey(SystemInfo* system, const pl::Value* dictionary, const std::string& key);
inline const pl::Value* QS812localizedValueForKey(const Platform& p, const pl::Value* dictionary, const std::string& key) {
  return localizedValueForKey(p.system, dictionary, key);
}
double QS812round1(int precision, double value);
double QS812numberCounterAtDigit(int digit, bool up, double value);
double QS812numberCounter(bool up, int digit, double value);
inline constexpr uint64_t kNotFound = 0x7fffffffffffffffULL;  // the platform's not-found index
uint64_t QS812BitIndex(uint64_t value);
// Re-reads the zoom preferences; returns the modifier mask (0 when scroll zoom is off).
int64_t QS812getScrollZoom(UserDefaults* defaults, bool* enabled, int64_t* modifiers);
bool QS812scrollZoomEnabled(UserDefaults* defaults);
bool QS812keyZoomEnabled(UserDefaults* defaults);
// The system's title of cancel buttons in the user's first language we have texts for.
std::string QS812localizedCancelButtonTitle(Paths* paths, SystemInfo* system);

}  // namespace vl

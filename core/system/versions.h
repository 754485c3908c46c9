// Packed bundle versions and their text, installed panes' versions and build dates, the OS
// version text, the newest version on the web service, machine model and serial, and small
// text and number helpers shared by agent and pane.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "core/plist/value.h"
#include "platform/api/platform.h"
#include "platform/api/workspace.h"

namespace vl {

// Versions and bundles. A bundle is a folder with Contents/Info.plist.
uint32_t QS812BundleVersion(const std::string& bundlePath);
// The packed version of a running application's bundle; 0 for a process without one.
uint32_t QS812BundleVersionFromProc(const RunningApplication& application);
std::optional<std::string> QS812applicationVersion(const std::string& bundlePath);
std::optional<std::string> QS812prefPaneURLForName(const Platform& p, const std::string& fileName);
std::optional<std::string> QS812prefPaneURLForDrovana(const Platform& p);
std::optional<std::string> QS812prefPaneURLForVelmora(const Platform& p);
uint32_t QS812DrovanaVersion(const Platform& p);
uint32_t QS812VelmoraVersion(const Platform& p);
std::string QS812buildDateWithURL(const std::optional<std::string>& bundlePath);
std::string QS812DrovanaBuildDate(const Platform& p);
std::string QS812VelmoraBuildDate(const Platform& p);
uint32_t QS812versionNumberFromString(const std::string* text);
inline uint32_t QS812versionNumberFromString(const std::string& text) { return QS812versionNumberFromString(&text); }
std::string QS812stringFromVersionNumver(uint32_t packed);
std::string QS812SystemVersionString(const Platform& p);
uint32_t QS812getHostVersion(const Platform& p, const std::string& applicationName, bool acceptPreReleases);

// Machine.
std::optional<std::string> QS812GetMachineID(const Platform& p);
// {"<marketing name>, <model identifier>", "<model identifier>"}.
std::pair<std::string, std::string> QS812GetModelName(const Platform& p);

// Text and numbers.
std::string QS812addingPercentEscapes(const std::string& text);
const pl::Value* QS812localizedValueForKey(const Platform& p, const pl::Value* dictionary, const std::string& key);
double QS812round1(int precision, double value);
double QS812numberCounterAtDigit(int digit, bool up, double value);
double QS812numberCounter(bool up, int digit, double value);
inline constexpr uint64_t kNotFound = 0x7fffffffffffffffULL;  // the platform's not-found index
uint64_t QS812BitIndex(uint64_t value);
// Re-reads the zoom preferences; returns the modifier mask (0 when scroll zoom is off).
int64_t QS812getScrollZoom(const Platform& p, bool* enabled, int64_t* modifiers);
bool QS812scrollZoomEnabled(const Platform& p);
bool QS812keyZoomEnabled(const Platform& p);
std::string QS812localizedCancelButtonTitle(const Platform& p);

}  // namespace vl

// Packed bundle versions and their text, installed panes' versions and build dates, the OS
// version text, the newest version on the web service, machine model and serial, and small
// text and number helpers shared by agent and pane.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "core/plist/value.h"

namespace vl {

// Versions and bundles. A bundle is a folder with Contents/Info.plist.
uint32_t QS812BundleVersion(const std::string& bundlePath);
std::optional<std::string> QS812applicationVersion(const std::string& bundlePath);
std::optional<std::string> QS812prefPaneURLForName(const std::string& fileName);
std::optional<std::string> QS812prefPaneURLForDrovana();
std::optional<std::string> QS812prefPaneURLForVelmora();
uint32_t QS812DrovanaVersion();
uint32_t QS812VelmoraVersion();
std::string QS812buildDateWithURL(const std::optional<std::string>& bundlePath);
std::string QS812DrovanaBuildDate();
std::string QS812VelmoraBuildDate();
uint32_t QS812versionNumberFromString(const std::string* text);
inline uint32_t QS812versionNumberFromString(const std::string& text) { return QS812versionNumberFromString(&text); }
std::string QS812stringFromVersionNumver(uint32_t packed);
std::string QS812SystemVersionString();
uint32_t QS812getHostVersion(const std::string& applicationName, bool acceptPreReleases);

// Machine.
std::optional<std::string> QS812GetMachineID();
// {"<marketing name>, <model identifier>", "<model identifier>"}.
std::pair<std::string, std::string> QS812GetModelName();

// Text and numbers.
std::string QS812addingPercentEscapes(const std::string& text);
const pl::Value* QS812localizedValueForKey(const pl::Value* dictionary, const std::string& key);
double QS812round1(int precision, double value);
double QS812numberCounterAtDigit(int digit, bool up, double value);
double QS812numberCounter(bool up, int digit, double value);
inline constexpr uint64_t kNotFound = 0x7fffffffffffffffULL;  // the platform's not-found index
uint64_t QS812BitIndex(uint64_t value);
// Re-reads the zoom preferences; returns the modifier mask (0 when scroll zoom is off).
int64_t QS812getScrollZoom(bool* enabled, int64_t* modifiers);
bool QS812scrollZoomEnabled();
bool QS812keyZoomEnabled();
std::string QS812localizedCancelButtonTitle();

}  // namespace vl

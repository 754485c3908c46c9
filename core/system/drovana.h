// What the system relies on about the sibling product Drovana, in one place.
#pragma once

#include <cstdint>

namespace vl::drovana {

inline constexpr const char* kAgentBundleID = "quillon.boa.Drovana";
inline constexpr const char* kPaneBundleID = "quillon.prefpane.Drovana";
inline constexpr const char* kPaneFileName = "Drovana.prefPane";
inline constexpr const char* kDriverBundlePrefix = "quillon.driver.Drovana";
inline constexpr const char* kDriverClass = "quillon_driver_Drovana";
inline constexpr const char* kDriverClassPT = "quillon_driver_DrovanaPT";
inline constexpr const char* kSharedSettingsFolder = "Drovana & Velmora";
inline constexpr const char* kNotificationName = "quillon.dvvl";
inline constexpr const char* kReceiverKey = "Receiver";
inline constexpr double kAgentStandbyOffset = 0.0;
inline constexpr double kPaneStandbyOffset = 0.4;
// Versions this product works beside: from 5.3.1 up to, not including, 6.0.
inline constexpr uint32_t kFirstCompatibleVersion = 0x05310000;
inline constexpr uint32_t kFirstIncompatibleVersion = 0x06000000;

}  // namespace vl::drovana

namespace vl::velmora {

inline constexpr const char* kAgentBundleID = "quillon.Velmora.boa";
inline constexpr const char* kPaneBundleID = "quillon.Velmora.prefpane";
inline constexpr const char* kPaneFileName = "Velmora.prefPane";
inline constexpr const char* kAgentName = "Velmora Manager";
inline constexpr const char* kSettingsHostBundleID = "com.apple.systempreferences";
inline constexpr double kAgentStandbyOffset = 0.8;
inline constexpr double kPaneStandbyOffset = 1.2;

}  // namespace vl::velmora

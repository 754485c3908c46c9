// The web service's upload and ranking requests as both sides know them: paths, query keys in
// request order, and the bounds of every field, shared by the client, the service, its load
// tool and both storages so that what one side sends the other accepts.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace vl::upload {

inline constexpr std::string_view kUploadPath = "/velmora/xml/setting.php";
inline constexpr std::string_view kRankingPath = "/velmora/xml/setting_rank.php";
inline constexpr std::string_view kVersionsPath = "/velmora/xml/file.php";

// How a field is written and checked.
enum class Kind {
  Id,       // unsigned 32-bit, written as the client's "%d" (so above 2^31 - 1 arrives negative)
  Integer,  // decimal integer in [minimum, maximum]
  Number,   // decimal number ("%g") in [minimum, maximum]
  Text,     // UTF-8 without control characters, at most `maximum` bytes or characters
};

struct Field {
  std::string_view key;
  Kind kind;
  double minimum = 0;
  double maximum = 0;
  bool countBytes = false;  // Text: `maximum` counts bytes, else characters (code points)
  bool required = false;    // Text: may not be empty
};

// Bounds, named for the code that stores or cuts a field.
inline constexpr size_t kTransportMaxBytes = 32;
inline constexpr size_t kDeviceNameMaxChars = 100;
inline constexpr size_t kMachineMaxBytes = 128;
inline constexpr size_t kAppMaxChars = 20;
inline constexpr int32_t kOsVersionMax = 999999;
inline constexpr double kAccMin = 0, kAccMax = 20;    // tracking speed
inline constexpr double kSenMin = 5, kSenMax = 1990;  // displayed sensitivity
inline constexpr int kRankingMaxCount = 100;

inline constexpr Field kVid{"VID", Kind::Id};
inline constexpr Field kPid{"PID", Kind::Id};
inline constexpr Field kMid{"MID", Kind::Id};
inline constexpr Field kTra{"Tra", Kind::Text, 0, kTransportMaxBytes, true, false};
inline constexpr Field kDev{"Dev", Kind::Text, 0, kDeviceNameMaxChars, false, false};
inline constexpr Field kMac{"Mac", Kind::Text, 0, kMachineMaxBytes, true, true};
inline constexpr Field kOsv{"OSV", Kind::Integer, 0, kOsVersionMax};
inline constexpr Field kApp{"App", Kind::Text, 0, kAppMaxChars, false, false};
inline constexpr Field kAcc{"Acc", Kind::Number, kAccMin, kAccMax};
inline constexpr Field kSen{"Sen", Kind::Number, kSenMin, kSenMax};

// The upload's fields in the order the client writes them; every one is required.
inline constexpr std::array<Field, 10> kUploadFields = {kVid, kPid, kMid, kTra, kDev, kMac, kOsv, kApp, kAcc, kSen};

// The ranking request's own fields (after VID, PID, MID and Tra).
inline constexpr Field kOs0{"OS0", Kind::Integer, 0, kOsVersionMax};
inline constexpr Field kOs1{"OS1", Kind::Integer, 0, kOsVersionMax};
inline constexpr Field kCnt{"Cnt", Kind::Integer, 1, kRankingMaxCount};

}  // namespace vl::upload

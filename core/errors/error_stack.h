// The process-wide error stack: 15 slots of 100 bytes, newest first; reading the details
// text empties it. Every failure pushes its number here on the way up.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/api/alerts.h"

namespace vl {

inline constexpr int kErrorSlots = 15;
inline constexpr int kErrorSlotBytes = 100;

using ErrorBuffer = std::array<char, kErrorSlots * kErrorSlotBytes>;

// Creates the buffer (zero-filled) on first use; clear = true zero-fills an existing one.
ErrorBuffer& QS810errorBuf(bool clear);

// Pushes one entry: "%s(%d)" with a domain, "%ld" for codes below 10000, "%.4f" of
// code / 10000 otherwise. A code of 0 is not pushed. domain may be null.
void QS810stackError(const char* domain, int64_t code);
inline void QS810stackError(const std::string& domain, int64_t code) {
  QS810stackError(domain.empty() ? nullptr : domain.c_str(), code);
}

// A platform error and its underlying errors ("NSUnderlyingError" holding a dictionary
// with "domain", "code" and "userInfo").
void QS810stackNSError(const ErrorInfo* error);

// Bundle facts the details text names.
struct BundleInfo {
  std::string identifier;  // "quillon.Velmora.boa"
  std::string executable;  // CFBundleExecutable
  std::string version;     // CFBundleVersion
  std::string resourcesDir;
};

// "Error (<executable> <version>) " then "<entry>, " for each entry, newest first;
// empties the stack.
std::string QS810getErrorString(const BundleInfo& bundle);

// The entries currently on the stack, newest first, without clearing (tests, diagnostics).
std::vector<std::string> errorStackEntries();

}  // namespace vl

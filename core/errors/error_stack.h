// The error stack: 15 slots of 100 bytes, newest first; reading the details text empties it.
// Every failure pushes its number here on the way up. Each program owns one and hands it to
// what pushes or reads it.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "platform/api/alerts.h"

namespace vl {

inline constexpr int kErrorSlots = 15;
inline constexpr int kErrorSlotBytes = 100;

using ErrorBuffer = std::array<char, kErrorSlots * kErrorSlotBytes>;

// Bundle facts the details text names.
struct BundleInfo {
  std::string identifier;  // "quillon.Velmora.boa"
  std::string executable;  // CFBundleExecutable
  std::string version;     // CFBundleVersion
  std::string resourcesDir;
};

class ErrorStack {
 public:
  ErrorStack() { buf_.fill(0); }
  ErrorStack(const ErrorStack&) = delete;
  ErrorStack& operator=(const ErrorStack&) = delete;

  // Pushes one entry: "%s(%d)" with a domain, "%ld" for codes below 10000, "%.4f" of
  // code / 10000 otherwise. A code of 0 is not pushed. domain may be null.
  void push(const char* domain, int64_t code);
  void push(int64_t code) { push(nullptr, code); }
  // A platform error and its underlying errors ("NSUnderlyingError" holding a dictionary
  // with "domain", "code" and "userInfo"), outer first.
  void push(const ErrorInfo* error);

  // "Error (<executable> <version>) " then "<entry>, " for each entry, newest first;
  // empties the stack.
  std::string takeText(const BundleInfo& bundle);
  // The entries currently on the stack, newest first, without clearing.
  std::vector<std::string> entries() const;
  void clear();
  // The raw slots (zero-filled when clear).
  ErrorBuffer& buffer(bool clear);

 private:
  // The snapping worker reports from its own thread; one lock keeps pushes and reads whole.
  mutable std::recursive_mutex mutex_;
  ErrorBuffer buf_;
};

// The names the rest of the code knows these operations by.
inline ErrorBuffer& QS810errorBuf(ErrorStack& stack, bool clear) { return stack.buffer(clear); }
inline void QS810stackError(ErrorStack& stack, const char* domain, int64_t code) { stack.push(domain, code); }
inline void QS810stackError(ErrorStack& stack, const std::string& domain, int64_t code) {
  stack.push(domain.empty() ? nullptr : domain.c_str(), code);
}
inline void QS810stackNSError(ErrorStack& stack, const ErrorInfo* error) { stack.push(error); }
inline std::string QS810getErrorString(ErrorStack& stack, const BundleInfo& bundle) { return stack.takeText(bundle); }
inline std::vector<std::string> errorStackEntries(const ErrorStack& stack) { return stack.entries(); }

}  // namespace vl

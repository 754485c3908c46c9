// The process's current platform set.
#include "platform/api/platform.h"

namespace vl {

Platform& currentPlatform() {
  static Platform p;
  return p;
}

ScopedPlatform::ScopedPlatform(const Platform& p) : previous_(currentPlatform()) { currentPlatform() = p; }
ScopedPlatform::~ScopedPlatform() { currentPlatform() = previous_; }

}  // namespace vl

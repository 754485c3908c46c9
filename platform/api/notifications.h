// Notifications port: the distributed notification centre shared by the user's processes
// (one name, a sender object string and a property-list user-information dictionary).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "core/plist/value.h"
#include "platform/api/status.h"

namespace vl {

class Notifications {
 public:
  using Token = uint64_t;  // 0 is never a valid token
  using Handler = std::function<void(const std::string& name, const std::string& object, const pl::Dict& userInfo)>;
  virtual ~Notifications() = default;
  // Posts with immediate delivery. A failure when the centre could not take it.
  virtual Status post(const std::string& name, const std::string& object, const pl::Dict& userInfo) = 0;
  // Observes one name from any sender; delivered on the observer's run loop, in arrival order.
  virtual Token addObserver(const std::string& name, Handler handler) = 0;
  virtual void removeObserver(Token t) = 0;
};

}  // namespace vl

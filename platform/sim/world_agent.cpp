// The world's agent: where its single-instance lock lies and which bus it listens on.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <span>

#include "core/plist/codec.h"
#include "platform/sim/world.h"

namespace vl::sim {

namespace {

// Whether another process holds the lock file exclusively (a running agent).
bool lockHeld(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  bool held = ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  ::close(fd);
  return held;
}

}  // namespace

std::string World::agentLockPath(const std::string& folder) { return folder + "/" + kWorldAgentLockFile; }

Status World::recordAgentBus(const std::string& folder, const std::string& address) {
  pl::Dict d;
  d["pid"] = pl::Value::int32(static_cast<int32_t>(::getpid()));
  d["busAddress"] = pl::Value(address);
  std::string text = pl::writeXml(pl::Value(std::move(d)));
  std::string error;
  if (!pl::writeFileAtomic(folder + "/" + kWorldAgentFile,
                           std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size()), &error))
    return Status::failure(1, error);
  return Status::success();
}

std::optional<std::string> World::runningAgentBus(const std::string& folder) {
  if (!lockHeld(agentLockPath(folder))) return std::nullopt;
  auto r = pl::readFile(folder + "/" + kWorldAgentFile);
  if (!r) return std::nullopt;
  auto address = r.value->stringFor("busAddress");
  if (!address || address->empty()) return std::nullopt;
  return address;
}

}  // namespace vl::sim

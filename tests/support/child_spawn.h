// Test support: the spawn attributes of the helper programs the tests start (buses, X servers,
// stand-in services). A test that runs an event loop blocks SIGTERM and friends to take them as
// events; a child must not inherit that mask, or the SIGTERM that ends it is never delivered and
// the test's teardown waits for it for ever.
#pragma once

#include <signal.h>
#include <spawn.h>

namespace vl::test {

class ChildSpawnAttr {
 public:
  ChildSpawnAttr() {
    posix_spawnattr_init(&attr_);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (int s : {SIGTERM, SIGINT, SIGHUP, SIGCHLD, SIGPIPE}) sigaddset(&defaults, s);
    posix_spawnattr_setsigmask(&attr_, &none);
    posix_spawnattr_setsigdefault(&attr_, &defaults);
    posix_spawnattr_setflags(&attr_, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  }
  ~ChildSpawnAttr() { posix_spawnattr_destroy(&attr_); }
  ChildSpawnAttr(const ChildSpawnAttr&) = delete;
  ChildSpawnAttr& operator=(const ChildSpawnAttr&) = delete;
  const posix_spawnattr_t* get() const { return &attr_; }

 private:
  posix_spawnattr_t attr_;
};

}  // namespace vl::test

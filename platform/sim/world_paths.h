// WorldPaths: the folders of a program that runs on a world. Everything is the base adapter's,
// except that the world's own PreferencePanes folder (<world>/Library/PreferencePanes) is
// searched first, so a pane installed into a simulated Mac is the one its programs find.
#pragma once

#include <string>
#include <vector>

#include "platform/api/paths.h"

namespace vl::sim {

class WorldPaths : public Paths {
 public:
  // base must outlive this object.
  WorldPaths(const Paths& base, std::string worldFolder) : base_(base), world_(std::move(worldFolder)) {}

  static std::string preferencePanesOf(const std::string& worldFolder) {
    return worldFolder + "/Library/PreferencePanes";
  }
  // The simulated Mac's folder for panes of all its users.
  static std::string localPreferencePanesOf(const std::string& worldFolder) {
    return worldFolder + "/Local/Library/PreferencePanes";
  }

  std::string applicationSupport() const override { return base_.applicationSupport(); }
  std::string applicationSupport(Domain d) const override { return base_.applicationSupport(d); }
  std::string preferences() const override { return base_.preferences(); }
  std::vector<std::string> preferencePanes() const override {
    std::vector<std::string> dirs{preferencePanesOf(world_), localPreferencePanesOf(world_)};
    for (auto& d : base_.preferencePanes()) dirs.push_back(std::move(d));
    return dirs;
  }
  // The world's own folders stand for the user's and the all-users ones.
  std::string preferencePanesFolder(Domain d) const override {
    if (d == Domain::User) return preferencePanesOf(world_);
    if (d == Domain::Local) return localPreferencePanesOf(world_);
    return base_.preferencePanesFolder(d);
  }
  std::string temporary() const override { return base_.temporary(); }
  std::string resources() const override { return base_.resources(); }

 private:
  const Paths& base_;
  std::string world_;
};

}  // namespace vl::sim

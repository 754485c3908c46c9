// Paths port: the folders the programs use, per the platform's conventions (XDG folders on
// Linux, a temporary root in tests).
#pragma once

#include <string>
#include <vector>

namespace vl {

enum class Domain { User, Local, Network, System };

class Paths {
 public:
  virtual ~Paths() = default;
  // The user's Application Support folder (the store lives in a folder below it).
  virtual std::string applicationSupport() const = 0;
  // Application Support of a domain other than the user's (device definitions look there).
  virtual std::string applicationSupport(Domain d) const = 0;
  // The user's Preferences folder (user defaults domains are files there).
  virtual std::string preferences() const = 0;
  // The PreferencePanes folders of the four domains, in the platform's search order
  // (user, local, network, system).
  virtual std::vector<std::string> preferencePanes() const = 0;
  // The PreferencePanes folder of one domain (the user's own, or the local one shared by all
  // users). By default the domain's entry of preferencePanes().
  virtual std::string preferencePanesFolder(Domain d) const {
    auto all = preferencePanes();
    size_t i = static_cast<size_t>(d);
    return i < all.size() ? all[i] : std::string();
  }
  // A private temporary folder of this user.
  virtual std::string temporary() const = 0;
  // The folder holding the program's own resources (strings tables, definitions).
  virtual std::string resources() const = 0;
};

// Paths under one root folder: <root>/Library/Application Support, <root>/Library/Preferences,
// <root>/Library/PreferencePanes, and <root>/Local|Network|System/Library/... for the other
// domains. Used by tests and by the simulated Mac.
class RootedPaths : public Paths {
 public:
  RootedPaths(std::string root, std::string resources) : root_(std::move(root)), resources_(std::move(resources)) {}
  std::string applicationSupport() const override { return root_ + "/Library/Application Support"; }
  std::string applicationSupport(Domain d) const override { return domainRoot(d) + "/Library/Application Support"; }
  std::string preferences() const override { return root_ + "/Library/Preferences"; }
  std::vector<std::string> preferencePanes() const override {
    return {domainRoot(Domain::User) + "/Library/PreferencePanes",
            domainRoot(Domain::Local) + "/Library/PreferencePanes",
            domainRoot(Domain::Network) + "/Library/PreferencePanes",
            domainRoot(Domain::System) + "/Library/PreferencePanes"};
  }
  std::string temporary() const override { return root_ + "/tmp"; }
  std::string resources() const override { return resources_; }
  const std::string& root() const { return root_; }

 private:
  std::string domainRoot(Domain d) const {
    switch (d) {
      case Domain::User: return root_;
      case Domain::Local: return root_ + "/Local";
      case Domain::Network: return root_ + "/Network";
      case Domain::System: return root_ + "/System";
    }
    return root_;
  }
  std::string root_;
  std::string resources_;
};

}  // namespace vl

// XdgPaths: the programs' folders by the XDG base-directory conventions — Application Support
// in the data home, Preferences in the config home, a private temporary folder in the runtime
// folder.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/api/paths.h"
#include "platform/api/status.h"

namespace vl::linux_ {

// What the folders are computed from; fromProcess reads the process's environment.
struct XdgEnvironment {
  std::string home;
  std::string dataHome;    // $XDG_DATA_HOME; empty: ~/.local/share
  std::string configHome;  // $XDG_CONFIG_HOME; empty: ~/.config
  std::string runtimeDir;  // $XDG_RUNTIME_DIR; empty: /tmp/velmora-<uid>
  std::vector<std::string> dataDirs;  // $XDG_DATA_DIRS; empty: /usr/local/share, /usr/share
  unsigned uid = 0;
  static XdgEnvironment fromProcess();
};

class XdgPaths : public Paths {
 public:
  // Prepares the private temporary folder (made 0700 when missing; refused when it is not a
  // folder of this user that only this user can enter): a failure then.
  static Result<XdgPaths> create(const XdgEnvironment& env, std::string resources);

  // User: the data home. Local: the first data dir. System: the last data dir. Network has no
  // counterpart here: a folder that is normally absent.
  std::string applicationSupport() const override { return dataHome_; }
  std::string applicationSupport(Domain d) const override;
  std::string preferences() const override { return configHome_ + "/velmora/preferences"; }
  std::vector<std::string> preferencePanes() const override;
  std::string temporary() const override { return temporary_; }
  std::string resources() const override { return resources_; }

 private:
  XdgPaths() = default;
  std::string dataHome_, configHome_, temporary_, resources_, local_, system_;
};

// Makes path a folder of mode 0700 when it is missing, and checks that it is a real folder
// (not a link) owned by uid that no one else can enter. A failure saying which otherwise.
Status ensurePrivateFolder(const std::string& path, unsigned uid);

}  // namespace vl::linux_

// velmora-ctl privileged: the one helper the administrator prompt runs (under pkexec) for every
// privileged step of a request, so that one request asks once. Each step is an argument vector
// of a known operation, done here without a shell and without following links.
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>

#include "core/plist/number_text.h"
#include "pane/windows/uninstall.h"
#include "platform/linux/xattr_file_attributes.h"
#include "tools/ctl/command.h"

namespace vl::ctl {

namespace {

const char kHelp[] =
    "usage: velmora-ctl privileged --explain TEXT [--step N TOOL ARG...]...\n"
    "\n"
    "Runs the steps of one request for administrator rights, as the administrator prompt starts\n"
    "it (pkexec velmora-ctl privileged ...): the prompt shows this command line, TEXT first, and\n"
    "asks once for all the steps. Each step is N words: a tool and its arguments. Known steps:\n"
    "  rm -rf PATH            remove PATH and everything below it, never following a link\n"
    "  chflags nouchg PATH    clear PATH's immutable attribute\n"
    "  chown UID:GID PATH     give PATH (not a link's target) to that user and group\n"
    "  chmod MODE PATH        set PATH's permissions (octal); a link is refused\n"
    "  xattr -rc PATH         remove the download quarantine from PATH and below\n"
    "Every step runs even when an earlier one failed; each failure is printed.\n"
    "\n"
    "Exit status: 0 done, 1 a step failed, 2 wrong arguments or an unknown step (nothing run).\n";

using Step = std::vector<std::string>;

std::string errnoText(int e) { return std::strerror(e); }

bool octal(const std::string& s, mode_t* out) {
  if (s.empty() || s.size() > 4) return false;
  mode_t m = 0;
  for (char c : s) {
    if (c < '0' || c > '7') return false;
    m = m * 8 + static_cast<mode_t>(c - '0');
  }
  *out = m;
  return true;
}

bool owner(const std::string& s, uid_t* uid, gid_t* gid) {
  auto colon = s.find(':');
  if (colon == std::string::npos) return false;
  auto u = pl::parseIntegerText(s.substr(0, colon));
  auto g = pl::parseIntegerText(s.substr(colon + 1));
  if (!u || !g || *u < 0 || *g < 0 || *u > 0x7fffffff || *g > 0x7fffffff) return false;
  if (s.substr(0, colon) != std::to_string(*u) || s.substr(colon + 1) != std::to_string(*g)) return false;
  *uid = static_cast<uid_t>(*u);
  *gid = static_cast<gid_t>(*g);
  return true;
}

// Empty when the step is one this helper knows, else why not.
std::string checkStep(const Step& s) {
  mode_t mode;
  uid_t uid;
  gid_t gid;
  if (s.size() == 3 && s[0] == "rm" && s[1] == "-rf") return {};
  if (s.size() == 3 && s[0] == "chflags" && s[1] == "nouchg") return {};
  if (s.size() == 3 && s[0] == "chown" && owner(s[1], &uid, &gid)) return {};
  if (s.size() == 3 && s[0] == "chmod" && octal(s[1], &mode)) return {};
  if (s.size() == 3 && s[0] == "xattr" && s[1] == "-rc") return {};
  std::string text;
  for (const auto& w : s) text += (text.empty() ? "" : " ") + w;
  return "unknown step '" + text + "'";
}

// Runs one known step; empty on success, else why it failed.
std::string runStep(const Step& s) {
  const std::string& path = s[2];
  if (path.empty() || path[0] != '/') return path + ": not an absolute path";
  if (s[0] == "rm") {
    if (Status removed = removeTreeNoFollow(path); !removed) return removed.detail();
    return {};
  }
  if (s[0] == "xattr") {
    if (Status s = linux_::XattrFileAttributes().removeQuarantine(path, true); !s) return s.detail();
    return {};
  }
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return path + ": " + errnoText(errno);
  if (s[0] == "chown") {
    uid_t uid = 0;
    gid_t gid = 0;
    owner(s[1], &uid, &gid);
    if (::fchownat(AT_FDCWD, path.c_str(), uid, gid, AT_SYMLINK_NOFOLLOW) != 0) return path + ": " + errnoText(errno);
    return {};
  }
  if (S_ISLNK(st.st_mode)) return path + ": a symbolic link; not changed";
  if (s[0] == "chmod") {
    mode_t mode = 0;
    octal(s[1], &mode);
    if (::chmod(path.c_str(), mode) != 0) return path + ": " + errnoText(errno);
    return {};
  }
  // chflags nouchg: the immutable attribute, on the file itself (O_NOFOLLOW).
  int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return path + ": " + errnoText(errno);
  int flags = 0;
  std::string why;
  if (::ioctl(fd, FS_IOC_GETFLAGS, &flags) != 0) {
    // A file system without attributes has nothing to clear.
    if (errno != ENOTTY && errno != EOPNOTSUPP) why = path + ": " + errnoText(errno);
  } else if (flags & FS_IMMUTABLE_FL) {
    flags &= ~FS_IMMUTABLE_FL;
    if (::ioctl(fd, FS_IOC_SETFLAGS, &flags) != 0) why = path + ": " + errnoText(errno);
  }
  ::close(fd);
  return why;
}

int run(const Args& in) {
  Args args = in;
  if (!args.empty() && isHelp(args[0])) {
    std::cout << kHelp;
    return kExitOk;
  }
  if (args.size() < 2 || args[0] != "--explain") return usageError("privileged", "the first option is --explain TEXT");
  std::vector<Step> steps;
  for (size_t i = 2; i < args.size();) {
    auto n = args[i] == "--step" && i + 1 < args.size() ? pl::parseIntegerText(args[i + 1]) : std::nullopt;
    if (!n || *n < 1 || args[i + 1] != std::to_string(*n) || i + 2 + static_cast<size_t>(*n) > args.size())
      return usageError("privileged", "expected --step N followed by N words at '" + args[i] + "'");
    steps.emplace_back(args.begin() + static_cast<std::ptrdiff_t>(i + 2),
                       args.begin() + static_cast<std::ptrdiff_t>(i + 2 + static_cast<size_t>(*n)));
    i += 2 + static_cast<size_t>(*n);
  }
  // All or nothing for what is asked: an unknown step runs no step at all.
  for (const Step& s : steps)
    if (std::string why = checkStep(s); !why.empty()) return usageError("privileged", why);
  int status = kExitOk;
  for (const Step& s : steps) {
    if (std::string why = runStep(s); !why.empty()) {
      // On standard output: the prompt hands it back to the program that asked.
      std::cout << s[0] << " " << s[1] << ": " << why << "\n";
      status = kExitFailure;
    }
  }
  return status;
}

}  // namespace

CommandGroup privilegedCommand() {
  return {"privileged", "the administrator prompt's helper: the privileged steps of one request", kHelp, run};
}

}  // namespace vl::ctl

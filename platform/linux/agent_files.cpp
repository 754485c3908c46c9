// Unit and autostart files of a launch agent, their quoting, and the process helpers.
#include "platform/linux/agent_files.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <span>
#include <sstream>

#include "core/plist/codec.h"
#include "core/plist/text_util.h"

extern char** environ;

namespace vl::linux_ {

namespace {

const char kHex[] = "0123456789abcdef";

void appendHexByte(std::string& out, unsigned char c) {
  out += "\\x";
  out += kHex[c >> 4];
  out += kHex[c & 0xF];
}

}  // namespace

Result<AgentDefinition> readAgentDefinition(const std::string& path) {
  auto r = pl::readFile(path);
  if (!r || !r.value->isDict()) return Status::failure(1, path + ": " + (r ? "not a dictionary" : r.error));
  AgentDefinition a;
  a.propertyListPath = path;
  a.label = r.value->stringFor("Label").value_or("");
  if (const pl::Array* args = r.value->arrayFor("ProgramArguments"))
    for (const auto& v : *args)
      if (const std::string* s = v.asString()) a.programArguments.push_back(*s);
  a.runAtLoad = r.value->boolFor("RunAtLoad").value_or(false);
  if (a.label.empty() || a.programArguments.empty() || a.programArguments[0].empty() || a.programArguments[0][0] != '/')
    return Status::failure(1, path + ": needs a Label and ProgramArguments starting with an absolute path");
  return a;
}

std::string unitNameForLabel(const std::string& label) {
  std::string out;
  for (unsigned char c : label) {
    bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == ':' || c == '_' ||
                 c == '.' || c == '-';
    // A leading dot would make a hidden file; systemd escapes it too.
    if (plain && !(c == '.' && out.empty())) out += static_cast<char>(c);
    else appendHexByte(out, c);
  }
  return out + ".service";
}

std::optional<std::string> systemdQuote(const std::string& argument) {
  if (argument.find('\0') != std::string::npos || pl::detail::invalidUtf8At(argument) != std::string_view::npos)
    return std::nullopt;
  std::string out = "\"";
  for (unsigned char c : argument) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      // Specifiers and environment variables are expanded inside quotes as well.
      case '%': out += "%%"; break;
      case '$': out += "$$"; break;
      default:
        if (c < 0x20 || c == 0x7f) appendHexByte(out, c);
        else out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

Result<std::string> unitText(const AgentDefinition& agent) {
  std::string exec;
  for (const auto& a : agent.programArguments) {
    auto q = systemdQuote(a);
    if (!q) return Status::failure(1, "an argument of " + agent.label + " is not UTF-8 text");
    exec += (exec.empty() ? "" : " ") + *q;
  }
  // The description is one line whatever the label holds.
  std::string description;
  for (unsigned char c : agent.label) {
    if (c == '%') description += "%%";
    else if (c < 0x20 || c == 0x7f || c == '\\') appendHexByte(description, c);
    else description += static_cast<char>(c);
  }
  std::ostringstream t;
  t << "# The launch agent " << description << ", made from " << "its property list; replaced at each registration.\n"
    << "[Unit]\n"
    << "Description=" << description << "\n\n"
    << "[Service]\n"
    << "Type=simple\n"
    << "ExecStart=" << exec << "\n"
    // A crash brings the agent back; a fatal error or a start it refused would only repeat.
    << "Restart=on-failure\n"
    << "RestartSec=1\n"
    << "RestartPreventExitStatus=" << kNoRestartStatuses << "\n";
  if (agent.runAtLoad) t << "\n[Install]\nWantedBy=default.target\n";
  return t.str();
}

std::string desktopExecQuote(const std::string& argument) {
  static const std::string reserved = " \t\n\"'\\><~|&;$*?#()`";
  bool needs = argument.empty() || argument.find_first_of(reserved) != std::string::npos;
  std::string out;
  for (char c : argument) {
    if (c == '%') {
      out += "%%";
      continue;
    }
    if (needs && (c == '"' || c == '`' || c == '$' || c == '\\')) out += '\\';
    out += c;
  }
  return needs ? "\"" + out + "\"" : out;
}

std::string keyFileEscape(const std::string& value) {
  std::string out;
  for (size_t i = 0; i < value.size(); ++i) {
    char c = value[i];
    if (c == '\\') out += "\\\\";
    else if (c == '\n') out += "\\n";
    else if (c == '\t') out += "\\t";
    else if (c == '\r') out += "\\r";
    else if (c == ' ' && i == 0) out += "\\s";
    else out += c;
  }
  return out;
}

std::string keyFileUnescape(const std::string& value) {
  std::string out;
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '\\' || i + 1 == value.size()) {
      out += value[i];
      continue;
    }
    char n = value[++i];
    out += n == 'n' ? '\n' : n == 't' ? '\t' : n == 'r' ? '\r' : n == 's' ? ' ' : n;
  }
  return out;
}

Result<std::string> autostartEntryText(const AgentDefinition& agent) {
  std::string exec;
  for (const auto& a : agent.programArguments) {
    if (a.find('\0') != std::string::npos || pl::detail::invalidUtf8At(a) != std::string_view::npos)
      return Status::failure(1, "an argument of " + agent.label + " is not UTF-8 text");
    exec += (exec.empty() ? "" : " ") + desktopExecQuote(a);
  }
  std::ostringstream t;
  t << "[Desktop Entry]\n"
    << "Type=Application\n"
    << "Name=" << keyFileEscape(agent.label) << "\n"
    << "Exec=" << keyFileEscape(exec) << "\n"
    << "NoDisplay=true\n"
    << "X-GNOME-Autostart-enabled=true\n";
  return t.str();
}

std::string desktopEntryName(const std::string& path) {
  std::ifstream in(path);
  bool inEntry = false;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line[0] == '[') {
      inEntry = line == "[Desktop Entry]";
      continue;
    }
    if (inEntry && line.rfind("Name=", 0) == 0) return keyFileUnescape(line.substr(5));
  }
  return {};
}

Status writeFileAtomically(const std::string& path, const std::string& bytes) {
  return writeFileAtomicallyOrError(path, bytes);
}

namespace {

struct SpawnSetup {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
  SpawnSetup() {
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attr);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &all);
  }
  ~SpawnSetup() {
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
  }
};

std::vector<char*> argvOf(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  return args;
}

}  // namespace

Result<pid_t> spawnDetached(const std::vector<std::string>& argv, const std::string& logPath) {
  if (argv.empty() || argv[0].empty()) return Status::failure(EINVAL, "no program to start");
  SpawnSetup s;
  posix_spawn_file_actions_addopen(&s.actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&s.actions, 1, logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  posix_spawn_file_actions_adddup2(&s.actions, 1, 2);
  posix_spawnattr_setflags(&s.attr, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  auto args = argvOf(argv);
  pid_t pid = 0;
  int rc = ::posix_spawn(&pid, argv[0].c_str(), &s.actions, &s.attr, args.data(), environ);
  if (rc != 0) return Status::failure(rc, argv[0] + ": " + std::strerror(rc));
  return pid;
}

Result<int> runAndWait(const std::vector<std::string>& argv, std::string* output) {
  if (argv.empty() || argv[0].empty()) return Status::failure(EINVAL, "no program to run");
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return Status::failure(errno, std::strerror(errno));
  SpawnSetup s;
  posix_spawn_file_actions_adddup2(&s.actions, fds[1], 1);
  posix_spawn_file_actions_adddup2(&s.actions, fds[1], 2);
  posix_spawnattr_setflags(&s.attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  auto args = argvOf(argv);
  pid_t pid = 0;
  int rc = ::posix_spawn(&pid, argv[0].c_str(), &s.actions, &s.attr, args.data(), environ);
  ::close(fds[1]);
  if (rc != 0) {
    ::close(fds[0]);
    return Status::failure(rc, argv[0] + ": " + std::strerror(rc));
  }
  char buf[4096];
  for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) != 0;) {
    if (n < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (output && output->size() < 65536) output->append(buf, static_cast<size_t>(n));
  }
  ::close(fds[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

std::optional<uint64_t> processStartTicks(pid_t pid) {
  if (pid <= 0) return std::nullopt;
  int status = 0;
  (void)::waitpid(pid, &status, WNOHANG);
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  auto close = text.rfind(')');
  if (close == std::string::npos) return std::nullopt;
  std::istringstream rest(text.substr(close + 1));
  std::vector<std::string> f;
  for (std::string w; rest >> w;) f.push_back(w);
  if (f.size() < 20 || f[0] == "Z" || f[0] == "X") return std::nullopt;
  uint64_t v = 0;
  for (char c : f[19]) {
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + static_cast<uint64_t>(c - '0');
  }
  return v;
}

}  // namespace vl::linux_

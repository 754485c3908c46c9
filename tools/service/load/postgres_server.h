// A throwaway PostgreSQL server in a temporary folder, reachable only through a Unix socket in
// that folder, stopped and removed with the object; says why when it cannot start. The load
// tool measures against one, and the service tests share one.
#pragma once

#include <fcntl.h>
#include <pwd.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace svc::load {

class PostgresServer {
 public:
  // Starts a server with one empty database named `database`. started() tells whether it runs;
  // whyNot() says what stopped it (missing binaries, no "postgres" user when run as root, a
  // failing initdb or pg_ctl with the end of its log).
  explicit PostgresServer(std::string database = "velmora_test") : database_(std::move(database)) { start(); }
  ~PostgresServer() {
    if (owned_) stop();
  }

  // A server started by another process (see saveTo): used, never stopped by this object.
  // A state file that records a failed start gives an object whose whyNot() tells that reason.
  static std::unique_ptr<PostgresServer> attach(const std::string& stateFile) {
    std::unique_ptr<PostgresServer> s(new PostgresServer(Attached{}));
    std::ifstream in(stateFile);
    std::string status;
    std::getline(in, status);
    if (status == "running") {
      std::getline(in, s->dir_);
      std::getline(in, s->database_);
      s->running_ = !s->dir_.empty() && !s->database_.empty();
    } else {
      std::getline(in, s->why_);
    }
    if (!s->running_ && s->why_.empty()) s->why_ = "no usable PostgreSQL state file " + stateFile;
    return s;
  }

  // Leaves the server running after this object ends, recording where it is (or why it did
  // not start) for attach() and stopSaved() in other processes.
  bool saveTo(const std::string& stateFile) {
    std::ofstream out(stateFile, std::ios::trunc);
    if (running_) {
      out << "running\n" << dir_ << "\n" << database_ << "\n";
      owned_ = false;
    } else {
      std::string why = whyNot();
      std::replace(why.begin(), why.end(), '\n', ' ');
      out << "failed\n" << why << "\n";
    }
    return static_cast<bool>(out);
  }

  // Stops and removes the server a state file names, and the file.
  static void stopSaved(const std::string& stateFile) {
    auto s = attach(stateFile);
    if (s->running_) {
      s->binDir_ = findBinDir();
      s->asRoot_ = geteuid() == 0;
      s->owned_ = true;
      s->stop();
    }
    std::remove(stateFile.c_str());
  }
  PostgresServer(const PostgresServer&) = delete;
  PostgresServer& operator=(const PostgresServer&) = delete;

  bool started() const { return running_; }
  const std::string& whyNot() const { return why_; }
  const std::string& socketDir() const { return dir_; }
  const std::string& database() const { return database_; }
  // A libpq connection URL for the database, going through the socket folder.
  std::string url() const { return "postgresql://velmora@/" + database_ + "?host=" + dir_; }

  void stop() {
    if (running_) {
      run(true, {binDir_ + "/pg_ctl", "stop", "-D", dataDir(), "-m", "fast", "-w", "-s"});
      running_ = false;
    }
    if (!dir_.empty()) {
      std::error_code ec;
      std::filesystem::remove_all(dir_, ec);
      dir_.clear();
    }
  }

  // The newest /usr/lib/postgresql/<version>/bin holding initdb and pg_ctl (VELMORA_PG_BIN
  // overrides it); empty when there is none.
  static std::string findBinDir() {
    if (const char* env = getenv("VELMORA_PG_BIN"); env && *env) return env;
    std::string best;
    int bestVersion = -1;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/usr/lib/postgresql", ec)) {
      std::string name = entry.path().filename().string();
      if (name.empty() || !std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; }))
        continue;
      std::string bin = entry.path().string() + "/bin";
      if (access((bin + "/initdb").c_str(), X_OK) != 0 || access((bin + "/pg_ctl").c_str(), X_OK) != 0) continue;
      int v = std::stoi(name.substr(0, 6));
      if (v > bestVersion) bestVersion = v, best = bin;
    }
    return best;
  }

 private:
  std::string dataDir() const { return dir_ + "/data"; }

  void start() {
    binDir_ = findBinDir();
    if (binDir_.empty()) {
      why_ = "no PostgreSQL server binaries (initdb, pg_ctl) under /usr/lib/postgresql/<version>/bin; "
             "install the postgresql package or set VELMORA_PG_BIN";
      return;
    }
    if (access((binDir_ + "/initdb").c_str(), X_OK) != 0 || access((binDir_ + "/pg_ctl").c_str(), X_OK) != 0) {
      why_ = "no initdb and pg_ctl programs in " + binDir_;
      return;
    }
    asRoot_ = geteuid() == 0;
    uid_t owner = geteuid();
    gid_t group = getegid();
    if (asRoot_) {
      // The server refuses to run as root: it runs as the postgres system user instead.
      passwd* pw = getpwnam("postgres");
      if (!pw) {
        why_ = "running as root and there is no \"postgres\" system user to run the server as";
        return;
      }
      if (access(kRunuser, X_OK) != 0) {
        why_ = std::string("running as root and ") + kRunuser + " is missing, needed to run the server as postgres";
        return;
      }
      owner = pw->pw_uid;
      group = pw->pw_gid;
    }
    std::string tmpl = "/tmp/velmora-pg-XXXXXX";
    if (!mkdtemp(tmpl.data())) {
      why_ = "cannot make a temporary folder in /tmp";
      return;
    }
    dir_ = tmpl;
    if (asRoot_ && chown(dir_.c_str(), owner, group) != 0) {
      why_ = "cannot hand the temporary folder to the postgres user";
      return;
    }
    std::string log = dir_ + "/initdb.log";
    if (run(true, {binDir_ + "/initdb", "-D", dataDir(), "-A", "trust", "-U", "velmora", "-E", "UTF8",
                   "--no-locale", "--no-sync"},
            log) != 0) {
      why_ = "initdb failed: " + tail(log);
      return;
    }
    // Only the socket in our folder, no TCP; durability does not matter for a throwaway server.
    {
      std::ofstream conf(dataDir() + "/postgresql.conf", std::ios::app);
      conf << "\nlisten_addresses = ''\nunix_socket_directories = '" << dir_
           << "'\nfsync = off\nsynchronous_commit = off\nfull_page_writes = off\n";
      if (!conf) {
        why_ = "cannot write the server's configuration";
        return;
      }
    }
    log = dir_ + "/server.log";
    if (run(true, {binDir_ + "/pg_ctl", "start", "-D", dataDir(), "-w", "-t", "60", "-s", "-l", log}) != 0) {
      why_ = "pg_ctl start failed: " + tail(log);
      run(true, {binDir_ + "/pg_ctl", "stop", "-D", dataDir(), "-m", "immediate", "-w", "-s"});
      return;
    }
    running_ = true;
    std::string createLog = dir_ + "/createdb.log";
    std::string createdb = binDir_ + "/createdb";
    if (run(false, {createdb, "-h", dir_, "-U", "velmora", database_}, createLog) != 0) {
      why_ = "createdb failed: " + tail(createLog);
      stop();
      return;
    }
  }

  // Runs a program with an argument vector (as postgres when `asServerUser` and we are root),
  // output to `log` or discarded; the exit status, or -1 when it could not start.
  int run(bool asServerUser, std::vector<std::string> argv, const std::string& log = "/dev/null") const {
    if (asServerUser && asRoot_) argv.insert(argv.begin(), {kRunuser, "-u", "postgres", "--"});
    std::vector<char*> args;
    for (auto& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&fa, 1, 2);
    // The server user may not be allowed into the caller's working folder.
    if (!dir_.empty()) posix_spawn_file_actions_addchdir_np(&fa, dir_.c_str());
    pid_t pid = 0;
    int rc = posix_spawn(&pid, args[0], &fa, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    if (rc != 0) return -1;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  static std::string tail(const std::string& path) {
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    std::string text = ss.str();
    if (text.size() > 600) text = "..." + text.substr(text.size() - 600);
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text.empty() ? "(no output)" : text;
  }

  struct Attached {};
  explicit PostgresServer(Attached) : owned_(false) {}

  static constexpr const char* kRunuser = "/usr/sbin/runuser";
  std::string database_;
  std::string binDir_;
  std::string dir_;
  std::string why_;
  bool asRoot_ = false;
  bool running_ = false;
  bool owned_ = true;
};

}  // namespace svc::load

// Revealing a file through the desktop's file manager on D-Bus: the request a file manager gets,
// and the cases where nobody shows the file (none on the bus, one that never answers, no bus,
// no file) all end quickly with false. Runs on a private bus of its own, so that no real file
// manager of the developer's desktop opens a window and parallel test programs do not compete
// for the file manager's name.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <mutex>
#include <thread>

#include "platform/linux/dbus_file_manager.h"
#include "tests/support/private_bus.h"
#include "tests/support/sim_world.h"

extern char** environ;

namespace vl {
namespace {

using linux_::DbusFileManager;

using test::PrivateBus;

// A stand-in file manager: owns the name, records each ShowItems call and answers it, or never
// answers when told not to.
class StandInFileManager {
 public:
  StandInFileManager(const std::string& address, bool answers) : answers_(answers) {
    if (sd_bus_new(&bus_) < 0 || sd_bus_set_address(bus_, address.c_str()) < 0 || sd_bus_set_bus_client(bus_, 1) < 0 ||
        sd_bus_start(bus_) < 0)
      return;
    static const sd_bus_vtable vtable[] = {
        SD_BUS_VTABLE_START(0),
        SD_BUS_METHOD("ShowItems", "ass", "", showItems, SD_BUS_VTABLE_UNPRIVILEGED),
        SD_BUS_VTABLE_END,
    };
    if (sd_bus_add_object_vtable(bus_, nullptr, linux_::kFileManagerPath, linux_::kFileManagerInterface, vtable, this) <
            0 ||
        sd_bus_request_name(bus_, linux_::kFileManagerService, 0) < 0)
      return;
    ready_ = true;
    thread_ = std::thread([this] {
      while (!stop_) {
        if (sd_bus_process(bus_, nullptr) > 0) continue;
        sd_bus_wait(bus_, 20000);
      }
    });
  }
  ~StandInFileManager() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (bus_) sd_bus_flush_close_unref(bus_);
  }
  bool ready() const { return ready_; }
  struct Call {
    std::vector<std::string> uris;
    std::string startupId;
  };
  std::vector<Call> calls() const {
    std::lock_guard<std::mutex> l(m_);
    return calls_;
  }

 private:
  static int showItems(sd_bus_message* m, void* self, sd_bus_error*) {
    auto* me = static_cast<StandInFileManager*>(self);
    char** uris = nullptr;
    const char* startup = nullptr;
    Call call;
    if (sd_bus_message_read_strv(m, &uris) >= 0 && uris) {
      for (char** u = uris; *u; ++u) call.uris.emplace_back(*u);
      for (char** u = uris; *u; ++u) free(*u);
      free(uris);
    }
    if (sd_bus_message_read(m, "s", &startup) >= 0 && startup) call.startupId = startup;
    {
      std::lock_guard<std::mutex> l(me->m_);
      me->calls_.push_back(std::move(call));
    }
    // Not answering leaves the caller waiting for its timeout.
    return me->answers_ ? sd_bus_reply_method_return(m, "") : 1;
  }

  bool answers_;
  bool ready_ = false;
  sd_bus* bus_ = nullptr;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  mutable std::mutex m_;
  std::vector<Call> calls_;
};

class DbusFileManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (bus.address().empty()) GTEST_SKIP() << "dbus-daemon could not be started";
    report = dir.path() + "/Velmora Debug #1.txt";
    std::ofstream(report) << "report";
  }
  test::TempDir dir;
  PrivateBus bus{dir.path()};
  std::string report;
};

TEST_F(DbusFileManagerTest, AsksTheFileManagerToShowTheFileByUri) {
  StandInFileManager fm(bus.address(), true);
  ASSERT_TRUE(fm.ready());
  DbusFileManager reveal(bus.address());
  EXPECT_TRUE(reveal.revealFile(report)) << reveal.lastError();
  auto calls = fm.calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].uris, std::vector<std::string>{"file://" + dir.path() + "/Velmora%20Debug%20%231.txt"});
  EXPECT_EQ(calls[0].startupId, "");
}

TEST_F(DbusFileManagerTest, NobodyShowingTheFileEndsSoonWithFalse) {
  StandInFileManager silent(bus.address(), false);
  ASSERT_TRUE(silent.ready());
  struct Case {
    const char* what;
    std::string address;
    std::string path;
  } cases[] = {
      {"a file manager that never answers", bus.address(), report},
      {"no file", bus.address(), dir.path() + "/missing.txt"},
      {"no bus", "unix:path=" + dir.path() + "/no-bus", report},
  };
  for (const auto& c : cases) {
    DbusFileManager reveal(c.address, 0.3);
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(reveal.revealFile(c.path)) << c.what;
    EXPECT_FALSE(reveal.lastError().empty()) << c.what;
    // Bounded by the timeout, not by the bus's default of 25 seconds.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10)) << c.what;
  }
  // Only the first case reached the file manager: a missing file is not asked about.
  EXPECT_EQ(silent.calls().size(), 1u);
}

TEST_F(DbusFileManagerTest, NoFileManagerOnTheBus) {
  DbusFileManager reveal(bus.address(), 0.3);
  EXPECT_FALSE(reveal.revealFile(report));
  EXPECT_NE(reveal.lastError().find("ServiceUnknown"), std::string::npos) << reveal.lastError();
}

TEST(FileUri, EncodesEveryByteThatIsNotPlain) {
  struct Case {
    const char* path;
    const char* uri;
  } cases[] = {
      {"/tmp/Velmora_Debug.txt", "file:///tmp/Velmora_Debug.txt"},
      {"/home/a b/x~y-z", "file:///home/a%20b/x~y-z"},
      {"/q/a?b#c%d", "file:///q/a%3Fb%23c%25d"},
      {"/\xC3\xBC/\xFF", "file:///%C3%BC/%FF"},  // UTF-8 and a byte that is not UTF-8
  };
  for (const auto& c : cases) EXPECT_EQ(linux_::fileUri(c.path), c.uri) << c.path;
}

}  // namespace
}  // namespace vl

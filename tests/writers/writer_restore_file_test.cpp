// The writers' restore file: the first original per device survives, later writes do not
// replace it, a forgotten last entry removes the file, and a damaged file is reported.
#include "platform/linux/writer_restore_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace vl::linux_input {
namespace {

class RestoreFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() / ("velmora-restore-" + std::to_string(getpid()));
    std::filesystem::remove_all(dir_);
    path_ = WriterRestoreFile::defaultPath(dir_.string());
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::filesystem::path dir_;
  std::string path_;
};

TEST_F(RestoreFileTest, KeepsTheFirstOriginalAcrossRunsAndGoesWhenEmpty) {
  {
    WriterRestoreFile f(path_);
    ASSERT_TRUE(f.load().ok()) << "a missing file is an empty one";
    ASSERT_TRUE(f.remember("x11", "/dev/input/event5", {{"decel", 1.0}}).ok());
    ASSERT_TRUE(f.remember("x11", "/dev/input/event5", {{"decel", 4.0}}).ok());  // our own value: ignored
    ASSERT_TRUE(f.remember("kwin", "/dev/input/event5", {{"acceleration", 0.25}}).ok());
  }
  struct stat st {};
  ASSERT_EQ(stat(std::filesystem::path(path_).parent_path().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u) << "only the user reads what the desktop had";

  WriterRestoreFile next(path_);
  ASSERT_TRUE(next.load().ok());
  ASSERT_TRUE(next.entry("x11", "/dev/input/event5").has_value());
  EXPECT_EQ(next.entry("x11", "/dev/input/event5")->at("decel").doubleValue(), 1.0);
  EXPECT_EQ(next.entries("kwin").size(), 1u);
  ASSERT_TRUE(next.forget("x11", "/dev/input/event5").ok());
  ASSERT_TRUE(next.forget("x11", "/dev/input/event5").ok());  // twice is harmless
  EXPECT_TRUE(std::filesystem::exists(path_));
  ASSERT_TRUE(next.forget("kwin", "/dev/input/event5").ok());
  EXPECT_FALSE(std::filesystem::exists(path_));
}

TEST_F(RestoreFileTest, ADamagedFileIsReportedNotTrusted) {
  std::filesystem::create_directories(std::filesystem::path(path_).parent_path());
  std::ofstream(path_) << "<plist><dict><key>x11</key><integer>";
  WriterRestoreFile f(path_);
  Status s = f.load();
  EXPECT_FALSE(s.ok());
  EXPECT_NE(s.detail().find(path_), std::string::npos);
  EXPECT_TRUE(f.entries("x11").empty());
  std::ofstream(path_, std::ios::trunc) << "<plist><array/></plist>";
  EXPECT_FALSE(WriterRestoreFile(path_).load().ok());
}

}  // namespace
}  // namespace vl::linux_input

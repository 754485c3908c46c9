// Where the store file lies: the joint folder, the older folder's copy, ignored names, the
// alphabetical choice and the extension rules, and the open that goes through them.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "core/store/records.h"
#include "tests/store/store_fixture.h"

namespace vl {
namespace {

namespace fs = std::filesystem;

class StoreFiles : public test::StoreBench {
 protected:
  std::string support() const { return paths.applicationSupport(); }
  std::string joint() const { return support() + "/Drovana & Velmora"; }
  std::string older() const { return support() + "/Velmora"; }
  void touch(const std::string& p, const std::string& content = "x") {
    fs::create_directories(fs::path(p).parent_path());
    std::ofstream(p, std::ios::binary) << content;
  }
};

TEST_F(StoreFiles, ChoosesTheStoreFileByTheFolderRules) {
  struct Case {
    const char* what;
    std::vector<std::string> jointFiles;  // empty with makeJoint false: no joint folder
    bool makeJoint;
    std::vector<std::string> olderFiles;
    std::string expected;  // file name in the joint folder
    bool exists;
  } cases[] = {
      {"first run", {}, false, {}, "Device.dvsetting", false},
      {"older folder, alphabetical", {}, false, {"Settings.vlsetting", "another.vlsetting"}, "Device.dvsetting", true},
      {"ignored names", {"~Device.dvsetting", "mine.dvsetting", ".hidden.dvsetting"}, true, {}, "mine.dvsetting", true},
      {"other extension", {"Device.dvsetting.bak", "Device.dvsetting-wal"}, true, {}, "Device.dvsetting", false},
      {"case of the name", {"b.dvsetting", "A.dvsetting"}, true, {}, "A.dvsetting", true},
      {"older folder ignored once joint exists", {}, true, {"Settings.vlsetting"}, "Device.dvsetting", false},
      {"wrong extension in older folder", {}, false, {"Settings.dvsetting"}, "Device.dvsetting", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(support());
    if (c.makeJoint) fs::create_directories(joint());
    for (const auto& f : c.jointFiles) touch(joint() + "/" + f, f);
    for (const auto& f : c.olderFiles) touch(older() + "/" + f, f);
    bool exists = false;
    auto url = QS814prefsFileURL(platform, errors, &exists);
    ASSERT_TRUE(url);
    EXPECT_EQ(*url, joint() + "/" + c.expected);
    EXPECT_EQ(exists, c.exists);
    EXPECT_TRUE(fs::is_directory(joint()));
  }
  // The older folder's alphabetically first store was copied, not moved.
  fs::remove_all(support());
  touch(older() + "/Settings.vlsetting", "settings");
  touch(older() + "/another.vlsetting", "another");
  auto url = QS814prefsFileURL(platform, errors);
  EXPECT_EQ(fileText(*url), "another");
  EXPECT_TRUE(fs::exists(older() + "/another.vlsetting"));
  EXPECT_TRUE(fs::exists(older() + "/Settings.vlsetting"));
}

TEST_F(StoreFiles, FoldersAndFailures) {
  bool exists = true;
  EXPECT_EQ(QS814prefsFolderURL(platform, true, &exists), joint());
  EXPECT_FALSE(exists);
  EXPECT_EQ(QS814prefsFolderURL(platform, false, &exists), older());
  // The settings folder cannot be made where a file is in the way.
  touch(joint());
  EXPECT_FALSE(QS814prefsFileURL(platform, errors));
  EXPECT_EQ(errorStackEntries(errors).front(), "814.0051");
  StoreContextRef ctx;
  ErrorInfo err;
  EXPECT_EQ(QS814openMOC(platform, errors, nullptr, false, &ctx, &err), 8140177);
  EXPECT_EQ(errorStackEntries(errors).front(), "814.0121");
}

TEST_F(StoreFiles, OpenUsesTheChosenFileAndReadsWhatWasSaved) {
  StoreContextRef rw;
  ErrorInfo err;
  ASSERT_EQ(QS814openMOC(platform, errors, nullptr, false, &rw, &err), 0);
  EXPECT_EQ(QS814urlForMOC(rw.get()), joint() + "/Device.dvsetting");
  makeDevice(rw.get(), 0x5ac, 0x265, 0, "Bluetooth");
  save(rw.get());
  rw.reset();
  StoreContextRef ro;
  ASSERT_EQ(QS814openMOC(platform, errors, nullptr, true, &ro, &err), 0);
  EXPECT_EQ(QS814allDevices(ro.get()).size(), 1u);
  // A damaged file makes the open fail with both numbers on the stack.
  ro.reset();
  std::ofstream(joint() + "/Device.dvsetting", std::ios::trunc) << "not a store, not at all, not even close";
  EXPECT_EQ(QS814openMOC(platform, errors, nullptr, true, &ro, &err), 8140177);
  EXPECT_EQ(errorStackEntries(errors).front(), "814.0153");
}

}  // namespace
}  // namespace vl

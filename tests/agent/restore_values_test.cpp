// The file of speeds to give back: what survives a reload, what a damaged or hostile file
// yields, and that it never holds more than the devices that may carry a written speed.
#include "agent/restore_values.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "core/hid/fixed_point.h"
#include "support/sim_world.h"

namespace vl {
namespace {

class RestoreValuesFile : public ::testing::Test {
 protected:
  std::string path() const { return dir.path() + "/agent/restore.plist"; }
  void writeRaw(const std::string& text) {
    std::filesystem::create_directories(dir.path() + "/agent");
    std::ofstream(path()) << text;
  }
  static std::string plist(const std::string& devices) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict><key>Devices</key><dict>" +
           devices + "</dict></dict></plist>\n";
  }
  static std::string entry(const std::string& key, const std::string& body) {
    return "<key>" + key + "</key><dict>" + body + "</dict>";
  }
  test::TempDir dir;
  const SavedSpeed mouse{X2Fix(400), "HIDMouseAcceleration", X2Fix(0.6875)};
  const SavedSpeed pad{X2Fix(1300), "HIDTrackpadAcceleration", X2Fix(-1)};
};

TEST_F(RestoreValuesFile, KeysTellDevicesApartByIdentityAndLocation) {
  EXPECT_EQ(RestoreValues::keyFor(0x93a, 0x2510, 0, "USB", pl::Value::uint32(0x14200000)), "93a-2510-0-USB@14200000");
  // A location reported negative is the same register value.
  EXPECT_EQ(RestoreValues::keyFor(1, 2, 3, "USB", pl::Value::int32(-2147483647 - 1)), "1-2-3-USB@80000000");
  EXPECT_NE(RestoreValues::keyFor(1, 2, 0, "USB", pl::Value::uint32(1)),
            RestoreValues::keyFor(1, 2, 0, "USB", pl::Value::uint32(2)));
}

TEST_F(RestoreValuesFile, RecordedValuesSurviveAsLeftOversAndLeaveNothingOnceGivenBack) {
  RestoreValues first(path());
  std::string message;
  EXPECT_TRUE(first.load(&message));  // no file yet: nothing left over
  EXPECT_EQ(first.size(), 0u);
  std::string error;
  ASSERT_TRUE(first.record("a", mouse));
  ASSERT_TRUE(first.record("b", pad));
  EXPECT_FALSE(first.isLeftOver("a"));
  // A second record keeps the first values: they are the device's own.
  ASSERT_TRUE(first.record("a", pad));
  EXPECT_EQ(*first.find("a"), mouse);

  // What a killed run leaves is read whole by the next one, every entry left over.
  RestoreValues next(path());
  EXPECT_TRUE(next.load(&message)) << message;
  ASSERT_EQ(next.size(), 2u);
  EXPECT_EQ(*next.find("a"), mouse);
  EXPECT_EQ(*next.find("b"), pad);
  EXPECT_TRUE(next.isLeftOver("a"));
  next.clearLeftOver("a");
  EXPECT_FALSE(next.isLeftOver("a"));
  EXPECT_TRUE(next.find("a"));

  ASSERT_TRUE(next.remove("a"));
  ASSERT_TRUE(next.remove("missing"));
  RestoreValues again(path());
  again.load(&message);
  EXPECT_EQ(again.size(), 1u);
  ASSERT_TRUE(next.remove("b"));
  EXPECT_FALSE(std::filesystem::exists(path()));
  // No temporary file is left beside it.
  EXPECT_TRUE(std::filesystem::is_empty(dir.path() + "/agent"));
}

TEST_F(RestoreValuesFile, ADamagedFileYieldsOnlyValuesThatCouldBeWrittenBack) {
  const std::string good = "<key>HIDPointerResolution</key><integer>26214400</integer>"
                           "<key>AccelerationKey</key><string>HIDMouseAcceleration</string>"
                           "<key>Acceleration</key><integer>45056</integer>";
  struct Case {
    std::string text;
    size_t kept;
    bool clean;
  } cases[] = {
      {plist(entry("ok", good)), 1, true},
      {"", 0, true},  // read as an empty dictionary: nothing to give back
      {"garbage", 0, false},
      {"<?xml version=\"1.0\"?><plist><array/></plist>", 0, false},
      {plist(entry("ok", good) + "<key>text</key><string>x</string>"), 1, false},
      // Resolution below 10 or above 2000, acceleration above 20, a real, a missing or empty key,
      // a number past 32 bits: none of them could be written back.
      {plist(entry("low", "<key>HIDPointerResolution</key><integer>65536</integer>"
                          "<key>AccelerationKey</key><string>K</string><key>Acceleration</key><integer>0</integer>")),
       0, false},
      {plist(entry("high", "<key>HIDPointerResolution</key><integer>131137536</integer>"
                           "<key>AccelerationKey</key><string>K</string><key>Acceleration</key><integer>0</integer>")),
       0, false},
      {plist(entry("fast", "<key>HIDPointerResolution</key><integer>26214400</integer>"
                           "<key>AccelerationKey</key><string>K</string><key>Acceleration</key><integer>1310721</integer>")),
       0, false},
      {plist(entry("real", "<key>HIDPointerResolution</key><real>400</real>"
                           "<key>AccelerationKey</key><string>K</string><key>Acceleration</key><integer>0</integer>")),
       0, false},
      {plist(entry("nokey", "<key>HIDPointerResolution</key><integer>26214400</integer>"
                            "<key>AccelerationKey</key><string></string><key>Acceleration</key><integer>0</integer>")),
       0, false},
      {plist(entry("wide", "<key>HIDPointerResolution</key><integer>4294993510</integer>"
                           "<key>AccelerationKey</key><string>K</string><key>Acceleration</key><integer>0</integer>")),
       0, false},
  };
  for (const auto& c : cases) {
    writeRaw(c.text);
    RestoreValues v(path());
    std::string message;
    EXPECT_EQ(v.load(&message), c.clean) << c.text;
    EXPECT_EQ(v.size(), c.kept) << c.text;
    if (!c.clean) {
      EXPECT_FALSE(message.empty()) << c.text;
    }
  }
  // A folder or a link in the file's place is not read.
  std::filesystem::remove(path());
  std::filesystem::create_directory(path());
  RestoreValues folder(path());
  std::string message;
  EXPECT_FALSE(folder.load(&message));
  EXPECT_EQ(folder.size(), 0u);
}

TEST_F(RestoreValuesFile, AFileThatCannotBeWrittenIsReportedAndTheValuesKept) {
  // A file where the folder should be: no permission can make this writable.
  std::ofstream(dir.path() + "/blocked") << "x";
  RestoreValues v(dir.path() + "/blocked/restore.plist");
  Status recorded = v.record("a", mouse);
  EXPECT_FALSE(recorded);
  EXPECT_FALSE(recorded.detail().empty());
  EXPECT_TRUE(v.find("a"));
}

}  // namespace
}  // namespace vl

// Sharing with the web service: the normalised identity table, the built-in trackpad's layout,
// the salted machine identifier, and the upload request as it leaves the machine.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "core/plist/number_text.h"
#include "core/store/cursor_speed_record.h"
#include "core/store/device_record.h"
#include "core/store/web_sharing.h"
#include "core/system/versions.h"
#include "store_fixture.h"
#include "support/comma_locale.h"

namespace vl {
namespace {

constexpr const char* kSerial = "C02RM4XGFVH5";  // the fixture Mac's serial number

struct NormaliseRow {
  WebDeviceID in, out;
};

TEST(WebIdentity, NormalisationTable) {
  const NormaliseRow rows[] = {
      // Apple: the Magic Trackpad on either vendor id counts as the Bluetooth one.
      {{0x5AC, 0x265, 0, "USB"}, {0x4C, 0x265, 0, "Bluetooth"}},
      {{0x4C, 0x265, 0, "Bluetooth"}, {0x4C, 0x265, 0, "Bluetooth"}},
      {{0x5AC, 0x269, 0, "Bluetooth"}, {0x5AC, 0x269, 0, "Bluetooth"}},
      // Logitech: "Unifying" first, and the rows below it do not match the receiver's own ids.
      {{0x46D, 0x4041, 0x4041, "Unifying"}, {0x46D, 0xC52B, 0xC52B, "USB"}},
      {{0x46D, 0xB012, 0, "Unifying"}, {0x46D, 0xC52B, 0xC52B, "USB"}},
      {{0x46D, 0xB012, 0, "Bluetooth"}, {0x46D, 0xC52B, 0x4041, "USB"}},
      {{0x46D, 0xB017, 0, "Bluetooth Low Energy"}, {0x46D, 0xC52B, 0x4041, "USB"}},
      {{0x46D, 0xB013, 0, "Bluetooth"}, {0x46D, 0xC52B, 0x404A, "USB"}},
      {{0x46D, 0xB015, 0, "Bluetooth"}, {0x46D, 0xC52B, 0x405E, "USB"}},
      {{0x46D, 0xB019, 0, "Bluetooth"}, {0x46D, 0xC52B, 0x4069, "USB"}},
      {{0x46D, 0xB01E, 0, "Bluetooth"}, {0x46D, 0xC52B, 0x4069, "USB"}},
      {{0x46D, 0xB01A, 0, "Bluetooth"}, {0x46D, 0xC52B, 0x406A, "USB"}},
      {{0x46D, 0xB01D, 0, "Bluetooth"}, {0x46D, 0xC52B, 0x406F, "USB"}},
      {{0x46D, 0xB020, 0, "Bluetooth"}, {0x46D, 0xC52B, 0x407B, "USB"}},
      {{0x46D, 0xC08A, 0, "USB"}, {0x46D, 0xC52B, 0x407B, "USB"}},
      {{0x46D, 0xB024, 0, "Bluetooth"}, {0x46D, 0xC539, 0x4085, "USB"}},
      {{0x46D, 0xB025, 0, "Bluetooth"}, {0x46D, 0xC52B, 0x4090, "USB"}},
      {{0x46D, 0xB027, 0, "Bluetooth"}, {0x46D, 0xC52B, 0x4096, "USB"}},
      {{0x46D, 0xC07C, 0, "Bluetooth"}, {0x46D, 0xC531, 0x102A, "Bluetooth"}},
      {{0x46D, 0xC081, 0, "USB"}, {0x46D, 0xC539, 0x4053, "USB"}},
      {{0x46D, 0xC086, 7, "Bluetooth"}, {0x46D, 0xC539, 0x4067, "Bluetooth"}},
      {{0x46D, 0xC08D, 0, "USB"}, {0x46D, 0xC539, 0x407F, "USB"}},
      {{0x46D, 0xC52B, 0x4060, "USB"}, {0x46D, 0xC52B, 0x4041, "USB"}},
      {{0x46D, 0xC52B, 0x4071, "USB"}, {0x46D, 0xC52B, 0x4069, "USB"}},
      {{0x46D, 0xC52B, 0x4067, "USB"}, {0x46D, 0xC539, 0x4067, "USB"}},
      {{0x46D, 0xC53A, 0x4067, "USB"}, {0x46D, 0xC539, 0x4067, "USB"}},
      {{0x46D, 0xC53A, 0x407F, "USB"}, {0x46D, 0xC539, 0x407F, "USB"}},
      {{0x46D, 0xC53A, 0x4060, "USB"}, {0x46D, 0xC53A, 0x4060, "USB"}},  // that row is 0xC52B only
      {{0x46D, 0xC52B, 0x4041, "USB"}, {0x46D, 0xC52B, 0x4041, "USB"}},
      {{0x46D, 0x8F, 0, "USB"}, {0x46D, 0x8F, 0, "USB"}},  // the 0x8F row is not Logitech's
      // Kensington, Elecom, Razer.
      {{0x47D, 0x131, 0, "Bluetooth"}, {0x47D, 0x132, 0, "USB"}},
      {{0x47D, 0x133, 0, "USB"}, {0x47D, 0x132, 0, "USB"}},
      {{0x47D, 0x8019, 0, "Bluetooth"}, {0x47D, 0x8018, 0, "USB"}},
      {{0x47D, 0x8F, 0, "Bluetooth"}, {0x47D, 0x90, 0, "USB"}},
      {{0x56E, 0x92, 0, "Bluetooth"}, {0x56E, 0x90, 0, "USB"}},
      {{0x1532, 0x8F, 0, "Bluetooth"}, {0x1532, 0x90, 0, "USB"}},
      {{0x56E, 0x131, 0, "Bluetooth"}, {0x56E, 0x132, 0, "USB"}},
      {{0x56E, 0x8019, 0, "Bluetooth"}, {0x56E, 0x8019, 0, "Bluetooth"}},
      {{0x1532, 0x131, 0, "Bluetooth"}, {0x1532, 0x131, 0, "Bluetooth"}},
      // Anybody else keeps what they have.
      {{0x93A, 0x2510, 0, "USB"}, {0x93A, 0x2510, 0, "USB"}},
      {{0x93A, 0xB012, 0, "Unifying"}, {0x93A, 0xB012, 0, "Unifying"}},
  };
  for (const auto& r : rows) {
    WebDeviceID got = QS836normaliseIdentity(r.in);
    EXPECT_EQ(got, r.out) << std::hex << r.in.vid << "/" << r.in.pid << "/" << r.in.mid << "/" << r.in.transport
                          << " gave " << got.vid << "/" << got.pid << "/" << got.mid << "/" << got.transport;
  }
}

TEST(WebIdentity, PrefixCountsCharactersNotBytes) {
  EXPECT_EQ(QS836prefixCharacters("abc", 2), "ab");
  EXPECT_EQ(QS836prefixCharacters("abc", 3), "abc");
  EXPECT_EQ(QS836prefixCharacters("h\xC3\xA9llo", 2), "h\xC3\xA9");           // é is one character
  EXPECT_EQ(QS836prefixCharacters("\xF0\x9F\x96\xB1x", 1), "\xF0\x9F\x96\xB1");  // a 4-byte one
  EXPECT_EQ(QS836prefixCharacters("abc", 0), "");
}

class WebSharing : public test::StoreBench {
 protected:
  QS802DeviceClass* device(ManagedObjectContext* ctx, uint32_t vid, uint32_t pid, uint32_t mid, const std::string& tr) {
    QS802DeviceClass* d = makeDevice(ctx, vid, pid, mid, tr);
    d->setCursorSpeedSelectedIndex(1);
    return d;
  }
  std::string saltFile() const { return QS836MachineIdentifier::saltPath(platform); }
};

TEST_F(WebSharing, BuiltInTrackpadTakesTheKeyboardsLayout) {
  attach("mac-platform-macbookpro12-1");
  auto ctx = open(false);
  QS802DeviceClass* pad = device(ctx.get(), 0x5AC, 0x273, 0, "USB");
  struct Row {
    uint32_t layout, pid;
  } rows[] = {{kKeyboardISO, 0x272}, {kKeyboardJIS, 0x271}, {kKeyboardANSI, 0x273}, {kKeyboardUnknown, 0x273}};
  for (const Row& r : rows) {
    mac.setKeyboardLayout(41, r.layout);
    EXPECT_EQ(QS836pidForAppleInternalTrackpad(platform, pad), r.pid) << std::hex << r.layout;
    uint32_t vid = 0, pid = 0;
    std::string transport;
    QS836deviceIDForWebTotaling(platform, pad, &vid, &pid, nullptr, &transport);  // any out may be null
    EXPECT_EQ(pid, r.pid);
    EXPECT_EQ(vid, 0x5ACu);
    EXPECT_EQ(transport, "USB");
  }
  // No keyboard of that product (the external one is 0x256): the product stays.
  mac.setKeyboardLayout(44, kKeyboardJIS);
  QS802DeviceClass* other = device(ctx.get(), 0x5AC, 0x274, 0, "USB");
  EXPECT_EQ(QS836pidForAppleInternalTrackpad(platform, other), 0x274u);
  EXPECT_EQ(QS836deviceIDForWebTotaling(platform, nullptr), WebDeviceID{});
}

TEST_F(WebSharing, MachineIdentifierIsASaltedDigestStablePerUser) {
  attach("mac-platform-macbookpro12-1");
  const std::string plain = QS836MachineIdentifier::plainIdentifier(platform);
  EXPECT_EQ(plain, std::string(kSerial) + ":0014:01F5");  // gid 20, uid 501

  QS836MachineIdentifier first(platform, errors);
  const std::string id = first.value();
  ASSERT_EQ(id.size(), 64u);
  EXPECT_EQ(id.find_first_not_of("0123456789abcdef"), std::string::npos);
  EXPECT_EQ(id.find(kSerial), std::string::npos);
  EXPECT_EQ(first.value(), id);
  // Another process of the same user reads the same salt.
  QS836MachineIdentifier second(platform, errors);
  EXPECT_EQ(second.value(), id);

  struct stat st {};
  ASSERT_EQ(::stat(saltFile().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(st.st_size, 32);

  // Another user (another data folder, so another salt) gets another identifier.
  test::TempDir otherHome;
  RootedPaths otherPaths(otherHome.path(), test::sourceResources());
  Platform other = platform;
  other.paths = &otherPaths;
  QS836MachineIdentifier theirs(other, errors);
  EXPECT_NE(theirs.value(), id);
  EXPECT_EQ(theirs.value().size(), 64u);
  // The same salt with another uid or gid digests differently too.
  std::string salt(32, 'x');
  EXPECT_NE(QS836digestIdentifier(std::string(kSerial) + ":0014:01F5", salt),
            QS836digestIdentifier(std::string(kSerial) + ":0014:01F6", salt));
}

TEST_F(WebSharing, WithoutASerialAndWithADamagedSalt) {
  // Without a serial number the login name stands in.
  EXPECT_EQ(QS836MachineIdentifier::plainIdentifier(platform), "_noMachineID:user:0014:01F5");
  // A salt path given by the program (a world keeps it inside) is used and made with its folder.
  const std::string inWorld = home.path() + "/world/agent/sharing-salt";
  QS836MachineIdentifier world(platform, errors, inWorld);
  EXPECT_EQ(world.value().size(), 64u);
  EXPECT_TRUE(std::filesystem::exists(inWorld));
  // A salt of the wrong length is not trusted: a new one replaces it.
  std::filesystem::resize_file(inWorld, 5);
  QS836MachineIdentifier damaged(platform, errors, inWorld);
  EXPECT_EQ(damaged.value().size(), 64u);
  EXPECT_NE(damaged.value(), world.value());
  EXPECT_EQ(std::filesystem::file_size(inWorld), 32u);
  // A salt that cannot be kept anywhere gives no identifier, and so no upload.
  QS836MachineIdentifier nowhere(platform, errors, "/proc/velmora-no-such-folder/salt");
  EXPECT_EQ(nowhere.value(), "");
}

TEST_F(WebSharing, UploadQueryKeepsNumbersAndEscapesUnderACommaLocale) {
  VELMORA_WITH_COMMA_LOCALE(comma);
  UploadFields f;
  f.id = {0x46D, 0xC52B, 0x4041, "Bluetooth Low Energy"};
  f.deviceName = std::string(98, 'a') + "\xC3\xA9\xC3\xA9\xC3\xA9";  // 101 characters: the last é goes
  f.machine = "abc123";
  f.osVersion = 101507;
  f.appName = "Finder & Co=1 and more than twenty";
  f.trackingSpeed = 0.6875;
  f.sensitivityShown = 1600.5;
  EXPECT_EQ(QS836uploadQuery(f),
            "VID=1133&PID=50475&MID=16449&Tra=Bluetooth%20Low%20Energy&Dev=" + std::string(98, 'a') +
                "%C3%A9%C3%A9&Mac=abc123&OSV=101507&App=Finder%20%26%20Co%3D1%20and%20mo&Acc=0.6875&Sen=1600.5");
}

TEST_F(WebSharing, UploadIsStartedWithoutWaitingAndCarriesTheNormalisedSetting) {
  attach("mac-platform-macbookpro12-1");
  mac.setOsVersion({10, 15, 7});
  mac.setHttpAnswer(kUploadPath, {});
  auto ctx = open(false);
  QS802DeviceClass* mouse = device(ctx.get(), 0x46D, 0xB012, 0, "Bluetooth");
  mouse->setName(std::string("MX & Co"));
  QS805CursorSpeedClass* cs = mouse->selectedCursorSpeed();
  ASSERT_TRUE(cs->setSensitivity(std::string("500")));
  ASSERT_TRUE(cs->setTrackingSpeed(std::string("1.25")));

  QS836MachineIdentifier machine(platform, errors);
  EXPECT_NE(QS836uploadCursorSpeedFromApp(platform, machine, mouse, std::nullopt), 0u);
  auto log = mac.httpRequests();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0], std::string(kUploadPath) + "?VID=1133&PID=50475&MID=16449&Tra=USB&Dev=MX%20%26%20Co&Mac=" +
                        machine.value() + "&OSV=101507&App=&Acc=1.25&Sen=1500");
  EXPECT_EQ(log[0].find(kSerial), std::string::npos);

  // Nothing to send: no device, or no web port.
  EXPECT_EQ(QS836uploadCursorSpeedFromApp(platform, machine, nullptr, std::nullopt), 0u);
  Platform noWeb = platform;
  noWeb.http = nullptr;
  EXPECT_EQ(QS836uploadCursorSpeedFromApp(noWeb, machine, mouse, std::string("App")), 0u);
  EXPECT_EQ(mac.httpRequests().size(), 1u);
}

}  // namespace
}  // namespace vl

// Settings exchange files: the cipher against known answers, the archive layout, every rule a
// file is checked against, and the device, application and cursor-speed validators.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cmath>
#include <filesystem>
#include <string>

#include "core/devices/exchange_file.h"
#include "core/plist/codec.h"
#include "core/plist/keyed_archive.h"
#include "tests/store/definition_test_util.h"

namespace vl {
namespace {

pl::Data fromHex(const std::string& hex) {
  pl::Data out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return out;
}

pl::Data bytesOf(const std::string& s) { return pl::Data(s.begin(), s.end()); }

pl::Value csDic(int index, const char* sens = "400", const char* track = "0.6875") {
  return pl::Value(pl::Dict{{"index", index}, {"sensitivity", sens}, {"trackingSpeed", track}, {"title", "Favorite"}});
}

pl::Array fiveSpeeds() {
  pl::Array a;
  for (int i = 0; i < 5; ++i) a.push_back(csDic(i));
  return a;
}

pl::Value defaultApp() { return pl::Value(pl::Dict{{"snapping", "None"}}); }
pl::Value app(const char* key, const char* name) {
  return pl::Value(pl::Dict{{"matchingKey", key}, {"name", name}, {"snapping", "Same as Default"}});
}

pl::Dict devDic(uint32_t vid = 0x46D, uint32_t pid = 0xC52B, uint32_t mid = 0x4082, const char* transport = "USB") {
  return pl::Dict{{"vid", vid},
                  {"pid", pid},
                  {"mid", mid},
                  {"transport", transport},
                  {"registryName", "USB Receiver"},
                  {"pointerResolution", "400"},
                  {"buttonCount", 5},
                  {"viewScaleX", "3"},
                  {"viewScaleY", "1"},
                  {"applications", pl::Array{defaultApp()}},
                  {"cursorSpeeds", fiveSpeeds()}};
}

pl::Dict with(pl::Dict d, const std::string& key, pl::Value v) {
  if (v.isNull()) d.erase(key);
  else d[key] = std::move(v);
  return d;
}

pl::Data seal(const pl::Value& header) {
  auto bytes = sealExchangeHeader(header);
  EXPECT_TRUE(bytes);
  return bytes.value_or(pl::Data{});
}

pl::Value header(pl::Array content, const std::string& type = kExchangeTypeDevice) {
  return exchangeHeader("Velmora", pl::Value("1.0.0"), type, content, pl::Date{700000000});
}

pl::Value editHeader(pl::Value h, const std::string& key, pl::Value v) {
  auto& d = *h.asDict();
  if (v.isNull()) d.erase(key);
  else d[key] = std::move(v);
  return h;
}

const pl::Date kNow{800000000};

// --- Cipher ------------------------------------------------------------------------------------

TEST(ExchangeCipher, MatchesAnIndependentAesWithTheFixedKey) {
  // Answers of `openssl enc -aes-256-ecb` with the key text padded by zeros to 32 bytes.
  auto one = buttonWithKey(bytesOf("abc"), kExchangeKeyText);
  ASSERT_TRUE(one);
  EXPECT_EQ(*one, fromHex("59b9ad640e6668096bdb9319caeb8df8"));
  auto block = buttonWithKey(bytesOf("Velmora exchange"), kExchangeKeyText);
  ASSERT_TRUE(block);
  EXPECT_EQ(*block, fromHex("a51b5329ad80d32ddc3ce5cb26470ef1b6655810436f56a2b5bc917a76e708f4"));
  EXPECT_EQ(cellWithKey(*block, kExchangeKeyText), bytesOf("Velmora exchange"));
}

TEST(ExchangeCipher, LengthIsRoundedUpToTheNextWholeBlock) {
  for (size_t n : {0u, 1u, 15u, 16u, 31u, 32u, 33u}) {
    auto c = buttonWithKey(pl::Data(n, 0x41), kExchangeKeyText);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->size(), (n / 16 + 1) * 16) << n;
  }
}

TEST(ExchangeCipher, RefusesLongKeysPartialBlocksWrongKeysAndBadPadding) {
  EXPECT_FALSE(buttonWithKey(bytesOf("x"), std::string(33, 'k')));
  EXPECT_TRUE(buttonWithKey(bytesOf("x"), std::string(32, 'k')));
  auto c = *buttonWithKey(bytesOf("some archive bytes"), kExchangeKeyText);
  EXPECT_FALSE(cellWithKey(pl::Data(c.begin(), c.end() - 1), kExchangeKeyText));
  EXPECT_FALSE(cellWithKey(pl::Data{}, kExchangeKeyText));
  EXPECT_FALSE(cellWithKey(c, "Another key"));

  // A last block whose padding bytes disagree (…05 05 05 04) is refused, not trimmed.
  pl::Data plain(16, 0x05);
  plain[15] = 0x04;
  std::string key(kExchangeKeyText);
  key.resize(32, '\0');
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  pl::Data raw(32);
  int n = 0, m = 0;
  EVP_EncryptInit_ex(ctx, EVP_aes_256_ecb(), nullptr, reinterpret_cast<const uint8_t*>(key.data()), nullptr);
  EVP_CIPHER_CTX_set_padding(ctx, 0);
  EVP_EncryptUpdate(ctx, raw.data(), &n, plain.data(), 16);
  EVP_EncryptFinal_ex(ctx, raw.data() + n, &m);
  EVP_CIPHER_CTX_free(ctx);
  raw.resize(static_cast<size_t>(n + m));
  EXPECT_FALSE(cellWithKey(raw, kExchangeKeyText));
}

// --- Writing and the archive -------------------------------------------------------------------

TEST(ExchangeFile, DeviceFileRoundTripsThroughTheKeyedArchive) {
  pl::Array devices{pl::Value(devDic()), pl::Value(devDic(0x5AC, 0x265, 0, "Bluetooth"))};
  pl::Date before = exchangeNow();
  auto bytes = QS813devSettingDataWithDevDics("Velmora", pl::Value("1.0.0"), devices);
  ASSERT_TRUE(bytes);

  // The plain text is the platform's keyed-archiver layout.
  auto plain = cellWithKey(*bytes, kExchangeKeyText);
  ASSERT_TRUE(plain);
  EXPECT_EQ(plain->size() / 16 + 1, bytes->size() / 16);
  auto archive = pl::readBinary(*plain);
  ASSERT_TRUE(archive.value);
  EXPECT_EQ(archive.value->stringFor("$archiver"), "NSKeyedArchiver");
  EXPECT_NE(archive.value->arrayFor("$objects"), nullptr);
  EXPECT_NE(archive.value->dictFor("$top"), nullptr);
  auto root = pl::unarchive(*archive.value, nullptr);
  ASSERT_TRUE(root);
  EXPECT_EQ(root->numberFor("Version"), 1.1);
  EXPECT_EQ(root->stringFor("Creator"), "Velmora");
  EXPECT_EQ(root->stringFor("CreatorVer"), "1.0.0");

  pl::Date created{-1};
  auto back = QS813devDicsFromSettingData(*bytes, &created);
  ASSERT_TRUE(back);
  EXPECT_EQ(*back, devices);
  EXPECT_GE(created.seconds, before.seconds);
  EXPECT_LE(created.seconds, exchangeNow().seconds);
}

TEST(ExchangeFile, ContentOfOneToAHundredElementsIsWritten) {
  auto devices = [](size_t n) {
    pl::Array a;
    for (size_t i = 0; i < n; ++i) a.push_back(pl::Value(devDic(0x46D, static_cast<uint32_t>(i + 1))));
    return a;
  };
  EXPECT_FALSE(QS813devSettingDataWithDevDics("V", pl::Value(1), devices(0)));
  EXPECT_FALSE(QS813devSettingDataWithDevDics("V", pl::Value(1), devices(101)));
  auto hundred = QS813devSettingDataWithDevDics("V", pl::Value(1), devices(100));
  ASSERT_TRUE(hundred);
  auto back = QS813devDicsFromSettingData(*hundred, nullptr);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->size(), 100u);
}

TEST(ExchangeFile, ApplicationFilesAreSortedWhenWrittenAndRead) {
  pl::Array apps{app("Mail.app", "mail"), app("Safari.app", "Browser"), defaultApp(), app("bin/tool", "browser")};
  auto bytes = QS813appSettingDataWithAppDics("V", pl::Value(1), apps);
  ASSERT_TRUE(bytes);
  auto back = QS813appDicsFromSettingData(*bytes, nullptr);
  ASSERT_TRUE(back);
  ASSERT_EQ(back->size(), 4u);
  EXPECT_EQ((*back)[0], defaultApp());
  EXPECT_EQ((*back)[1].stringFor("matchingKey"), "bin/tool");  // "browser" = "Browser"; then by key
  EXPECT_EQ((*back)[2].stringFor("matchingKey"), "Safari.app");
  EXPECT_EQ((*back)[3].stringFor("matchingKey"), "Mail.app");
  // Application files need no default record.
  auto noDefault = QS813appSettingDataWithAppDics("V", pl::Value(1), pl::Array{app("Mail.app", "Mail")});
  EXPECT_TRUE(QS813appDicsFromSettingData(*noDefault, nullptr));
}

TEST(ExchangeFile, PlainBinaryHeaderIsAcceptedToo) {
  pl::Value h = header({pl::Value(devDic())});
  auto bytes = buttonWithKey(pl::writeBinary(h), kExchangeKeyText);
  ASSERT_TRUE(bytes);
  pl::Date created{-1};
  auto back = QS813devDicsFromSettingData(*bytes, &created);
  ASSERT_TRUE(back);
  EXPECT_EQ(created, pl::Date{700000000});
}

// --- The header rules --------------------------------------------------------------------------

TEST(ExchangeFile, HeaderRulesRejectTheWholeFile) {
  const pl::Value good = header({pl::Value(devDic())});
  struct Case {
    const char* what;
    pl::Data bytes;
    ExchangeRule rule;
  };
  const Case cases[] = {
      {"good file", seal(good), ExchangeRule::Passed},
      {"version 1.0", seal(editHeader(good, "Version", 1.0)), ExchangeRule::Passed},
      {"integer version 1", seal(editHeader(good, "Version", 1)), ExchangeRule::Passed},
      {"version 1.2", seal(editHeader(good, "Version", 1.2)), ExchangeRule::Version},
      {"version 0", seal(editHeader(good, "Version", 0.0)), ExchangeRule::Version},
      {"negative version", seal(editHeader(good, "Version", -1.0)), ExchangeRule::Version},
      {"version as text", seal(editHeader(good, "Version", "1.1")), ExchangeRule::Passed},
      {"version text above 1.1", seal(editHeader(good, "Version", "1.2")), ExchangeRule::Version},
      {"version text not a number", seal(editHeader(good, "Version", "new")), ExchangeRule::Version},
      {"no version", seal(editHeader(good, "Version", nullptr)), ExchangeRule::Version},
      {"application type", seal(editHeader(good, "Type", kExchangeTypeApplication)), ExchangeRule::Type},
      {"no type", seal(editHeader(good, "Type", nullptr)), ExchangeRule::Type},
      {"an hour ahead", seal(editHeader(good, "Creation Date", pl::Date{kNow.seconds + 3600})),
       ExchangeRule::CreationDate},
      {"date as text", seal(editHeader(good, "Creation Date", "2020-01-01")), ExchangeRule::CreationDate},
      {"no date", seal(editHeader(good, "Creation Date", nullptr)), ExchangeRule::Passed},
      {"no content", seal(editHeader(good, "Content", nullptr)), ExchangeRule::Content},
      {"empty content", seal(editHeader(good, "Content", pl::Array{})), ExchangeRule::Content},
      {"content not an array", seal(editHeader(good, "Content", pl::Value(devDic()))), ExchangeRule::Content},
      {"root not a dictionary", seal(pl::Value(pl::Array{good})), ExchangeRule::Header},
      {"archive of nothing", *buttonWithKey(pl::Data{}, kExchangeKeyText), ExchangeRule::EmptyArchive},
      {"not a property list", *buttonWithKey(bytesOf("<plist>"), kExchangeKeyText), ExchangeRule::Archive},
      {"XML instead of binary", *buttonWithKey(bytesOf(pl::writeXml(good)), kExchangeKeyText), ExchangeRule::Archive},
      {"not encrypted", pl::archivedData(good), ExchangeRule::Decryption},
      {"empty file", pl::Data{}, ExchangeRule::FileSize},
  };
  for (const auto& c : cases) {
    ExchangeReadResult r = readExchangeData(c.bytes, kExchangeTypeDevice, kNow);
    EXPECT_EQ(r.failed, c.rule) << c.what << ": " << r.detail;
    EXPECT_EQ(r.content.has_value(), c.rule == ExchangeRule::Passed) << c.what;
    EXPECT_EQ(r.detail.empty(), c.rule == ExchangeRule::Passed) << c.what;
  }
}

TEST(ExchangeFile, MissingDateReadsAsTheReferenceDate) {
  auto bytes = seal(editHeader(header({pl::Value(devDic())}), "Creation Date", nullptr));
  pl::Date created{-1};
  ASSERT_TRUE(QS813devDicsFromSettingData(bytes, &created));
  EXPECT_EQ(created, pl::Date{0});
  // A date one hour ahead of the real clock is refused by the public reader as well.
  auto ahead = seal(editHeader(header({pl::Value(devDic())}), "Creation Date", pl::Date{exchangeNow().seconds + 3600}));
  EXPECT_FALSE(QS813devDicsFromSettingData(ahead, nullptr));
  EXPECT_FALSE(QS813contentFromSettingData(ahead, kExchangeTypeDevice, nullptr));
}

TEST(ExchangeFile, DeviceFileReadAsApplicationFileIsRejected) {
  auto bytes = QS813devSettingDataWithDevDics("V", pl::Value(1), {pl::Value(devDic())});
  EXPECT_FALSE(QS813appDicsFromSettingData(*bytes, nullptr));
  EXPECT_EQ(readExchangeData(*bytes, kExchangeTypeApplication, exchangeNow()).failed, ExchangeRule::Type);
  EXPECT_TRUE(QS813contentFromSettingData(*bytes, kExchangeTypeDevice, nullptr));
}

// --- Dictionaries ------------------------------------------------------------------------------

TEST(ExchangeValidation, DeviceDictionaries) {
  pl::Array four = fiveSpeeds();
  four.pop_back();
  pl::Array twiceIndex = fiveSpeeds();
  twiceIndex[4] = csDic(3);
  pl::Array badSpeed = fiveSpeeds();
  badSpeed[2] = csDic(2, "5000");
  struct Case {
    const char* what;
    pl::Dict dic;
    bool valid;
  };
  const Case cases[] = {
      {"complete", devDic(), true},
      {"pid and mid absent", with(with(devDic(), "pid", nullptr), "mid", nullptr), true},
      {"numbers instead of texts", with(with(devDic(), "pointerResolution", 400), "viewScaleY", 2.5), true},
      {"buttonCount 1", with(devDic(), "buttonCount", 1), true},
      {"buttonCount 32", with(devDic(), "buttonCount", 32), true},
      {"buttonCount 0", with(devDic(), "buttonCount", 0), false},
      {"buttonCount 33", with(devDic(), "buttonCount", 33), false},
      {"buttonCount 2^32 + 1", with(devDic(), "buttonCount", pl::Value::int64(4294967297LL)), false},
      {"buttonCount as text", with(devDic(), "buttonCount", "5"), true},
      {"buttonCount as text 0", with(devDic(), "buttonCount", "0"), false},
      {"buttonCount not a number", with(devDic(), "buttonCount", "five"), false},
      {"resolution as text with a decimal comma", with(devDic(), "pointerResolution", "400,5"), false},
      {"viewScaleX nan", with(devDic(), "viewScaleX", std::nan("")), false},
      {"vid 0", with(devDic(), "vid", 0), false},
      {"no vid", with(devDic(), "vid", nullptr), false},
      {"vid beyond 32 bits", with(devDic(), "vid", pl::Value::uint64(0x10000046DULL)), false},
      {"negative pid", with(devDic(), "pid", -1), false},
      {"empty transport", with(devDic(), "transport", ""), false},
      {"no resolution", with(devDic(), "pointerResolution", nullptr), false},
      {"resolution 0", with(devDic(), "pointerResolution", "0"), false},
      {"resolution not a number", with(devDic(), "pointerResolution", "fast"), false},
      {"no viewScaleY", with(devDic(), "viewScaleY", nullptr), false},
      {"viewScaleX -1", with(devDic(), "viewScaleX", "-1"), false},
      {"no applications", with(devDic(), "applications", nullptr), false},
      {"applications without default", with(devDic(), "applications", pl::Array{app("Mail.app", "Mail")}), false},
      {"two defaults", with(devDic(), "applications", pl::Array{defaultApp(), defaultApp()}), false},
      {"four favourites", with(devDic(), "cursorSpeeds", four), false},
      {"an index twice", with(devDic(), "cursorSpeeds", twiceIndex), false},
      {"a favourite out of range", with(devDic(), "cursorSpeeds", badSpeed), false},
      {"no favourites", with(devDic(), "cursorSpeeds", nullptr), false},
  };
  for (const auto& c : cases) {
    std::string why;
    EXPECT_EQ(deviceValidate(pl::Value(c.dic), &why), c.valid) << c.what;
    EXPECT_EQ(why.empty(), c.valid) << c.what << ": " << why;
  }
  EXPECT_FALSE(deviceValidate(pl::Value("not a dictionary")));
}

TEST(ExchangeValidation, TheSameDeviceTwiceSpoilsTheFile) {
  pl::Dict renamed = with(devDic(), "name", "Second copy");
  std::string why;
  EXPECT_FALSE(QS813validateDevDics({pl::Value(devDic()), pl::Value(renamed)}, &why));
  EXPECT_NE(why.find("46d-c52b-4082-USB"), std::string::npos) << why;
  // Differing in any one identity value makes them two devices.
  EXPECT_TRUE(QS813validateDevDics({pl::Value(devDic()), pl::Value(devDic(0x46D, 0xC52B, 0x4082, "Bluetooth"))}));
  EXPECT_TRUE(QS813validateDevDics({pl::Value(devDic()), pl::Value(devDic(0x46D, 0xC52B, 0x4069))}));
  EXPECT_FALSE(QS813validateDevDics({}));

  auto bytes = QS813devSettingDataWithDevDics("V", pl::Value(1), {pl::Value(devDic()), pl::Value(renamed)});
  ASSERT_TRUE(bytes) << "the writer does not judge the content";
  EXPECT_FALSE(QS813devDicsFromSettingData(*bytes, nullptr));
  EXPECT_EQ(readExchangeData(*bytes, kExchangeTypeDevice, exchangeNow()).failed, ExchangeRule::Dictionaries);
}

TEST(ExchangeValidation, DeviceIndexIsLowerCaseHexWithoutPadding) {
  EXPECT_EQ(deviceIndexOfDic(pl::Value(devDic())), "46d-c52b-4082-USB");
  EXPECT_EQ(deviceIndexOfDic(pl::Value(devDic(0xFFFFFFFF, 0x80000000, 0, "Bluetooth Low Energy"))),
            "ffffffff-80000000-0-Bluetooth Low Energy");
  EXPECT_FALSE(deviceIndexOfDic(pl::Value(with(devDic(), "mid", "4082"))));
}

TEST(ExchangeValidation, CursorSpeeds) {
  struct Case {
    const char* what;
    pl::Value dic;
    bool valid;
  };
  auto disabled = [](pl::Value sens) {
    pl::Dict d{{"index", 0}, {"disableAccl", true}, {"trackingSpeed", "99"}};
    if (!sens.isNull()) d.emplace("sensitivity", std::move(sens));
    return pl::Value(std::move(d));
  };
  const Case cases[] = {
      {"defaults", csDic(0), true},
      {"sensitivity 10", csDic(0, "10"), true},
      {"sensitivity 2000", csDic(0, "2000"), true},
      {"sensitivity 9", csDic(0, "9"), false},
      {"sensitivity 2001", csDic(0, "2001"), false},
      {"tracking 20", csDic(0, "400", "20"), true},
      {"tracking 0", csDic(0, "400", "0"), true},
      {"tracking 20.5", csDic(0, "400", "20.5"), false},
      {"tracking -0.1: no acceleration, a valid setting", csDic(0, "400", "-0.1"), true},
      {"tracking -1 as a number", pl::Value(pl::Dict{{"sensitivity", 400}, {"trackingSpeed", -1.0}}), true},
      {"tracking nan", csDic(0, "400", "nan"), false},
      {"tracking inf", csDic(0, "400", "inf"), false},
      {"tracking NaN number", pl::Value(pl::Dict{{"sensitivity", "400"}, {"trackingSpeed", std::nan("")}}), false},
      {"tracking with a decimal comma", csDic(0, "400", "0,6875"), false},
      {"sensitivity 1e999", csDic(0, "1e999"), false},
      {"sensitivity as a number", pl::Value(pl::Dict{{"sensitivity", 400.0}, {"trackingSpeed", "1"}}), true},
      {"acceleration off as text YES, sensitivity 5000",
       pl::Value(pl::Dict{{"disableAccl", "YES"}, {"sensitivity", "5000"}, {"trackingSpeed", "1"}}), true},
      {"acceleration off as text 0 is on: sensitivity 5000 is out of range",
       pl::Value(pl::Dict{{"disableAccl", "0"}, {"sensitivity", "5000"}, {"trackingSpeed", "1"}}), false},
      {"acceleration off, tracking nan", pl::Value(pl::Dict{{"disableAccl", true}, {"trackingSpeed", "nan"}}), false},
      {"no tracking", pl::Value(pl::Dict{{"sensitivity", "400"}}), false},
      {"acceleration off, sensitivity 5000", disabled("5000"), true},
      {"acceleration off, no sensitivity", disabled(nullptr), true},
      {"acceleration off, sensitivity 0", disabled("0"), false},
      {"acceleration off, sensitivity -400", disabled("-400"), false},
      {"acceleration switch false, sensitivity 5000",
       pl::Value(pl::Dict{{"disableAccl", false}, {"sensitivity", "5000"}, {"trackingSpeed", "1"}}), false},
  };
  for (const auto& c : cases) EXPECT_EQ(csValidate(c.dic), c.valid) << c.what;

  pl::Array six = fiveSpeeds();
  six.push_back(csDic(5));
  EXPECT_TRUE(QS813validateCSDics(fiveSpeeds()));
  EXPECT_FALSE(QS813validateCSDics(six));
  pl::Array noIndexTwice = fiveSpeeds();
  noIndexTwice[0].asDict()->erase("index");
  noIndexTwice[1].asDict()->erase("index");
  EXPECT_FALSE(QS813validateCSDics(noIndexTwice)) << "two missing indexes are the same index";
  pl::Array textIndexes = fiveSpeeds();
  for (int i = 0; i < 5; ++i) (*textIndexes[static_cast<size_t>(i)].asDict())["index"] = pl::Value(std::to_string(i));
  EXPECT_TRUE(QS813validateCSDics(textIndexes)) << "indexes written as texts";
  (*textIndexes[4].asDict())["index"] = pl::Value("3");
  EXPECT_FALSE(QS813validateCSDics(textIndexes)) << "a text index equal to another repeats it";
  (*textIndexes[4].asDict())["index"] = pl::Value("four");
  EXPECT_FALSE(QS813validateCSDics(textIndexes));
}

TEST(ExchangeValidation, ApplicationDictionaries) {
  EXPECT_TRUE(QS813validateAppDics({defaultApp(), app("Mail.app", "Mail")}, true));
  EXPECT_TRUE(QS813validateAppDics({app("Mail.app", "Mail")}, false));
  EXPECT_FALSE(QS813validateAppDics({app("Mail.app", "Mail")}, true));
  EXPECT_FALSE(QS813validateAppDics({defaultApp(), defaultApp()}, false));
  EXPECT_FALSE(QS813validateAppDics({app("Mail.app", "a"), app("Mail.app", "b")}, false));
  EXPECT_TRUE(QS813validateAppDics({app("Mail.app", "a"), app("mail.app", "b")}, false));
  EXPECT_FALSE(QS813validateAppDics({defaultApp(), pl::Value("Mail.app")}, false));
  EXPECT_FALSE(QS813validateAppDics({pl::Value(pl::Dict{{"matchingKey", 7}})}, false));
  EXPECT_FALSE(QS813validateAppDics({}, false));
}

// --- Files -------------------------------------------------------------------------------------

TEST(ExchangeFile, FilesAreReadWithinABound) {
  test::TempFolder dir;
  auto bytes = QS813devSettingDataWithDevDics("V", pl::Value(1), {pl::Value(devDic())});
  test::writeBytes(dir / "mouse.dvsetting_dev", bytes->data(), bytes->size());
  EXPECT_TRUE(QS813devDicsFromFile(dir / "mouse.dvsetting_dev", nullptr));
  EXPECT_FALSE(QS813appDicsFromFile(dir / "mouse.dvsetting_dev", nullptr));
  EXPECT_FALSE(QS813devDicsFromFile(dir / "missing.dvsetting_dev", nullptr));

  // A file over the bound is refused before anything is read or decrypted.
  std::string huge = dir / "huge.dvsetting_dev";
  test::writeBytes(huge, bytes->data(), bytes->size());
  std::filesystem::resize_file(huge, kMaxExchangeFileBytes + 16);
  EXPECT_EQ(readExchangeFile(huge, kExchangeTypeDevice, exchangeNow()).failed, ExchangeRule::FileSize);

  EXPECT_TRUE(QS813isDevSettingDataFile("/a/Mouse.dvsetting_dev"));
  EXPECT_FALSE(QS813isDevSettingDataFile("/a/Mouse.dvsetting_app"));
  EXPECT_TRUE(QS813isAppSettingDataFile("apps.dvsetting_app"));
  EXPECT_FALSE(QS813isAppSettingDataFile("apps.dvsetting_app.bak"));
  EXPECT_FALSE(QS813isDevSettingDataFile("dvsetting_dev"));
}

}  // namespace
}  // namespace vl

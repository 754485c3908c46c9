// Numbers of the store under a locale with a decimal comma: favourite texts written and read
// back, pattern fills, exchange values; and the record setters that refuse non-finite values.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "core/devices/exchange_file.h"
#include "core/system/alerts.h"
#include "core/hid/pointer_parameters.h"
#include "core/store/record_values.h"
#include "core/store/records.h"
#include "core/store/store_text.h"
#include "support/comma_locale.h"
#include "tests/store/store_fixture.h"

namespace vl {
namespace {

class StoreNumbers : public test::StoreBench {
 protected:
  void SetUp() override { ctx = open(false); }
  StoreContextRef ctx;
};

TEST_F(StoreNumbers, FavouriteTextsAreWrittenAndReadWithADot) {
  VELMORA_WITH_COMMA_LOCALE(locale);
  mac.setSystemAcceleration(kHIDMouseAccelerationKey, 1.23456);
  QS802DeviceClass* d = makeDevice(ctx.get(), 0x93a, 0x2510, 0, "USB");
  QS805CursorSpeedClass* cs = d->cursorSpeeds()[0];
  EXPECT_EQ(cs->sensitivity(), "400");
  EXPECT_EQ(cs->trackingSpeed(), "0.6875");
  EXPECT_EQ(cs->systemTrackingSpeed(), "1.2346");
  EXPECT_EQ(cs->VL705label(), "Ⓐ0.687 Ⓢ1600");
  cs->setSensitivityDisplay(std::string("1500.5"));
  EXPECT_EQ(cs->sensitivity(), "499.5");
  EXPECT_EQ(cs->sensitivityDisplay(), "1500.5");
  // A number handed to a text attribute becomes its "%g" text.
  ASSERT_TRUE(cs->setValueForKey("trackingSpeed", pl::Value(2.25)));
  EXPECT_EQ(cs->trackingSpeed(), "2.25");
  save(ctx.get());

  StoreContextRef again = open(true);
  auto devices = QS814allDevices(again.get());
  ASSERT_EQ(devices.size(), 1u);
  QS805CursorSpeedClass* back = nullptr;
  for (QS805CursorSpeedClass* c : devices[0]->cursorSpeeds())
    if (c->index() == 0) back = c;
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->sensitivity(), "499.5");
  EXPECT_EQ(back->trackingSpeed(), "2.25");
  EXPECT_EQ(doubleOf(&back->value(attr::cursorSpeed::trackingSpeed)), 2.25);
}

TEST_F(StoreNumbers, PatternFillsKeepADot) {
  VELMORA_WITH_COMMA_LOCALE(locale);
  EXPECT_EQ(formatPattern("%g|%.1f|%-6.2f|%5.3g|%d|%@", {0.6875, 2.25, 1.5, 3.14159, 7LL, std::string("x")}),
            "0.6875|2.2|1.50  | 3.14|7|x");
  EXPECT_EQ(formatPattern("%@", {0.5}), "0.5") << "a real shown as text";
  ErrorInfo e = speedRangeError(textSourceOf(platform), BundleInfo{"quillon.Velmora.prefpane", "", "", ""}, 20.5, 0, 20);
  EXPECT_EQ(e.userInfo[kDescriptionKey].describe(), "A value of 20.5 is out of range.\nAcceptable values are 0 to 20.");
  ErrorInfo g = QS812speedRangeError(platform, identity, nullptr, 1990.5, 5, 1990);
  EXPECT_EQ(g.userInfo[kDescriptionKey].describe(), "A value of 1990.5 is out of range.\nAcceptable values are 5 to 1990.");
}

TEST_F(StoreNumbers, DecimalTextAttributesRefuseNonFiniteValues) {
  QS802DeviceClass* d = makeDevice(ctx.get(), 0x93a, 0x2510, 0, "USB");
  QS805CursorSpeedClass* cs = d->cursorSpeeds()[0];
  const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
  const pl::Value refused[] = {pl::Value("nan"), pl::Value("NaN"), pl::Value("inf"), pl::Value("-inf"),
                               pl::Value("1e999"), pl::Value("0,6875"), pl::Value("fast"), pl::Value(""),
                               pl::Value(nan), pl::Value(inf), pl::Value(-inf), pl::Value(true)};
  for (const char* key : {"sensitivity", "trackingSpeed"}) {
    for (const pl::Value& v : refused) {
      EXPECT_FALSE(cs->setValueForKey(key, v)) << key << " " << v.describe();
    }
  }
  for (const char* key : {"pointerResolution", "viewScaleX", "viewScaleY"})
    for (const pl::Value& v : refused) EXPECT_FALSE(d->setValueForKey(key, v)) << key << " " << v.describe();
  EXPECT_EQ(cs->sensitivity(), "400") << "a refused value leaves the old one";
  EXPECT_EQ(cs->trackingSpeed(), "0.6875");
  EXPECT_EQ(d->pointerResolution(), "400");
  EXPECT_FALSE(cs->setSensitivity(std::string("inf")));
  EXPECT_FALSE(cs->setTrackingSpeed(std::string("nan")));

  // Finite texts and numbers, null, and a negative tracking speed are taken.
  EXPECT_TRUE(cs->setTrackingSpeed(std::string("-1")));
  EXPECT_EQ(cs->trackingSpeed(), "-1");
  EXPECT_TRUE(cs->setValueForKey("sensitivity", pl::Value(int64_t{800})));
  EXPECT_EQ(cs->sensitivity(), "800");
  EXPECT_TRUE(cs->setTrackingSpeed(std::nullopt));
  EXPECT_EQ(cs->trackingSpeed(), std::nullopt);

  // A dictionary copied in (an import) cannot bring one in either.
  QS805CursorSpeedClass* fresh = QS814insertCursorSpeed(errors, ctx.get());
  fresh->initWithCSDic(pl::Dict{{"index", 1}, {"sensitivity", "nan"}, {"trackingSpeed", "0.5"}});
  EXPECT_EQ(fresh->sensitivity(), std::nullopt);
  EXPECT_EQ(fresh->trackingSpeed(), "0.5");
}

pl::Dict importedDevice() {
  pl::Array speeds;
  for (int i = 0; i < 5; ++i)
    speeds.push_back(pl::Value(pl::Dict{{"index", std::to_string(i)},  // indexes written as texts
                                        {"sensitivity", i == 2 ? pl::Value(600.5) : pl::Value("500")},
                                        {"trackingSpeed", i == 0 ? "-1" : "0.6875"},
                                        {"disableAccl", i == 1 ? "YES" : "NO"}}));
  return pl::Dict{{"vid", 0x93a},
                  {"pid", 0x2510},
                  {"mid", 0},
                  {"transport", "USB"},
                  {"pointerResolution", "400"},
                  {"buttonCount", "5"},
                  {"viewScaleX", 2.5},
                  {"viewScaleY", "1"},
                  {"applications", pl::Array{pl::Value(pl::Dict{{"snapping", "None"}})}},
                  {"cursorSpeeds", speeds}};
}

// A file the format allows: a negative tracking speed and numbers kept as texts. It passes the
// reader and arrives in the store as the values it holds, under any locale.
TEST_F(StoreNumbers, ExchangeValuesArriveUnchanged) {
  VELMORA_WITH_COMMA_LOCALE(locale);
  pl::Value header = exchangeHeader("test", pl::Value("1"), kExchangeTypeDevice, {pl::Value(importedDevice())},
                                    pl::Date{700000000});
  (*header.asDict())["Version"] = pl::Value("1.1");
  auto bytes = sealExchangeHeader(header);
  ASSERT_TRUE(bytes);
  ExchangeReadResult r = readExchangeData(*bytes, kExchangeTypeDevice, exchangeNow());
  ASSERT_TRUE(r.content) << r.detail;
  EXPECT_EQ(r.version, 1.1);

  QS802DeviceClass* d = QS814insertDevice(errors, ctx.get());
  ASSERT_NE(d->initWithDevDic(*(*r.content)[0].asDict()), nullptr);
  save(ctx.get());
  StoreContextRef again = open(true);
  auto devices = QS814allDevices(again.get());
  ASSERT_EQ(devices.size(), 1u);
  EXPECT_EQ(devices[0]->value(attr::device::buttonCount).longLongValue(), 5);
  EXPECT_TRUE(devices[0]->value(attr::device::buttonCount).isInteger());
  EXPECT_EQ(devices[0]->value(attr::device::viewScaleX).describe(), "2.5");
  std::map<int64_t, QS805CursorSpeedClass*> byIndex;
  for (QS805CursorSpeedClass* c : devices[0]->cursorSpeeds()) byIndex[c->index()] = c;
  ASSERT_EQ(byIndex.size(), 5u) << "every text index became its number";
  EXPECT_EQ(byIndex[0]->trackingSpeed(), "-1");
  EXPECT_TRUE(byIndex[1]->disableAccl());
  EXPECT_FALSE(byIndex[0]->disableAccl());
  EXPECT_EQ(byIndex[2]->sensitivity(), "600.5");
}

}  // namespace
}  // namespace vl

// The favourite speed record: initial values with their clamps, the display form and its
// validation, the label, the dictionary check, and comparing with and restoring the system's
// own speed.
#include <gtest/gtest.h>

#include "core/hid/pointer_parameters.h"
#include "core/store/records.h"
#include "tests/store/store_fixture.h"

namespace vl {
namespace {

class CursorSpeedRecordTest : public test::StoreBench {
 protected:
  void SetUp() override {
    records.bundle = {"quillon.Velmora.prefpane", "", "", ""};
    ctx = open(false);
  }
  QS805CursorSpeedClass* make(int64_t index, double sens, double tracking) {
    QS805CursorSpeedClass* cs = QS814insertCursorSpeed(errors, ctx.get());
    EXPECT_EQ(cs->initWithIndex(index, sens, tracking), cs);
    return cs;
  }
  StoreContextRef ctx;
};

TEST_F(CursorSpeedRecordTest, InitialValuesAreClamped) {
  struct Case {
    int64_t index;
    double sens, tracking;
    const char* sensitivity;
    const char* trackingSpeed;
    const char* title;
  } cases[] = {
      {7, 1950, 25, "2000", "20", "Favorite Settings 3"},
      {0, 0, -1, "10", "0.6875", "Favorite Settings 1"},
      {4, -1, 1.5, "800", "1.5", "Favorite Settings 5"},
      {3, 250.5, 0, "550.5", "0", "Favorite Settings 4"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.index);
    QS805CursorSpeedClass* cs = make(c.index, c.sens, c.tracking);
    EXPECT_EQ(cs->index(), c.index);
    EXPECT_EQ(cs->sensitivity(), c.sensitivity);
    EXPECT_EQ(cs->trackingSpeed(), c.trackingSpeed);
    EXPECT_EQ(cs->title(), c.title);
    EXPECT_EQ(cs->color(), favouriteColor(c.index));
    EXPECT_TRUE(cs->visible());
  }
  EXPECT_EQ(favouriteColor(7), (RgbColor{0, 128 / 255.0, 0, 1}));
  EXPECT_EQ(favouriteColor(0), (RgbColor{0, 64 / 255.0, 1, 1}));
  EXPECT_FALSE(unarchiveColor(pl::Data{'b', 'p', 'l', 'i', 's', 't'}));
}

TEST_F(CursorSpeedRecordTest, DisplayedSensitivityAndValidation) {
  QS805CursorSpeedClass* cs = make(0, -1, -1);
  EXPECT_EQ(cs->sensitivityDisplay(), "1600");
  cs->setSensitivityDisplay(std::string("1500"));
  EXPECT_EQ(cs->sensitivity(), "500");
  cs->setSensitivityDisplay(std::nullopt);
  EXPECT_EQ(cs->sensitivity(), std::nullopt);

  struct Case {
    pl::Value value;
    bool display, tracking;
  } cases[] = {
      {pl::Value(5), true, true},     {pl::Value(1990), true, false}, {pl::Value(4), false, true},
      {pl::Value(1991), false, false}, {pl::Value(20), true, true},    {pl::Value(20.5), true, false},
      {pl::Value(-0.1), false, false}, {pl::Value("1600"), true, false}, {pl::Value(0), false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value.describe());
    ErrorInfo err;
    EXPECT_EQ(cs->validateSensitivityDisplay(c.value, &err), c.display);
    EXPECT_EQ(cs->validateTrackingSpeed(c.value, &err), c.tracking);
  }
  ErrorInfo err;
  EXPECT_FALSE(cs->validateSensitivityDisplay(pl::Value(1991), &err));
  EXPECT_EQ(err.domain, "quillon.Velmora.prefpane");
  EXPECT_EQ(err.code, 0);
  EXPECT_EQ(err.userInfo[kDescriptionKey], pl::Value("A value of 1991 is out of range.\nAcceptable values are 5 to 1990."));
}

TEST_F(CursorSpeedRecordTest, Label) {
  QS805CursorSpeedClass* cs = make(0, -1, -1);
  EXPECT_EQ(cs->VL705label(), "Ⓐ0.687 Ⓢ1600");
  cs->setTrackingSpeed(std::string("3"));
  cs->setSensitivity(std::string("1995"));
  EXPECT_EQ(cs->VL705label(), "Ⓐ3 Ⓢ5   ");
  cs->setDisableAccl(true);
  EXPECT_EQ(cs->VL705label(), "----------------");
}

TEST(CursorSpeedDictionary, Validation) {
  auto dic = [](pl::Value disable, pl::Value sens, pl::Value track) {
    pl::Dict d{{"sensitivity", sens}, {"trackingSpeed", track}};
    if (!disable.isNull()) d["disableAccl"] = disable;
    return d;
  };
  EXPECT_TRUE(csdic::csValidate(dic(pl::Value(true), pl::Value("5000"), pl::Value("99"))));
  EXPECT_FALSE(csdic::csValidate(dic(pl::Value(false), pl::Value("5000"), pl::Value("1"))));
  EXPECT_TRUE(csdic::csValidate(dic(pl::Value(), pl::Value("10"), pl::Value("20"))));
  EXPECT_FALSE(csdic::csValidate(dic(pl::Value(), pl::Value("400"), pl::Value("20.5"))));
  EXPECT_EQ(csdic::sensitivity(dic(pl::Value(), pl::Value("400"), pl::Value("1"))), 400);
  EXPECT_TRUE(csdic::disableAccl(dic(pl::Value(1), pl::Value(), pl::Value())));
}

TEST_F(CursorSpeedRecordTest, SystemSpeedComparisonAndRestore) {
  mac.setSystemAcceleration(kHIDMouseAccelerationKey, 1.23456);
  mac.setSystemAcceleration(kHIDTrackpadAccelerationKey, 25);
  QS802DeviceClass* mouse = makeDevice(ctx.get(), 0x93a, 0x2510, 0, "USB");
  QS802DeviceClass* pad = makeDevice(ctx.get(), 0x4c, 0x265, 0, "Bluetooth");
  QS805CursorSpeedClass* m = mouse->cursorSpeeds()[1];
  QS805CursorSpeedClass* p = pad->cursorSpeeds()[1];
  EXPECT_EQ(m->systemTrackingSpeed(), "1.2346");
  EXPECT_EQ(p->systemTrackingSpeed(), "20");  // capped
  EXPECT_FALSE(m->isSystemCursorSpeed());
  m->setDisableAccl(true);
  m->restoreCursorSpeed();
  EXPECT_EQ(m->sensitivity(), "400");
  EXPECT_EQ(m->trackingSpeed(), "1.2346");
  EXPECT_FALSE(m->disableAccl());
  EXPECT_TRUE(m->isSystemCursorSpeed());
  m->setDisableAccl(true);
  EXPECT_FALSE(m->isSystemCursorSpeed());
  mouse->setPointerResolution(std::string("1000"));
  m->restoreSensitivity();
  EXPECT_EQ(m->sensitivity(), "1000");
  QS805CursorSpeedClass* orphan = make(0, -1, -1);
  EXPECT_FALSE(orphan->isSystemCursorSpeed());
}

}  // namespace
}  // namespace vl

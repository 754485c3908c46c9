// Application and action records: matching keys, records made from files, processes and
// dictionaries, bookmarks that follow a renamed file, snapping values and the menu, names,
// order, and the dictionary form with its import rules.
#include <gtest/gtest.h>

#include <filesystem>

#include "core/store/bookmark.h"
#include "core/store/record_exchange.h"
#include "core/store/records.h"
#include "tests/store/store_fixture.h"

namespace vl {
namespace {

namespace fs = std::filesystem;

class AppRecordTest : public test::StoreBench {
 protected:
  void SetUp() override { ctx = open(false); }
  std::string apps() const { return home.path() + "/Applications"; }
  QS803AppClass* snappingApp(const AppObject& o) { return QS803AppClass::insertSnappingAppWithObject(errors, o, ctx.get()); }
  StoreContextRef ctx;
};

TEST_F(AppRecordTest, MatchingKeys) {
  const std::string h = workspace.homeDirectory();
  ASSERT_TRUE(workspace.makeBundle(apps() + "/Mail.app", "com.apple.mail"));
  struct Case {
    std::string path, key;
  } keys[] = {
      {apps() + "/Mail.app", "Mail.app"},
      {h + "/bin/tool", "bin/tool"},
      {"/usr/local/bin/tool", "/usr/local/bin/tool"},
      {h + "x/tool", h + "x/tool"},                  // a sibling of the home folder is no part of it
      {"/opt/odd~/tool", "/opt/odd~/tool"},          // "~/" inside a name stays
  };
  for (const Case& c : keys) EXPECT_EQ(QS803AppClass::matchingKeyFromURL(platform, c.path), c.key) << c.path;

  struct Cmp {
    std::optional<std::string> stored, key;
    bool match;
  } cmps[] = {
      {"bin/tool", "tool", true},  {"bin/tool", "BIN/TOOL", true}, {"bin/tool", "in/tool", false},
      {"Mail.app", "mail.app", true}, {"", "", true},            {std::nullopt, "", true},
      {"", "Mail.app", false},     {"Mail.app", std::nullopt, false},
  };
  for (const Cmp& c : cmps)
    EXPECT_EQ(QS803AppClass::compareMatchingKey(c.stored, c.key), c.match)
        << c.stored.value_or("(null)") << " / " << c.key.value_or("(null)");

  RunningApplication bundled{1, "com.apple.mail", apps() + "/Mail.app", apps() + "/Mail.app/Contents/MacOS/Mail", "Mail"};
  RunningApplication plain{2, "", "", h + "/bin/tool", "tool"};
  EXPECT_EQ(QS803AppClass::matchingKeyFromProc(platform, bundled), "Mail.app");
  EXPECT_EQ(QS803AppClass::matchingKeyFromProc(platform, plain), "bin/tool");
  EXPECT_TRUE(QS803AppClass::compareMatchingKeyToProc(platform, "Mail.app", bundled));
}

TEST_F(AppRecordTest, MadeFromAFileAProcessOrNothing) {
  ASSERT_TRUE(workspace.makeBundle(apps() + "/Mail.app", "com.apple.mail"));
  QS803AppClass* fromFile = snappingApp(AppObject(FileURL{apps() + "/Mail.app"}));
  ASSERT_NE(fromFile, nullptr);
  EXPECT_EQ(fromFile->matchingKey(), "Mail.app");
  EXPECT_EQ(fromFile->bundleID(), "com.apple.mail");
  EXPECT_EQ(fromFile->name(), "Mail");
  EXPECT_EQ(fromFile->snapping(), kSnappingSameAsDefault);
  EXPECT_EQ(fromFile->url(), apps() + "/Mail.app");

  fs::create_directories(workspace.homeDirectory() + "/bin");
  std::ofstream(workspace.homeDirectory() + "/bin/tool") << "#!/bin/sh\n";
  RunningApplication proc{7, "", "", workspace.homeDirectory() + "/bin/tool", "tool"};
  QS803AppClass* fromProc = snappingApp(AppObject(proc));
  ASSERT_NE(fromProc, nullptr);
  EXPECT_EQ(fromProc->matchingKey(), "bin/tool");
  EXPECT_EQ(fromProc->bundleID(), std::nullopt);
  EXPECT_TRUE(fromProc->isEqualToMatchingKeyInProc(proc));

  QS803AppClass* def = snappingApp(AppObject());
  ASSERT_NE(def, nullptr);
  EXPECT_TRUE(def->isDefault());
  EXPECT_EQ(def->snapping(), kSnappingNone);
  EXPECT_EQ(QS803AppClass::fetchDefSnappingApp(errors, ctx.get()), def);

  // A file that is not there: nothing is left in the store.
  size_t before = ctx->fetch(EntityKind::Application).size();
  EXPECT_EQ(snappingApp(AppObject(FileURL{apps() + "/Gone.app"})), nullptr);
  EXPECT_EQ(errorStackEntries(errors).front(), "803.0171");
  RunningApplication gone{8, "", "", "/nowhere/tool", "tool"};
  EXPECT_EQ(snappingApp(AppObject(gone)), nullptr);
  EXPECT_EQ(errorStackEntries(errors).front(), "803.0195");
  EXPECT_EQ(ctx->fetch(EntityKind::Application).size(), before);
}

TEST_F(AppRecordTest, BookmarksFollowARenamedFileAndAreRenewed) {
  ASSERT_TRUE(workspace.makeBundle(apps() + "/Old.app", "com.example.old"));
  QS803AppClass* app = snappingApp(AppObject(FileURL{apps() + "/Old.app"}));
  pl::Value original = app->bookmark();
  fs::rename(apps() + "/Old.app", apps() + "/New.app");
  EXPECT_EQ(app->url(), apps() + "/New.app");
  EXPECT_NE(app->bookmark(), original) << "a stale bookmark is renewed";
  EXPECT_EQ(app->originalName(), "New");
  EXPECT_EQ(app->displayName(), "Old") << "the stored name comes first";
  bool stale = true;
  EXPECT_EQ(resolveBookmark(*app->bookmark().asData(), &stale), apps() + "/New.app");
  EXPECT_FALSE(stale);
  fs::remove_all(apps() + "/New.app");
  EXPECT_EQ(app->url(), std::nullopt);
  EXPECT_FALSE(resolveBookmark(pl::Data{1, 2, 3}, &stale));
}

TEST_F(AppRecordTest, SnappingValuesAndMenu) {
  QS803AppClass* app = snappingApp(AppObject(pl::Dict{{"matchingKey", pl::Value("Mail.app")}, {"snapping", pl::Value(kSnappingSameAsDefault)}}));
  ASSERT_NE(app, nullptr);
  // Without a default record, "Same as Default" behaves as "None".
  EXPECT_EQ(app->actualSnapping(), kSnappingNone);
  EXPECT_TRUE(app->snappingWarningButtonHidden());
  QS803AppClass* def = snappingApp(AppObject());
  def->setSnapping(std::string(kSnappingCloseButton));
  EXPECT_EQ(app->actualSnapping(), kSnappingCloseButton);
  EXPECT_FALSE(app->snappingOptionEnabled());

  EXPECT_EQ(def->snappingItems().size(), 8u);
  EXPECT_EQ(def->snappingItems().front(), kSnappingDefaultButton);
  EXPECT_EQ(app->snappingItems().size(), 10u);
  EXPECT_EQ(def->displayName(), "Default");

  app->setSnapping(std::string(kSnappingDock));
  EXPECT_EQ(app->snappingMenuIX(), 0u);  // not offered: shows "Same as Default"
  EXPECT_TRUE(app->snappingOptionEnabled());
  EXPECT_EQ(app->actualSnapping(), kSnappingDock);
  def->setSnapping(std::string(kSnappingDock));
  EXPECT_EQ(def->snappingMenuIX(), 7u);  // "None" for the default record
  app->setSnappingMenuIX(3);
  EXPECT_EQ(app->snapping(), kSnappingCancelButton);
  app->setSnappingMenuIX(1);  // a separator is not a value
  EXPECT_EQ(app->snapping(), kSnappingCancelButton);
  EXPECT_EQ(QS803AppClass::snappingIX(std::string("Dock")), 7u);
  EXPECT_FALSE(QS803AppClass::snappingIX(std::string("Elsewhere")));
  EXPECT_FALSE(QS803AppClass::fetchAllSnappingApps(errors, nullptr));

  def->setAlignedDisplayName("Renamed");
  EXPECT_EQ(def->name(), std::nullopt);
  app->setAlignedDisplayName("-x");
  EXPECT_EQ(app->name(), " -x");
  auto aligned = app->alignedDisplayName();
  ASSERT_TRUE(aligned);
  EXPECT_EQ(aligned->lineHeight, 24);
}

TEST_F(AppRecordTest, OrderDefaultFirstThenNameThenKey) {
  QS803AppClass* b = snappingApp(AppObject(pl::Dict{{"matchingKey", pl::Value("b.app")}, {"name", pl::Value("beta")}}));
  QS803AppClass* a = snappingApp(AppObject(pl::Dict{{"matchingKey", pl::Value("z.app")}, {"name", pl::Value("Alpha")}}));
  QS803AppClass* n = snappingApp(AppObject(pl::Dict{{"matchingKey", pl::Value("a.app")}}));
  QS803AppClass* d = snappingApp(AppObject());
  std::vector<QS803AppClass*> v = {b, a, n, d};
  std::sort(v.begin(), v.end(), QS803AppClass::sortDescriptorsLess);
  EXPECT_EQ(v, (std::vector<QS803AppClass*>{d, n, a, b}));
}

TEST_F(AppRecordTest, StandardRecordsCarryActionsThroughTheirDictionaries) {
  QS802DeviceClass* dev = makeDevice(ctx.get(), 0x46d, 0xc52b, 0x4082, "USB");
  pl::Array acts = {pl::Value(pl::Dict{{"button", pl::Value(3)}, {"scroll", pl::Value(0)}, {"modkeys", pl::Value(0)}, {"func", pl::Value("copy")}}),
                    pl::Value(pl::Dict{{"button", pl::Value(2)}, {"scroll", pl::Value(0)}, {"modkeys", pl::Value(0)}, {"func", pl::Value("paste")}}),
                    pl::Value(pl::Dict{{"button", pl::Value(4)}, {"scroll", pl::Value(0)}, {"modkeys", pl::Value(0)}})};
  pl::Dict in{{"matchingKey", pl::Value(workspace.homeDirectory() + "/bin/tool")},
              {"name", pl::Value("Tool")},
              {"scrollSpeedSensFactor", pl::Value("2")},
              {"actions", pl::Value(acts)}};
  QS803AppClass* app = dev->insertApplicationWithObject(AppObject(in));
  ASSERT_NE(app, nullptr);
  EXPECT_EQ(app->device(), dev);
  EXPECT_EQ(app->actions().size(), 3u);
  pl::Dict out = app->appDic();
  EXPECT_EQ(out["matchingKey"], pl::Value("bin/tool"));
  const pl::Array* written = appdic::actions(out);
  ASSERT_NE(written, nullptr);
  ASSERT_EQ(written->size(), 2u) << "an action without function is left out";
  EXPECT_EQ(written->at(0).find("button")->intValue(), 2);
  EXPECT_EQ(app->defApplication(), nullptr);
  QS803AppClass* def = dev->insertDefApplication();
  EXPECT_EQ(app->defApplication(), def);

  // Import: settings and functions from the dictionary, identity of the record kept.
  pl::Dict imp{{"matchingKey", pl::Value("other")},
               {"name", pl::Value("Other")},
               {"scrollSpeedAcceleration", pl::Value("1")},
               {"actions", pl::Value(pl::Array{pl::Value(pl::Dict{{"button", pl::Value(3)}, {"scroll", pl::Value(0)}, {"modkeys", pl::Value(0)}, {"func", pl::Value("undo")}}),
                                               pl::Value(pl::Dict{{"button", pl::Value(5)}, {"scroll", pl::Value(0)}, {"modkeys", pl::Value(0)}, {"func", pl::Value("redo")}})})}};
  app->importFromAppDic(imp);
  EXPECT_EQ(app->name(), "Tool");
  EXPECT_EQ(app->matchingKey(), workspace.homeDirectory() + "/bin/tool");
  EXPECT_EQ(app->valueForKey("scrollSpeedSensFactor"), pl::Value());
  EXPECT_EQ(app->valueForKey("scrollSpeedAcceleration"), pl::Value("1"));
  std::map<int, pl::Value> funcs;
  for (QS804ActionClass* a : app->actions()) funcs[a->button().intValue()] = a->func();
  EXPECT_EQ(funcs.size(), 4u);
  EXPECT_EQ(funcs[3], pl::Value("undo"));
  EXPECT_EQ(funcs[5], pl::Value("redo"));
  EXPECT_TRUE(funcs[2].isNull()) << "not mentioned: kept, function cleared";
  EXPECT_TRUE(app->isEqualToImportSettingsInAppDic(&imp)) << "after the import the settings agree";
  pl::Dict same = app->appDic();
  same["name"] = pl::Value("whatever");
  EXPECT_TRUE(app->isEqualToImportSettingsInAppDic(&same));
  EXPECT_TRUE(app->isEqualToAppDic(&same));
  same["matchingKey"] = pl::Value("tool");
  EXPECT_TRUE(app->isEqualToAppDic(&same)) << "the trailing component matches";
  EXPECT_FALSE(app->isEqualToAppDic(nullptr));

  // A snapping dictionary's actions read as none, and snapping and standard never match.
  pl::Dict snap{{"matchingKey", pl::Value("Tool")}, {"snapping", pl::Value("None")}, {"actions", pl::Value(acts)}};
  EXPECT_EQ(appdic::actions(snap), nullptr);
  EXPECT_FALSE(app->isEqualToMatchingKeyInAppDic(snap));
  EXPECT_EQ(QS813actDicsFromActions(app->actions()).size(), 2u);
}

TEST_F(AppRecordTest, ADictionaryWithABundleIdentifierPointsAtTheLocalApplication) {
  ASSERT_TRUE(workspace.makeBundle(apps() + "/Here.app", "com.example.here"));
  pl::Dict in{{"matchingKey", pl::Value("Here.app")},
              {"bundleID", pl::Value("com.example.here")},
              {"bookmark", pl::Value(pl::Data{9, 9, 9})},
              {"snapping", pl::Value(kSnappingDock)}};
  QS803AppClass* app = snappingApp(AppObject(in));
  ASSERT_NE(app, nullptr);
  EXPECT_EQ(app->url(), apps() + "/Here.app");
  EXPECT_EQ(app->snapping(), kSnappingDock);
}

}  // namespace
}  // namespace vl

// The settings store's object context on real files: empty and missing stores, round trips of
// every attribute type, identity values above the signed range, read-only snapshots, the writer
// lock, damaged and foreign files, model versions, atomic saves, notifications and undo.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <fstream>
#include <thread>

#include "core/store/records.h"
#include "tests/store/store_fixture.h"

namespace vl {
namespace {

namespace fs = std::filesystem;

class StoreContext : public test::StoreBench {
 protected:
  // Runs SQL on the store file through a connection of its own, as another program would.
  void rawExec(const std::string& sql, const std::string& path = {}) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((path.empty() ? storePath() : path).c_str(), &db), SQLITE_OK);
    char* msg = nullptr;
    int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &msg);
    EXPECT_EQ(rc, SQLITE_OK) << (msg ? msg : "");
    sqlite3_free(msg);
    sqlite3_close(db);
  }
  struct FileStamp {
    bool exists = false;
    off_t size = 0;
    timespec mtime{};
    bool operator==(const FileStamp& o) const {
      return exists == o.exists && size == o.size && mtime.tv_sec == o.mtime.tv_sec && mtime.tv_nsec == o.mtime.tv_nsec;
    }
  };
  FileStamp stamp(const std::string& p) {
    struct stat st {};
    FileStamp s;
    if (::stat(p.c_str(), &st) == 0) {
      s.exists = true;
      s.size = st.st_size;
      s.mtime = st.st_mtim;
    }
    return s;
  }
};

TEST_F(StoreContext, MissingFileOpensEmptyAndOnlyTheFirstRealSaveWritesIt) {
  {
    StoreContextRef ctx = open(false);
    ASSERT_TRUE(ctx);
    EXPECT_TRUE(QS814allDevices(ctx.get()).empty());
    EXPECT_EQ(QS814fetchUserInfo(errors, ctx.get()), nullptr);
    save(ctx.get());
    EXPECT_FALSE(fs::exists(storePath())) << "a save without changes must not create the file";
    QS814insertUserInfo(errors, ctx.get())->setVlDeviceSelectedIndex(std::string("46d-c52b-4082-USB"));
    save(ctx.get());
    EXPECT_TRUE(fs::exists(storePath()));
  }
  StoreContextRef ro = open(true);
  ASSERT_TRUE(ro);
  ASSERT_NE(QS814fetchUserInfo(errors, ro.get()), nullptr);
  EXPECT_EQ(QS814fetchUserInfo(errors, ro.get())->vlDeviceSelectedIndex(), "46d-c52b-4082-USB");
  EXPECT_EQ(ro->fileModelVersion(), StoreModel::current().version);
}

TEST_F(StoreContext, SavingWithoutRealChangesDoesNotTouchTheFile) {
  {
    StoreContextRef ctx = open(false);
    makeDevice(ctx.get(), 0x46d, 0xc52b, 0x4082, "USB");
    save(ctx.get());
  }
  FileStamp before = stamp(storePath());
  StoreContextRef ctx = open(false);
  QS802DeviceClass* d = QS814allDevices(ctx.get()).front();
  d->setName(std::string("Mouse"));
  d->setName(std::nullopt);  // back to what the file holds
  EXPECT_FALSE(ctx->hasChanges());
  ErrorInfo err;
  EXPECT_EQ(QS814saveMOC(ctx.get(), &err), 0);
  EXPECT_TRUE(stamp(storePath()) == before);
  EXPECT_EQ(QS814saveMOC(nullptr, &err), 8140341);
}

TEST_F(StoreContext, EveryAttributeTypeAndRelationshipSurvivesAReopen) {
  pl::Dict expected;
  {
    StoreContextRef ctx = open(false);
    QS802DeviceClass* d = makeDevice(ctx.get(), 0xFFFFFFFFu, 0x80000000u, 0x7FFFFFFFu, "Bluetooth");
    d->setName(std::string("Ünïcode name"));
    d->setExpansionData(pl::Value(pl::Dict{{"nested", pl::Value(pl::Array{pl::Value(1), pl::Value("x")})}}), "k");
    d->setCursorSpeedDisabled(true);
    d->setCursorSpeedSelectedIndex(3);
    d->setCursorSpeedDate(pl::Date{123456.5});
    d->setValueForKey("buttonCount", pl::Value(5));
    d->setValueForKey("partName", pl::Value(pl::Dict{{"b1", pl::Value("Left")}}));
    d->setViewScaleY(std::string("2.5"));
    QS803AppClass* app = d->insertApplicationWithObject(AppObject(pl::Dict{{"matchingKey", pl::Value("Mail.app")},
                                                                           {"name", pl::Value("Mail")},
                                                                           {"scrollSpeedDisabled", pl::Value(true)}}));
    ASSERT_NE(app, nullptr);
    app->insertActionWithButton(pl::Value(3), pl::Value(false), pl::Value(0x100000))->setFunc(pl::Value(pl::Dict{{"f", pl::Value("copy")}}));
    expected = d->devDic();
    save(ctx.get());
  }
  StoreContextRef ro = open(true);
  auto devs = QS814allDevices(ro.get());
  ASSERT_EQ(devs.size(), 1u);
  QS802DeviceClass* d = devs.front();
  EXPECT_EQ(d->vid(), 0xFFFFFFFFu);
  EXPECT_EQ(d->pid(), 0x80000000u);
  EXPECT_EQ(d->cursorSpeeds().size(), 5u);
  EXPECT_EQ(d->selectedCursorSpeed()->index(), 3);
  EXPECT_EQ(d->selectedCursorSpeed()->color(), favouriteColor(3));
  EXPECT_EQ(pl::Value(d->devDic()), pl::Value(expected));
  ASSERT_EQ(d->applications().size(), 1u);
  EXPECT_EQ(d->applications()[0]->actions().size(), 1u);
  EXPECT_EQ(d->applications()[0]->actions()[0]->application(), d->applications()[0]);
  EXPECT_EQ(QS814allActions(ro.get()).size(), 1u);
}

TEST_F(StoreContext, FetchesCompareIdentityValuesAsUnsignedNumbers) {
  {
    StoreContextRef ctx = open(false);
    makeDevice(ctx.get(), 0xFFFFFFFFu, 0xFFFFFFFEu, 0x80000000u, "USB");
    makeDevice(ctx.get(), 0x46d, 0xc52b, 0x4082, "USB")->setName(std::string("first"));
    makeDevice(ctx.get(), 0x46d, 0xc52b, 0x4082, "USB")->setName(std::string("second"));
    save(ctx.get());
  }
  StoreContextRef ro = open(true);
  QS802DeviceClass* high = QS814fetchDevice(errors, 0xFFFFFFFFu, 0xFFFFFFFEu, 0x80000000u, "USB", ro.get());
  ASSERT_NE(high, nullptr);
  EXPECT_EQ(high->index(), "ffffffff-fffffffe-80000000-USB");
  EXPECT_EQ(QS814fetchDevice(errors, 0xFFFFFFFFu, 0xFFFFFFFEu, 0x80000000u, "Bluetooth", ro.get()), nullptr);
  // Two records of one identity: the last one wins.
  EXPECT_EQ(QS814fetchDevice(errors, 0x46d, 0xc52b, 0x4082, "USB", ro.get())->name(), "second");
  EXPECT_EQ(QS814fetchDevice(errors, 0x46d, 0xc52b, 0x4082, "USB", nullptr), nullptr);
  EXPECT_EQ(errorStackEntries(errors).front(), "814.0504");
}

TEST_F(StoreContext, ReadOnlyContextRefusesToSaveAndKeepsItsSnapshot) {
  {
    StoreContextRef ctx = open(false);
    makeDevice(ctx.get(), 0x46d, 0xc52b, 0x4082, "USB");
    save(ctx.get());
  }
  StoreContextRef ro = open(true);
  EXPECT_EQ(ro->undoManager(), nullptr);
  QS802DeviceClass* roDev = QS814allDevices(ro.get()).front();
  {
    // The pane saves while the agent's context is open; the agent reads favourites only now.
    StoreContextRef rw = open(false);
    QS802DeviceClass* d = QS814allDevices(rw.get()).front();
    for (QS805CursorSpeedClass* cs : d->cursorSpeeds()) cs->setSensitivity(std::string("999"));
    makeDevice(rw.get(), 0x5ac, 0x265, 0, "USB");
    save(rw.get());
  }
  for (QS805CursorSpeedClass* cs : roDev->cursorSpeeds()) EXPECT_NE(cs->sensitivity(), "999");
  EXPECT_EQ(QS814allDevices(ro.get()).size(), 1u);

  roDev->setName(std::string("changed"));
  ErrorInfo err;
  EXPECT_EQ(QS814saveMOC(ro.get(), &err), 8140349);
  EXPECT_EQ(err.code, kPersistentStoreSaveError);

  StoreContextRef fresh = open(true);
  EXPECT_EQ(QS814allDevices(fresh.get()).size(), 2u);
}

TEST_F(StoreContext, RecordsPushOnTheStackTheirContextWasGiven) {
  // The opener's stack receives its records' failures; a context opened without one keeps its
  // own, so a reader's failures never land on another program's stack.
  StoreContextRef given = open(false);
  EXPECT_EQ(&given->errorStack(), &errors);
  QS802DeviceClass* d = makeDevice(given.get(), 0x46d, 0xc52b, 0x4082, "USB");
  EXPECT_EQ(d->initWithVID(0, 0xc52b, 0, "USB", 1), nullptr);
  EXPECT_EQ(errorStackEntries(errors), std::vector<std::string>{"802.0136"});

  errors.clear();
  ManagedObjectContext::Options options;
  options.ports = recordPortsOf(platform);
  options.readOnly = true;
  ErrorInfo err;
  auto own = ManagedObjectContext::open(storePath(), options, &err);
  ASSERT_TRUE(own);
  ASSERT_NE(&own->errorStack(), &errors);
  QS802DeviceClass* mine = QS814insertDevice(own->errorStack(), own.get());
  ASSERT_NE(mine, nullptr);
  EXPECT_EQ(mine->initWithVID(0, 0xc52b, 0, "USB", 1), nullptr);
  EXPECT_EQ(errorStackEntries(own->errorStack()), std::vector<std::string>{"802.0136"});
  EXPECT_TRUE(errorStackEntries(errors).empty());
}

TEST_F(StoreContext, OneWriterAtATimeWhileReadersComeAndGo) {
  StoreContextRef writer = open(false);
  makeDevice(writer.get(), 0x46d, 0xc52b, 0x4082, "USB");
  save(writer.get());

  // A second writer waits its bound for the first, then refuses.
  ManagedObjectContext::Options options;
  options.ports = recordPortsOf(platform);
  options.runLoop = platform.runLoop;
  options.writerWait = std::chrono::milliseconds(50);
  ErrorInfo err;
  EXPECT_FALSE(ManagedObjectContext::open(storePath(), options, &err));
  EXPECT_EQ(err.code, kPersistentStoreInUseError);

  StoreContextRef reader = open(true);
  ASSERT_TRUE(reader);
  EXPECT_EQ(QS814allDevices(reader.get()).size(), 1u);
  QS814allDevices(writer.get()).front()->setName(std::string("while read"));
  save(writer.get());  // a reader does not block the writer

  writer.reset();
  EXPECT_TRUE(open(false));
}

TEST_F(StoreContext, ASecondWriterWaitsForTheFirstToFinish) {
  {
    StoreContextRef ctx = open(false);
    makeDevice(ctx.get(), 0x46d, 0xc52b, 0x4082, "USB");
    save(ctx.get());
  }
  // Another writer (as another process holds it: its own open of the lock file) that finishes
  // a moment later: the second one takes its turn instead of refusing.
  int held = ::open((storePath() + ".lock").c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(held, 0);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);
  std::thread finisher([held] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ::close(held);
  });
  StoreContextRef second = open(false);
  finisher.join();
  ASSERT_TRUE(second);
  makeDevice(second.get(), 0x46d, 0xc52c, 0, "USB");
  save(second.get());
  EXPECT_EQ(QS814allDevices(open(true).get()).size(), 2u);
}

TEST_F(StoreContext, DamagedForeignAndOddFilesFailToOpenWithoutHarm) {
  {
    StoreContextRef ctx = open(false);
    for (int i = 0; i < 40; ++i) makeDevice(ctx.get(), 0x100 + i, 1, 0, "USB");
    save(ctx.get());
  }
  std::string good = fileText(storePath());
  std::string foreign = home.path() + "/foreign.db";
  rawExec("CREATE TABLE songs (title TEXT); INSERT INTO songs VALUES ('x');", foreign);
  std::string schemaless = home.path() + "/schemaless.db";
  rawExec("CREATE TABLE t (x); DROP TABLE t;", schemaless);

  struct Case {
    const char* what;
    std::string bytes;
    bool opens;
  } cases[] = {
      {"random bytes", std::string(5000, '\x5a'), false},
      {"text", "this is not a store\n", false},
      {"truncated store", good.substr(0, good.size() / 3), false},
      {"foreign database", fileText(foreign), false},
      // Stores are only ever put in place whole: a file cut to nothing, or a database with no
      // settings schema, is damage, never an empty store (only a missing file is one).
      {"empty file", "", false},
      {"one byte", good.substr(0, 1), false},
      {"database without settings", fileText(schemaless), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string p = home.path() + "/cases/" + std::string(c.what) + ".dvsetting";
    fs::create_directories(fs::path(p).parent_path());
    std::ofstream(p, std::ios::binary) << c.bytes;
    for (bool readOnly : {true, false}) {
      StoreContextRef ctx;
      ErrorInfo err;
      int32_t rc = QS814createMOC(platform, errors, p, nullptr, readOnly, &ctx, &err);
      if (c.opens) {
        ASSERT_EQ(rc, 0);
        EXPECT_TRUE(QS814allDevices(ctx.get()).empty());
      } else if (rc == 0) {
        // A damage SQLite only meets while reading rows: the context says so and never saves.
        auto devices = QS814allDevices(ctx.get());
        for (auto* d : devices) d->cursorSpeeds();
        EXPECT_TRUE(ctx->isDamaged());
      } else {
        EXPECT_EQ(rc, 8140153);
        EXPECT_FALSE(ctx);
        EXPECT_EQ(err.code, kFileReadCorruptFileError);
      }
    }
    EXPECT_EQ(fileText(p), c.bytes) << "opening must not change the file";
  }
  fs::create_directories(home.path() + "/folder.dvsetting");
  StoreContextRef ctx;
  EXPECT_EQ(QS814createMOC(platform, errors, home.path() + "/folder.dvsetting", nullptr, true, &ctx, nullptr), 8140153);
  EXPECT_EQ(QS814createMOC(platform, errors, std::nullopt, nullptr, true, &ctx, nullptr), 8140121);
  EXPECT_EQ(QS814createMOC(platform, errors, storePath(), nullptr, true, nullptr, nullptr), 8140121);
}

TEST_F(StoreContext, AStoreOfANewerModelIsIncompatibleAMissingOneIsNot) {
  EXPECT_TRUE(QS814isPrefsFileCompatible(storePath(), nullptr));
  EXPECT_EQ(VL714prefsFileCompatibleError(storePath(), nullptr), nullptr);
  {
    StoreContextRef ctx = open(false);
    makeDevice(ctx.get(), 0x46d, 0xc52b, 0x4082, "USB");
    save(ctx.get());
  }
  EXPECT_EQ(storeFileState(storePath()), StoreFileState::Current);
  rawExec("PRAGMA user_version = " + std::to_string(StoreModel::current().version + 1));
  EXPECT_EQ(storeFileState(storePath()), StoreFileState::Newer);
  EXPECT_FALSE(QS814isPrefsFileCompatible(storePath(), nullptr));
  EXPECT_STREQ(VL714prefsFileCompatibleError(storePath(), nullptr), kSettingsFormatChangedMessage);
  for (bool readOnly : {true, false}) {
    StoreContextRef ctx;
    ErrorInfo err;
    EXPECT_EQ(QS814createMOC(platform, errors, storePath(), nullptr, readOnly, &ctx, &err), 8140153);
    EXPECT_EQ(err.code, kPersistentStoreIncompatibleVersionHashError);
  }
  // A damaged file passes the check; opening it reports the damage.
  std::ofstream(storePath(), std::ios::binary | std::ios::trunc) << "garbage garbage garbage";
  EXPECT_TRUE(QS814isPrefsFileCompatible(storePath(), nullptr));
}

TEST_F(StoreContext, AnOlderStoreIsMigratedWhenOpenedForWriting) {
  StoreModel next = StoreModel::current();
  next.version += 1;
  next.entities[static_cast<size_t>(EntityKind::Device)].attributes.push_back({"scrollAccel", AttrType::String});
  const int scrollAccel = static_cast<int>(next.entity(EntityKind::Device).attributes.size()) - 1;
  {
    StoreContextRef ctx = open(false);
    makeDevice(ctx.get(), 0x46d, 0xc52b, 0x4082, "USB")->setName(std::string("kept"));
    save(ctx.get());
  }
  EXPECT_EQ(storeFileState(storePath(), &next), StoreFileState::Older);
  EXPECT_TRUE(QS814isPrefsFileCompatible(storePath(), &next));
  {
    // Read-only: the old file is read as it is, the new attribute reads as null.
    StoreContextRef ro = open(true, {}, &next);
    QS802DeviceClass* d = QS814allDevices(ro.get()).front();
    EXPECT_EQ(d->name(), "kept");
    EXPECT_TRUE(d->value(scrollAccel).isNull());
  }
  EXPECT_EQ(storeFileState(storePath(), &next), StoreFileState::Older);
  {
    StoreContextRef rw = open(false, {}, &next);
    EXPECT_EQ(rw->fileModelVersion(), next.version);
    QS802DeviceClass* d = QS814allDevices(rw.get()).front();
    EXPECT_EQ(d->cursorSpeeds().size(), 5u);
    d->setValue(scrollAccel, pl::Value("1.5"));
    save(rw.get());
  }
  StoreContextRef ro = open(true, {}, &next);
  EXPECT_EQ(QS814allDevices(ro.get()).front()->value(scrollAccel), pl::Value("1.5"));
  // This program's model cannot read what the newer one wrote.
  EXPECT_FALSE(QS814isPrefsFileCompatible(storePath(), nullptr));
}

TEST_F(StoreContext, AKillInTheMiddleOfASaveLeavesThePreviousStore) {
  {
    StoreContextRef ctx = open(false);
    for (int i = 0; i < 5; ++i) makeDevice(ctx.get(), 0x100 + i, 1, 0, "USB")->setName(std::string("before"));
    save(ctx.get());
  }
  EXPECT_EXIT(
      {
        StoreContextRef ctx = open(false);
        auto devices = QS814allDevices(ctx.get());
        for (QS802DeviceClass* d : devices) d->setName(std::string("after"));
        makeDevice(ctx.get(), 0x999, 1, 0, "USB");
        ctx->setSaveStepHook([](int step) {
          if (step == 4) _exit(7);  // some rows written, no commit yet
        });
        ErrorInfo err;
        (void)QS814saveMOC(ctx.get(), &err);  // the child ends inside the save
        _exit(0);
      },
      ::testing::ExitedWithCode(7), "");
  StoreContextRef ro = open(true);
  auto devs = QS814allDevices(ro.get());
  ASSERT_EQ(devs.size(), 5u);
  for (QS802DeviceClass* d : devs) {
    EXPECT_EQ(d->name(), "before");
    EXPECT_EQ(d->cursorSpeeds().size(), 5u);
  }
}

TEST_F(StoreContext, AFailedSaveKeepsTheChangesAndTheFile) {
  {
    StoreContextRef ctx = open(false);
    makeDevice(ctx.get(), 0x46d, 0xc52b, 0x4082, "USB")->setName(std::string("before"));
    save(ctx.get());
  }
  StoreContextRef ctx = open(false);
  QS802DeviceClass* d = QS814allDevices(ctx.get()).front();
  d->setName(std::string("after"));
  QS803AppClass* app = d->insertDefApplication();
  app->insertActionWithButton(pl::Value(1), pl::Value(false), pl::Value(0))->setFunc(pl::Value("f"));
  rawExec("DROP TABLE \"Action\"");  // the file changes under the writer's feet
  ErrorInfo err;
  EXPECT_EQ(QS814saveMOC(ctx.get(), &err), 8140349);
  EXPECT_EQ(err.code, kPersistentStoreSaveError);
  EXPECT_TRUE(ctx->hasChanges());
  EXPECT_EQ(d->name(), "after");
  StoreContextRef ro = open(true);
  EXPECT_EQ(QS814allDevices(ro.get()).front()->name(), "before");
  EXPECT_TRUE(QS814allDevices(ro.get()).front()->applications().empty());
}

TEST_F(StoreContext, ChangesAreAnnouncedAtTheEndOfThePassWithTheirKeys) {
  {
    StoreContextRef ctx = open(false);
    makeDevice(ctx.get(), 0x46d, 0xc52b, 0x4082, "USB");
    save(ctx.get());
  }
  StoreContextRef ctx = open(false);
  std::vector<ObjectsDidChange> seen;
  ctx->addObjectsDidChangeObserver([&](const ObjectsDidChange& n) { seen.push_back(n); });
  QS802DeviceClass* d = QS814allDevices(ctx.get()).front();
  QS805CursorSpeedClass* third = d->cursorSpeeds()[2];
  QS805CursorSpeedClass* fifth = d->cursorSpeeds()[4];

  loop.post([&] {
    d->setCursorSpeedSelectedIndex(2);
    third->setTrackingSpeed(std::string("1.5"));
    d->removeCursorSpeedsObject(fifth);
    ctx->deleteObject(fifth);
    QS803AppClass* made = QS814insertApplication(errors, ctx.get());
    QS803AppClass* dropped = QS814insertApplication(errors, ctx.get());
    ctx->deleteObject(dropped);  // made and dropped within the pass: nobody hears of it
    made->setSnapping(std::string(kSnappingNone));
  });
  EXPECT_TRUE(seen.empty());
  loop.runPass();
  ASSERT_EQ(seen.size(), 1u);
  const ObjectsDidChange& n = seen[0];
  EXPECT_EQ(n.inserted.size(), 1u);
  ASSERT_EQ(n.deleted.size(), 1u);
  EXPECT_EQ(n.deleted[0], fifth);
  EXPECT_TRUE(n.changed(d, "cursorSpeedSelectedIndex"));
  EXPECT_TRUE(n.changed(d, "cursorSpeeds"));
  EXPECT_FALSE(n.changed(d, "name"));
  EXPECT_TRUE(n.changed(third, "trackingSpeed"));
  EXPECT_EQ(d->changedKeys(), (std::vector<std::string>{"cursorSpeedSelectedIndex", "cursorSpeeds"}));

  loop.runPass();  // nothing new
  EXPECT_EQ(seen.size(), 1u);
}

TEST_F(StoreContext, UndoAndRedoStepThroughWholePasses) {
  {
    StoreContextRef ctx = open(false);
    makeDevice(ctx.get(), 0x46d, 0xc52b, 0x4082, "USB");
    save(ctx.get());
  }
  StoreContextRef ctx = open(false);
  ASSERT_NE(ctx->undoManager(), nullptr);
  std::vector<UndoManager::Event> events;
  ctx->undoManager()->addObserver([&](UndoManager::Event e) { events.push_back(e); });
  QS802DeviceClass* d = QS814allDevices(ctx.get()).front();
  QS805CursorSpeedClass* first = d->cursorSpeeds()[0];

  loop.post([&] {  // pass 1: two edits, one step
    d->setName(std::string("Mouse"));
    first->setSensitivity(std::string("900"));
  });
  loop.runPass();
  loop.post([&] {  // pass 2: a favourite goes, an application comes
    d->removeCursorSpeedsObject(first);
    ctx->deleteObject(first);
    d->insertDefApplication();
  });
  loop.runPass();
  EXPECT_EQ(ctx->undoManager()->undoCount(), 2u);
  EXPECT_EQ(std::count(events.begin(), events.end(), UndoManager::Event::WillCloseUndoGroup), 2);

  ctx->undo();
  EXPECT_FALSE(first->isDeleted());
  EXPECT_EQ(first->device(), d);
  EXPECT_EQ(d->cursorSpeeds().size(), 5u);
  EXPECT_TRUE(d->applications().empty());
  EXPECT_EQ(d->name(), "Mouse");
  ctx->undo();
  EXPECT_EQ(d->name(), std::nullopt);
  EXPECT_EQ(first->sensitivity(), "400");
  EXPECT_FALSE(ctx->hasChanges());

  ctx->redo();
  EXPECT_EQ(d->name(), "Mouse");
  EXPECT_EQ(first->sensitivity(), "900");
  ctx->redo();
  EXPECT_TRUE(first->isDeleted());
  EXPECT_EQ(d->applications().size(), 1u);
  save(ctx.get());
  EXPECT_EQ(first->managedObjectContext(), nullptr);  // gone from the store, pointer still valid

  // A new change after undo clears the redo history.
  ctx->undo();
  loop.post([&] { d->setName(std::string("Other")); });
  loop.runPass();
  EXPECT_FALSE(ctx->undoManager()->canRedo());
  save(ctx.get());
  StoreContextRef ro = open(true);
  QS802DeviceClass* r = QS814allDevices(ro.get()).front();
  EXPECT_EQ(r->name(), "Other");
  EXPECT_EQ(r->cursorSpeeds().size(), 5u) << "undoing the saved deletion brought the favourite back";
}

TEST_F(StoreContext, DeletingAParentLeavesItsChildrenWithoutOne) {
  StoreContextRef ctx = open(false);
  QS802DeviceClass* d = makeDevice(ctx.get(), 0x46d, 0xc52b, 0x4082, "USB");
  std::vector<QS805CursorSpeedClass*> css = d->cursorSpeeds();
  ctx->deleteObject(d);
  for (QS805CursorSpeedClass* cs : css) EXPECT_EQ(cs->device(), nullptr);
  EXPECT_TRUE(QS814allDevices(ctx.get()).empty());
  EXPECT_EQ(d->managedObjectContext(), nullptr);
  save(ctx.get());
  StoreContextRef ro = open(true);
  EXPECT_TRUE(QS814allDevices(ro.get()).empty());
  EXPECT_EQ(ro->fetch(EntityKind::CursorSpeed).size(), 5u);
}

TEST_F(StoreContext, PrimitiveValuesAreSavedWithoutUndoOrNotification) {
  StoreContextRef ctx = open(false);
  QS802DeviceClass* d = makeDevice(ctx.get(), 0x46d, 0xc52b, 0x4082, "USB");
  save(ctx.get());
  loop.runPass();
  ctx->undoManager()->removeAllActions();
  int notes = 0;
  ctx->addObjectsDidChangeObserver([&](const ObjectsDidChange&) { ++notes; });
  d->setPrimitiveValue(attr::device::name, pl::Value("quiet"));
  loop.runPass();
  EXPECT_EQ(notes, 0);
  EXPECT_FALSE(ctx->undoManager()->canUndo());
  EXPECT_TRUE(ctx->hasChanges());
  save(ctx.get());
  ctx.reset();
  StoreContextRef ro = open(true);
  EXPECT_EQ(QS814allDevices(ro.get()).front()->name(), "quiet");
}

// --- Interrupted saves, damage, busy and denied files ---------------------------------------

std::vector<std::string> hiddenLeftovers(const std::string& folder) {
  std::vector<std::string> out;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::string n = it->path().filename().string();
    if (n.rfind(".Device.dvsetting.new-", 0) == 0) out.push_back(n);
  }
  return out;
}

TEST_F(StoreContext, ANewStoreKilledWhileBeingMadeIsNeverSeenHalfMade) {
  const std::string folder = fs::path(storePath()).parent_path().string();
  // Kill points: inside the transaction that writes the tables and rows, and with the whole
  // file built beside its name but not yet renamed.
  for (int killAt : {0, 3, ManagedObjectContext::kStepBeforeInstall}) {
    SCOPED_TRACE(killAt);
    fs::remove_all(folder);
    fs::create_directories(folder);
    EXPECT_EXIT(
        {
          StoreContextRef ctx = open(false);
          makeDevice(ctx.get(), 0x46d, 0xc52b, 0, "USB");
          ctx->setSaveStepHook([killAt](int step) {
            if (step == killAt) _exit(7);
          });
          ErrorInfo err;
          (void)QS814saveMOC(ctx.get(), &err);  // the child is killed inside it
          _exit(0);
        },
        ::testing::ExitedWithCode(7), "");
    EXPECT_FALSE(fs::exists(storePath()));
    EXPECT_FALSE(fs::exists(storePath() + "-journal"));
    // Readers see no store at all, which is not damage.
    StoreContextRef ro = open(true);
    ASSERT_TRUE(ro);
    EXPECT_TRUE(QS814allDevices(ro.get()).empty());
    ro.reset();
    // The next writer makes the store and clears what the killed one left.
    {
      StoreContextRef rw = open(false);
      makeDevice(rw.get(), 0x46d, 0xc52b, 0, "USB");
      save(rw.get());
    }
    EXPECT_TRUE(hiddenLeftovers(folder).empty());
    ro = open(true);
    ASSERT_EQ(QS814allDevices(ro.get()).size(), 1u);
    EXPECT_EQ(QS814allDevices(ro.get()).front()->cursorSpeeds().size(), 5u);
  }
  // A completed first save leaves the store alone in its folder, in write-ahead-log mode.
  EXPECT_FALSE(fs::exists(storePath() + "-journal"));
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open_v2(storePath().c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  sqlite3_stmt* st = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, "PRAGMA journal_mode", -1, &st, nullptr), SQLITE_OK);
  ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
  EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)), "wal");
  sqlite3_finalize(st);
  sqlite3_close(db);
}

TEST_F(StoreContext, AReadOnlyOpenRollsBackAnotherProgramsKilledSave) {
  {
    StoreContextRef ctx = open(false);
    for (int i = 0; i < 3; ++i) makeDevice(ctx.get(), 0x100 + i, 1, 0, "USB")->setName(std::string("before"));
    save(ctx.get());
  }
  // Another program switches the file to a rollback journal and is killed in the middle of a
  // transaction big enough to have written into the file: a hot journal is left beside it.
  EXPECT_EXIT(
      {
        sqlite3* db = nullptr;
        sqlite3_open(storePath().c_str(), &db);
        sqlite3_exec(db,
                     "PRAGMA journal_mode=DELETE; PRAGMA cache_size=10; BEGIN;"
                     "UPDATE Device SET name = 'after';"
                     "CREATE TABLE filler(x BLOB);"
                     "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 400)"
                     " INSERT INTO filler SELECT randomblob(2000) FROM n;",
                     nullptr, nullptr, nullptr);
        _exit(fs::exists(storePath() + "-journal") ? 7 : 1);
      },
      ::testing::ExitedWithCode(7), "");
  ASSERT_GT(fs::file_size(storePath() + "-journal"), 0u);
  StoreContextRef ro = open(true);
  ASSERT_TRUE(ro);
  auto devices = QS814allDevices(ro.get());
  ASSERT_EQ(devices.size(), 3u);
  for (QS802DeviceClass* d : devices) EXPECT_EQ(d->name(), "before");
  EXPECT_FALSE(ro->isDamaged());
  Status integrity = ro->checkIntegrity();
  EXPECT_TRUE(integrity.ok()) << integrity.detail();
}

TEST_F(StoreContext, TheIntegrityCheckFindsATruncatedStore) {
  {
    StoreContextRef ctx = open(false);
    for (int i = 0; i < 60; ++i) makeDevice(ctx.get(), 0x100 + i, 1, 0, "USB")->setName(std::string(300, 'n'));
    save(ctx.get());
    Status integrity = ctx->checkIntegrity();
    EXPECT_TRUE(integrity.ok()) << integrity.detail();
  }
  std::string good = fileText(storePath());
  ASSERT_GT(good.size(), 8192u);
  std::string cut = home.path() + "/cut/Device.dvsetting";
  fs::create_directories(fs::path(cut).parent_path());
  std::ofstream(cut, std::ios::binary) << good.substr(0, good.size() * 2 / 3);
  StoreContextRef ctx;
  ErrorInfo err;
  if (QS814createMOC(platform, errors, cut, nullptr, true, &ctx, &err) == 0) {
    Status integrity = ctx->checkIntegrity();
    const std::string& problem = integrity.detail();
    EXPECT_FALSE(integrity.ok());
    EXPECT_NE(problem.find("damaged"), std::string::npos) << problem;
  }
  // A store not yet written has nothing to be damaged.
  StoreContextRef fresh = open(true, home.path() + "/none/Device.dvsetting");
  EXPECT_TRUE(fresh->checkIntegrity().ok());
}

TEST_F(StoreContext, ASaveBlockedByAnotherProgramsTransactionSaysTheStoreIsBusy) {
  {
    StoreContextRef ctx = open(false);
    makeDevice(ctx.get(), 0x46d, 0xc52b, 0, "USB");
    save(ctx.get());
  }
  StoreContextRef ctx = open(false);
  QS814allDevices(ctx.get()).front()->setName(std::string("waiting"));
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(storePath().c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
  ErrorInfo err;
  EXPECT_EQ(QS814saveMOC(ctx.get(), &err), 8140349);
  EXPECT_EQ(err.code, kPersistentStoreTimeoutError);
  std::string text = err.userInfo[kDescriptionKey].describe();
  EXPECT_NE(text.find("busy"), std::string::npos) << text;
  EXPECT_NE(text.find(storePath()), std::string::npos) << text;
  sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(other);
  save(ctx.get());  // the changes were kept for a later try
}

TEST_F(StoreContext, DeniedPermissionIsToldWithThePath) {
  if (::geteuid() == 0) GTEST_SKIP() << "permissions do not bind the superuser";
  {
    StoreContextRef ctx = open(false);
    makeDevice(ctx.get(), 0x46d, 0xc52b, 0, "USB");
    save(ctx.get());
  }
  ::chmod(storePath().c_str(), 0);
  StoreContextRef ctx;
  ErrorInfo err;
  EXPECT_EQ(QS814createMOC(platform, errors, storePath(), nullptr, true, &ctx, &err), 8140153);
  EXPECT_EQ(err.code, kFileReadNoPermissionError);
  EXPECT_NE(err.userInfo[kDescriptionKey].describe().find(storePath()), std::string::npos);
  ::chmod(storePath().c_str(), 0644);
  const std::string folder = fs::path(storePath()).parent_path().string();
  ::chmod(folder.c_str(), 0);
  EXPECT_EQ(QS814createMOC(platform, errors, storePath(), nullptr, true, &ctx, &err), 8140153);
  EXPECT_EQ(err.code, kFileReadNoPermissionError);
  ::chmod(folder.c_str(), 0755);
}

// A step carries the name the window gave it through undo and redo; a group opened by hand
// (a slider drag) stays one step over many passes.
TEST(UndoNames, AStepKeepsItsNameAndAHandOpenedGroupSpansPasses) {
  UndoManager undo;
  int value = 0;
  // As a record's setter does: the undo of a change is a change back, which registers its own
  // inverse (the redo step) while the manager undoes.
  std::function<void(int)> set = [&](int v) {
    const int old = value;
    value = v;
    undo.registerUndo([&set, old] { set(old); });
  };
  undo.setActionName("ignored");  // no step is open: nothing to name
  set(1);
  undo.setActionName("Sensitivity");
  undo.closeEventGroup();
  EXPECT_EQ(undo.undoActionName(), "Sensitivity");

  undo.beginUndoGrouping();
  for (int v : {2, 3, 4}) {
    set(v);
    undo.setActionName("Tracking speed");
    undo.closeEventGroup();  // the passes of a drag end, the group stays open
  }
  EXPECT_FALSE(undo.canRedo());
  undo.endUndoGrouping();
  EXPECT_EQ(undo.undoCount(), 2u);
  EXPECT_EQ(undo.undoActionName(), "Tracking speed");
  undo.undo();
  EXPECT_EQ(value, 1) << "one undo takes back the whole drag";
  EXPECT_EQ(undo.redoActionName(), "Tracking speed");
  EXPECT_EQ(undo.undoActionName(), "Sensitivity");
  undo.redo();
  EXPECT_EQ(value, 4);
  EXPECT_EQ(undo.undoActionName(), "Tracking speed");
  undo.removeAllActions();
  EXPECT_EQ(undo.undoActionName(), "");
}

// A program may open the store without some ports (a command-line tool has no workspace, a test
// no registry): the records then read what a port would have told as absent instead of reaching it.
TEST_F(StoreContext, RecordsOfAContextGivenNoPortsReadThemAsAbsent) {
  ManagedObjectContext::Options options;  // no ports, no run loop
  ErrorInfo err;
  fs::create_directories(fs::path(storePath()).parent_path());
  std::unique_ptr<ManagedObjectContext> ctx = ManagedObjectContext::open(storePath(), options, &err);
  ASSERT_TRUE(ctx);

  // Applications: no package to recognise and no home folder to shorten away.
  const std::string tool = workspace.homeDirectory() + "/bin/tool";
  fs::create_directories(fs::path(tool).parent_path());
  std::ofstream(tool) << "#!/bin/sh\n";
  QS803AppClass* app = QS803AppClass::insertSnappingAppWithObject(ctx->errorStack(), AppObject(FileURL{tool}), ctx.get());
  ASSERT_NE(app, nullptr);
  EXPECT_EQ(app->matchingKey(), tool);
  EXPECT_EQ(app->name(), "tool");
  EXPECT_EQ(app->displayName(), "tool");
  EXPECT_EQ(app->icon(), "");
  EXPECT_TRUE(app->isEqualToMatchingKeyInURL(tool));
  EXPECT_TRUE(app->isEqualToMatchingKeyInProc(RunningApplication{3, "", "", tool, "tool"}));
  EXPECT_EQ(app->appDic().at("matchingKey"), pl::Value(tool));
  QS803AppClass* byDefault = QS803AppClass::insertSnappingAppWithObject(ctx->errorStack(), AppObject(), ctx.get());
  ASSERT_NE(byDefault, nullptr);
  EXPECT_EQ(byDefault->displayName(), "Default");  // no strings tables: the English text

  // Devices: no registry names or resolution, no system acceleration to compare with.
  QS802DeviceClass* trackpad = QS814insertDeviceWithInfo(ctx->errorStack(), 0x05AC, 0x0273, 0, "USB", 42, ctx.get());
  ASSERT_NE(trackpad, nullptr);
  EXPECT_EQ(trackpad->pointerResolution(), "400");
  ASSERT_NE(trackpad->insert5CursorSpeedsWithSens(-1, -1), nullptr);
  ASSERT_EQ(trackpad->cursorSpeeds().size(), 5u);
  QS805CursorSpeedClass* first = trackpad->cursorSpeeds().front();
  EXPECT_EQ(first->title(), "Favorite Settings 1");
  EXPECT_EQ(first->systemTrackingSpeed(), "0");
  ErrorInfo range;
  EXPECT_FALSE(first->validateTrackingSpeed(pl::Value(21.0), &range));
  EXPECT_EQ(range.userInfo[kDescriptionKey], pl::Value("A value of 21 is out of range.\nAcceptable values are 0 to 20."));
  EXPECT_EQ(QS814fetchDeviceForLocationID(ctx->errorStack(), 42, ctx.get()), nullptr);

  ErrorInfo saved;
  EXPECT_TRUE(ctx->save(&saved)) << saved.userInfo[kDescriptionKey].describe();
}

}  // namespace
}  // namespace vl

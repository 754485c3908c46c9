// ManagedObjectContext: opening a store, checking and migrating its schema, lazy loading of rows.
#include "core/store/object_context.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>

#include "core/plist/codec.h"
#include "core/store/object_context_support.h"
#include "core/store/record_factory.h"
#include "platform/api/platform.h"
#include "platform/api/runloop.h"

namespace vl {

using namespace objctx;

namespace {

// A save killed midway in rollback-journal mode leaves a hot journal beside the file, which a
// read-only connection cannot play back (SQLITE_READONLY_ROLLBACK). A short read-write connection
// lets SQLite roll it back; SQLite plays back only a journal that no live connection holds a lock
// for, so a writer at work is never disturbed.
void rollBackInterruptedSave(const std::string& path) {
  struct stat js {};
  if (::stat((path + "-journal").c_str(), &js) != 0 || js.st_size == 0) return;
  sqlite::Database rw;
  if (!rw.open(path, sqlite::Database::Mode::ReadWrite)) return;
  rw.setBusyTimeout(1000);
  (void)rw.queryInt("PRAGMA schema_version");  // the first read takes the journal back
}

// Takes the writers' lock on fd, waiting up to bound for a writer that holds it. Polled, since
// flock has no timed form; a writer holds the lock only for one open-change-save.
bool lockWithin(int fd, std::chrono::milliseconds bound) {
  const auto deadline = std::chrono::steady_clock::now() + bound;
  for (;;) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
    if (errno != EWOULDBLOCK && errno != EINTR) return false;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

}  // namespace

// --- Opening -------------------------------------------------------------------------------

std::unique_ptr<ManagedObjectContext> ManagedObjectContext::open(const std::string& path, const Options& options,
                                                                 ErrorInfo* error) {
  std::unique_ptr<ManagedObjectContext> ctx(new ManagedObjectContext());
  ctx->path_ = path;
  ctx->readOnly_ = options.readOnly;
  ctx->model_ = options.model ? options.model : &StoreModel::current();
  ctx->ports_ = options.ports;
  ctx->records_ = options.records;
  if (options.errors) {
    ctx->errors_ = options.errors;
  } else {
    ctx->ownErrors_ = std::make_unique<ErrorStack>();
    ctx->errors_ = ctx->ownErrors_.get();
  }
  ctx->runLoop_ = options.runLoop;

  struct stat st {};
  bool exists = ::stat(path.c_str(), &st) == 0;
  if (!exists && errno != ENOENT) {
    int e = errno;
    if (e == EACCES)
      fill(error, makeError(kFileReadNoPermissionError, "Permission to reach the settings file " + path + " was denied."));
    else
      fill(error, makeError(kFileReadCorruptFileError,
                            "The settings file " + path + " cannot be reached: " + std::strerror(e) + "."));
    return nullptr;
  }
  if (exists && !S_ISREG(st.st_mode)) {
    fill(error, makeError(kFileReadCorruptFileError, "The settings file is not a regular file."));
    return nullptr;
  }

  if (!ctx->readOnly_) {
    // One writer at a time: another writer refuses instead of overwriting this one's saves.
    std::string lockPath = path + ".lock";
    int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd >= 0) {
      if (!lockWithin(fd, options.writerWait)) {
        ::close(fd);
        fill(error, makeError(kPersistentStoreInUseError, "The settings file is being changed by another program."));
        return nullptr;
      }
      ctx->lockFd_ = fd;
    }
    // Without a writable folder there is nothing another writer could change either.
  }

  // Every save that creates a store builds it beside its name and renames it into place, so a
  // file at the name always held a whole store: one cut to nothing is damage, not a new store.
  if (exists && st.st_size == 0) {
    fill(error, makeError(kFileReadCorruptFileError, kNoSettingsText));
    return nullptr;
  }
  if (exists) {
    if (ctx->readOnly_) rollBackInterruptedSave(path);
    if (!ctx->db_.open(path, ctx->readOnly_ ? sqlite::Database::Mode::ReadOnly : sqlite::Database::Mode::ReadWrite)) {
      fill(error, storeError(path, !ctx->readOnly_, ctx->db_, kFileReadCorruptFileError, "The settings file cannot be opened."));
      return nullptr;
    }
    ctx->db_.setBusyTimeout(1000);
    if (ctx->readOnly_) {
      // One snapshot for the context's life: entities read later see the file as it was now.
      if (!ctx->db_.exec("BEGIN")) {
        fill(error, storeError(path, false, ctx->db_, kFileReadCorruptFileError, "The settings file cannot be read."));
        return nullptr;
      }
      ctx->snapshotOpen_ = true;
    }
    bool needsMigration = false;
    if (!ctx->inspect(error, &needsMigration)) return nullptr;
    if (needsMigration && !ctx->readOnly_ && !ctx->schemaMissing_ && !ctx->migrate(error)) return nullptr;
  } else {
    ctx->db_.close();
    ctx->schemaMissing_ = true;
  }

  if (!ctx->readOnly_) ctx->undo_ = std::make_unique<UndoManager>();
  if (ctx->runLoop_) {
    ManagedObjectContext* self = ctx.get();
    ctx->passObserver_ = ctx->runLoop_->addEndOfPassObserver([self] {
      self->processPendingChanges();
      if (self->undo_) self->undo_->closeEventGroup();
    });
  }
  return ctx;
}

bool ManagedObjectContext::inspect(ErrorInfo* error, bool* needsMigration) {
  auto corrupt = [&](const char* text) {
    fill(error, storeError(path_, !readOnly_, db_, kFileReadCorruptFileError, text));
    return false;
  };
  std::optional<int64_t> app = db_.queryInt("PRAGMA application_id");
  std::optional<int64_t> ver = db_.queryInt("PRAGMA user_version");
  if (!app || !ver) return corrupt("The settings file is damaged or is not a settings file.");

  std::vector<std::string> tables;
  int64_t entries = 0;
  {
    sqlite::Statement s = db_.prepare("SELECT type, name FROM sqlite_master");
    if (!s.valid()) return corrupt("The settings file is damaged or is not a settings file.");
    for (;;) {
      auto r = s.step();
      if (r == sqlite::Statement::Step::Done) break;
      if (r == sqlite::Statement::Step::Error) return corrupt("The settings file is damaged.");
      ++entries;
      if (s.columnText(0) == "table") tables.emplace_back(s.columnText(1));
    }
  }
  if (static_cast<int32_t>(*app) != kStoreApplicationID) {
    // A file with no settings schema (cut short, or an empty database) is damage as well.
    if (entries == 0) return corrupt(kNoSettingsText);
    return corrupt("The file is not a settings file.");
  }
  if (*ver > model_->version) {
    fill(error, makeError(kPersistentStoreIncompatibleVersionHashError,
                          "The settings file was written by a newer version."));
    return false;
  }
  if (*ver < 1) return corrupt("The settings file has no model version.");
  fileVersion_ = static_cast<int32_t>(*ver);
  *needsMigration = fileVersion_ < model_->version;

  for (const EntityDesc& e : model_->entities) {
    Columns& c = columns_[ix(e.kind)];
    c.known = true;
    c.exists = std::find(tables.begin(), tables.end(), e.name) != tables.end();
    if (!c.exists) {
      *needsMigration = true;
      continue;
    }
    sqlite::Statement s = db_.prepare("PRAGMA table_info(" + sqlite::quoteIdentifier(e.name) + ")");
    if (!s.valid()) return corrupt("The settings file is damaged.");
    bool hasPk = false;
    for (;;) {
      auto r = s.step();
      if (r == sqlite::Statement::Step::Done) break;
      if (r == sqlite::Statement::Step::Error) return corrupt("The settings file is damaged.");
      std::string name(s.columnText(1));
      if (name == kPkColumn && s.columnInt(5) != 0) hasPk = true;
      c.names.push_back(std::move(name));
    }
    if (!hasPk) return corrupt("The settings file is damaged.");
    auto has = [&](const char* n) { return std::find(c.names.begin(), c.names.end(), n) != c.names.end(); };
    for (const auto& a : e.attributes)
      if (!has(a.name)) *needsMigration = true;
    for (const auto& r : e.relationships)
      if (!r.toMany && !has(r.name)) *needsMigration = true;
  }
  return true;
}

bool ManagedObjectContext::migrate(ErrorInfo* error) {
  // Inferred mapping: later models only add entities and attributes, which come in as null.
  if (!db_.exec("BEGIN IMMEDIATE")) {
    fill(error, makeError(kFileReadCorruptFileError, "The settings file cannot be updated.", &db_));
    return false;
  }
  auto fail = [&] {
    ErrorInfo e = makeError(kFileReadCorruptFileError, "The settings file cannot be updated.", &db_);
    db_.exec("ROLLBACK");
    fill(error, std::move(e));
    return false;
  };
  for (const EntityDesc& e : model_->entities) {
    Columns& c = columns_[ix(e.kind)];
    if (!c.exists) {
      if (!db_.exec(createTableSql(e))) return fail();
      continue;
    }
    auto has = [&](const char* n) { return std::find(c.names.begin(), c.names.end(), n) != c.names.end(); };
    for (const auto& a : e.attributes)
      if (!has(a.name) && !db_.exec("ALTER TABLE " + sqlite::quoteIdentifier(e.name) + " ADD COLUMN " +
                                    sqlite::quoteIdentifier(a.name) + " " + columnType(a.type)))
        return fail();
    for (const auto& r : e.relationships)
      if (!r.toMany && !has(r.name) &&
          !db_.exec("ALTER TABLE " + sqlite::quoteIdentifier(e.name) + " ADD COLUMN " +
                    sqlite::quoteIdentifier(r.name) + " INTEGER"))
        return fail();
  }
  if (!db_.exec("PRAGMA user_version = " + std::to_string(model_->version))) return fail();
  if (!db_.exec("COMMIT")) return fail();
  for (const EntityDesc& e : model_->entities) {
    Columns& c = columns_[ix(e.kind)];
    c.exists = true;
    c.names.clear();
    c.names.push_back(kPkColumn);
    for (const auto& a : e.attributes) c.names.push_back(a.name);
    for (const auto& r : e.relationships)
      if (!r.toMany) c.names.push_back(r.name);
  }
  fileVersion_ = model_->version;
  return true;
}

ManagedObjectContext::~ManagedObjectContext() {
  if (runLoop_ && passObserver_) runLoop_->removeEndOfPassObserver(passObserver_);
  for (auto& o : owned_) o->willTurnIntoFault();
  // Undo actions refer to records; drop them before the records.
  undo_.reset();
  if (snapshotOpen_) db_.exec("ROLLBACK");
  db_.close();
  if (lockFd_ >= 0) {
    ::flock(lockFd_, LOCK_UN);
    ::close(lockFd_);
  }
}

// --- Loading -------------------------------------------------------------------------------

void ManagedObjectContext::ensureLoaded(EntityKind kind) {
  if (!loaded_[ix(kind)]) loadEntity(kind);
}

pl::Value ManagedObjectContext::readColumn(const sqlite::Statement& s, int i, AttrType t) const {
  using CT = sqlite::Statement::ColumnType;
  CT ct = s.columnType(i);
  if (ct == CT::Null) return {};
  switch (t) {
    case AttrType::Integer:
    case AttrType::UInt32:
    case AttrType::Boolean:
      if (ct == CT::Integer) return coerceToAttribute(t, pl::Value::int64(s.columnInt(i)));
      if (ct == CT::Float) return coerceToAttribute(t, pl::Value(s.columnDouble(i)));
      return {};
    case AttrType::String:
      if (ct == CT::Text) return pl::Value(std::string(s.columnText(i)));
      return {};
    case AttrType::Date:
      if (ct == CT::Float || ct == CT::Integer) {
        double d = s.columnDouble(i);
        return std::isfinite(d) ? pl::Value(pl::Date{d}) : pl::Value();
      }
      return {};
    case AttrType::Data:
      if (ct == CT::Blob) {
        auto b = s.columnBlob(i);
        return pl::Value(pl::Data(b.begin(), b.end()));
      }
      return {};
    case AttrType::Dict:
    case AttrType::Any: {
      if (ct != CT::Blob) return {};
      pl::ReadResult r = pl::readBinary(s.columnBlob(i));
      if (!r) return {};
      return coerceToAttribute(t, *r.value);
    }
  }
  return {};
}

bool ManagedObjectContext::loadEntity(EntityKind kind) {
  size_t k = ix(kind);
  loaded_[k] = true;
  const EntityDesc& e = model_->entity(kind);
  // Parents first, so each row can be linked to its parent record as it is read.
  for (const auto& r : e.relationships)
    if (!r.toMany) ensureLoaded(r.destination);
  const Columns& c = columns_[k];
  if (!db_.isOpen() || schemaMissing_ || !c.exists) return true;

  auto has = [&](const char* n) { return std::find(c.names.begin(), c.names.end(), n) != c.names.end(); };
  std::string sql = "SELECT " + sqlite::quoteIdentifier(kPkColumn);
  for (const auto& a : e.attributes) sql += ", " + (has(a.name) ? sqlite::quoteIdentifier(a.name) : "NULL");
  std::vector<int> toOneRels;
  for (size_t r = 0; r < e.relationships.size(); ++r) {
    if (e.relationships[r].toMany) continue;
    toOneRels.push_back(static_cast<int>(r));
    sql += ", " + (has(e.relationships[r].name) ? sqlite::quoteIdentifier(e.relationships[r].name) : "NULL");
  }
  sql += " FROM " + sqlite::quoteIdentifier(e.name) + " ORDER BY " + sqlite::quoteIdentifier(kPkColumn);

  sqlite::Statement s = db_.prepare(sql);
  if (!s.valid()) {
    damaged_ = true;
    return false;
  }
  const size_t nAttr = e.attributes.size();
  std::vector<ManagedObject*> added;
  for (;;) {
    auto step = s.step();
    if (step == sqlite::Statement::Step::Done) break;
    if (step == sqlite::Statement::Step::Error) {
      damaged_ = true;
      break;
    }
    if (s.columnType(0) != sqlite::Statement::ColumnType::Integer) continue;
    int64_t pk = s.columnInt(0);
    std::unique_ptr<ManagedObject> rec = makeStoreRecord(kind);
    rec->ctx_ = this;
    rec->entity_ = &e;
    rec->pk_ = pk;
    rec->registered_ = true;
    rec->stored_ = true;
    rec->values_.resize(nAttr);
    for (size_t a = 0; a < nAttr; ++a) rec->values_[a] = readColumn(s, static_cast<int>(a + 1), e.attributes[a].type);
    rec->committed_ = rec->values_;
    rec->toOne_.assign(e.relationships.size(), nullptr);
    rec->toMany_.assign(e.relationships.size(), {});
    rec->committedToMany_.assign(e.relationships.size(), std::nullopt);
    rec->seq_ = owned_.size();
    ManagedObject* obj = rec.get();
    owned_.push_back(std::move(rec));
    for (size_t j = 0; j < toOneRels.size(); ++j) {
      int col = static_cast<int>(nAttr + 1 + j);
      if (s.columnType(col) != sqlite::Statement::ColumnType::Integer) continue;
      const RelationshipDesc& rd = e.relationships[static_cast<size_t>(toOneRels[j])];
      auto& parents = byPk_[ix(rd.destination)];
      auto it = parents.find(s.columnInt(col));
      if (it == parents.end()) continue;  // a dangling reference reads as none
      ManagedObject* parent = it->second;
      obj->toOne_[static_cast<size_t>(toOneRels[j])] = parent;
      int inv = parent->entity().relationshipIndex(rd.inverse);
      if (inv >= 0) parent->toMany_[static_cast<size_t>(inv)].push_back(obj);
    }
    obj->committedToOne_ = obj->toOne_;
    live_[k].push_back(obj);
    byPk_[k][pk] = obj;
    added.push_back(obj);
  }
  for (ManagedObject* o : added) o->awake();
  return !damaged_;
}

}  // namespace vl

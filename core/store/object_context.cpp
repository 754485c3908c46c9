// ManagedObjectContext: opening, lazy loading, change tracking, atomic saves, notifications.
#include "core/store/object_context.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "core/plist/codec.h"
#include "core/store/record_factory.h"
#include "core/store/row_mapping.h"
#include "platform/api/platform.h"
#include "platform/api/runloop.h"

namespace vl {

namespace {

constexpr const char* kNoSettingsText = "The settings file is damaged: it holds no settings.";

constexpr const char* kPkColumn = "_pk";
// Parents before children, so a new child can refer to its new parent's row id.
constexpr EntityKind kSaveOrder[] = {EntityKind::Device, EntityKind::Application, EntityKind::CursorSpeed,
                                     EntityKind::Action, EntityKind::UserInfo};

size_t ix(EntityKind k) { return static_cast<size_t>(k); }

ErrorInfo makeError(int64_t code, const std::string& text, const sqlite::Database* db = nullptr) {
  ErrorInfo e;
  e.domain = kCocoaErrorDomain;
  e.code = code;
  e.userInfo[kDescriptionKey] = pl::Value(text);
  if (db && db->errorCode() != 0) {
    pl::Dict under;
    under["domain"] = pl::Value(kSQLiteErrorDomain);
    under["code"] = pl::Value::int64(db->errorCode());
    pl::Dict ui;
    ui[kDescriptionKey] = pl::Value(db->error());
    under["userInfo"] = pl::Value(std::move(ui));
    e.userInfo[kUnderlyingErrorKey] = pl::Value(std::move(under));
  }
  return e;
}

void fill(ErrorInfo* out, ErrorInfo e) {
  if (out) *out = std::move(e);
}

std::string folderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string baseOf(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}


bool deniedAccess(const std::string& path, int mode) { return ::access(path.c_str(), mode) != 0 && errno == EACCES; }

// A permission problem is told as one, with the path: calling it damage would send the user
// looking for the wrong fault.
std::optional<ErrorInfo> permissionError(const std::string& path, bool forWriting) {
  if (deniedAccess(path, R_OK))
    return makeError(kFileReadNoPermissionError, "Permission to read the settings file " + path + " was denied.");
  if (!forWriting) return std::nullopt;
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && deniedAccess(path, W_OK))
    return makeError(kFileWriteNoPermissionError, "Permission to write the settings file " + path + " was denied.");
  std::string folder = folderOf(path);
  if (deniedAccess(folder, W_OK | X_OK))
    return makeError(kFileWriteNoPermissionError,
                     "Permission to write in the settings folder " + folder + " was denied.");
  return std::nullopt;
}

// The error for a store that could not be opened, read or written: a busy file and a denied
// permission are said as such; anything else is the caller's text (usually damage).
ErrorInfo storeError(const std::string& path, bool forWriting, const sqlite::Database& db, int64_t code,
                     const std::string& text) {
  if (db.failedBusy())
    return makeError(kPersistentStoreTimeoutError,
                     "The settings file " + path +
                         " is busy: another program has been changing it for over a second. Try again.",
                     &db);
  if (auto denied = permissionError(path, forWriting)) return *denied;
  if (db.failedReadOnlyRollback())
    return makeError(kFileWriteNoPermissionError,
                     "The settings file " + path + " holds an interrupted save that only a program allowed to " +
                         "write it can undo.",
                     &db);
  return makeError(code, text, &db);
}

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

bool fsyncPath(const std::string& path, int flags) {
  int fd = ::open(path.c_str(), flags | O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = ::fsync(fd) == 0;
  ::close(fd);
  return ok;
}

// Temporary files of a new store are hidden, so the store search never picks one.
std::string buildingPrefix(const std::string& path) { return "." + baseOf(path) + ".new-"; }

const char* columnType(AttrType t) {
  switch (t) {
    case AttrType::Integer:
    case AttrType::UInt32:
    case AttrType::Boolean: return "INTEGER";
    case AttrType::String: return "TEXT";
    case AttrType::Date: return "REAL";
    case AttrType::Dict:
    case AttrType::Data:
    case AttrType::Any: return "BLOB";
  }
  return "BLOB";
}

std::string createTableSql(const EntityDesc& e) {
  std::string sql = "CREATE TABLE IF NOT EXISTS " + sqlite::quoteIdentifier(e.name) + " (" +
                    sqlite::quoteIdentifier(kPkColumn) + " INTEGER PRIMARY KEY";
  for (const auto& a : e.attributes) sql += ", " + sqlite::quoteIdentifier(a.name) + " " + columnType(a.type);
  for (const auto& r : e.relationships)
    if (!r.toMany) sql += ", " + sqlite::quoteIdentifier(r.name) + " INTEGER";
  return sql + ")";
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

bool ObjectsDidChange::changed(const ManagedObject* o, std::string_view key) const {
  auto it = changedKeys.find(o);
  if (it == changedKeys.end()) return false;
  return std::find(it->second.begin(), it->second.end(), key) != it->second.end();
}

// --- Opening -------------------------------------------------------------------------------

std::unique_ptr<ManagedObjectContext> ManagedObjectContext::open(const std::string& path, const Options& options,
                                                                 ErrorInfo* error) {
  std::unique_ptr<ManagedObjectContext> ctx(new ManagedObjectContext());
  ctx->path_ = path;
  ctx->readOnly_ = options.readOnly;
  ctx->model_ = options.model ? options.model : &StoreModel::current();
  ctx->platform_ = options.platform;
  ctx->records_ = options.records;
  if (options.errors) {
    ctx->errors_ = options.errors;
  } else {
    ctx->ownErrors_ = std::make_unique<ErrorStack>();
    ctx->errors_ = ctx->ownErrors_.get();
  }
  ctx->runLoop_ = options.runLoop ? options.runLoop : options.platform.runLoop;

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

// --- Records -------------------------------------------------------------------------------

ManagedObject* ManagedObjectContext::insertNewObject(EntityKind kind) {
  ensureLoaded(kind);
  std::unique_ptr<ManagedObject> rec = makeStoreRecord(kind);
  if (!rec) return nullptr;
  const EntityDesc& e = model_->entity(kind);
  rec->ctx_ = this;
  rec->entity_ = &e;
  rec->registered_ = true;
  rec->values_.resize(e.attributes.size());
  rec->committed_.resize(e.attributes.size());
  rec->toOne_.assign(e.relationships.size(), nullptr);
  rec->committedToOne_.assign(e.relationships.size(), nullptr);
  rec->toMany_.assign(e.relationships.size(), {});
  rec->committedToMany_.assign(e.relationships.size(), std::nullopt);
  rec->seq_ = owned_.size();
  ManagedObject* obj = rec.get();
  owned_.push_back(std::move(rec));
  live_[ix(kind)].push_back(obj);
  noteInserted(obj);
  registerUndo([this, obj] { deleteObject(obj); });
  obj->awake();
  return obj;
}

std::vector<ManagedObject*> ManagedObjectContext::fetch(EntityKind kind,
                                                        const std::function<bool(const ManagedObject&)>& pred) {
  ensureLoaded(kind);
  std::vector<ManagedObject*> out;
  out.reserve(live_[ix(kind)].size());
  for (ManagedObject* o : live_[ix(kind)])
    if (!o->deleted_ && (!pred || pred(*o))) out.push_back(o);
  return out;
}

void ManagedObjectContext::deleteObject(ManagedObject* o) {
  if (!o || o->ctx_ != this || !o->registered_ || o->deleted_) return;
  const EntityDesc& e = o->entity();
  // Nullify: every relationship that points at the record lets go of it.
  for (size_t r = 0; r < e.relationships.size(); ++r) {
    const RelationshipDesc& rd = e.relationships[r];
    ensureLoaded(rd.destination);
    if (rd.toMany) {
      std::vector<ManagedObject*> children = o->toMany_[r];
      int inv = model_->entity(rd.destination).relationshipIndex(rd.inverse);
      for (ManagedObject* c : children)
        if (inv >= 0) c->setToOne(inv, nullptr);
    } else {
      o->setToOne(static_cast<int>(r), nullptr);
    }
  }
  bool wasStored = o->stored_;
  if (wasStored) {
    o->deleted_ = true;
    deletedStored_.push_back(o);
  } else {
    unregister(o);
  }
  noteDeleted(o);
  registerUndo([this, o] { undelete(o, true); });
}

void ManagedObjectContext::unregister(ManagedObject* o) {
  o->registered_ = false;
  auto& list = live_[ix(o->entityKind())];
  list.erase(std::remove(list.begin(), list.end(), o), list.end());
}

void ManagedObjectContext::undelete(ManagedObject* o, bool) {
  if (o->deleted_) {
    o->deleted_ = false;
    deletedStored_.erase(std::remove(deletedStored_.begin(), deletedStored_.end(), o), deletedStored_.end());
    noteInserted(o);
  } else if (!o->registered_) {
    revive(o);
  } else {
    return;
  }
  registerUndo([this, o] { deleteObject(o); });
}

void ManagedObjectContext::revive(ManagedObject* o) {
  // A record whose row is gone comes back as a new record, saved under a new row id.
  o->registered_ = true;
  if (o->stored_ == false && o->pk_ != 0) o->pk_ = 0;
  for (auto& v : o->committed_) v = pl::Value();
  std::fill(o->committedToOne_.begin(), o->committedToOne_.end(), nullptr);
  live_[ix(o->entityKind())].push_back(o);
  noteInserted(o);
}

void ManagedObjectContext::registerUndo(std::function<void()> fn) {
  if (undo_) undo_->registerUndo(std::move(fn));
}

void ManagedObjectContext::noteInserted(ManagedObject* o) {
  touched_.insert(o);
  passInserted_.push_back(o);
}

void ManagedObjectContext::noteDeleted(ManagedObject* o) {
  touched_.insert(o);
  passDeleted_.push_back(o);
}

void ManagedObjectContext::noteUpdated(ManagedObject* o) {
  touched_.insert(o);
  passUpdated_.insert(o);
}

std::vector<ManagedObject*> ManagedObjectContext::dirtyRecords() const {
  std::vector<ManagedObject*> out;
  for (ManagedObject* o : touched_)
    if (o->registered_ && o->hasChanges()) out.push_back(o);
  return out;
}

bool ManagedObjectContext::hasChanges() const {
  if (!deletedStored_.empty()) return true;
  for (ManagedObject* o : touched_)
    if (o->registered_ && o->hasChanges()) return true;
  return false;
}

std::vector<ManagedObject*> ManagedObjectContext::insertedObjects() const {
  std::vector<ManagedObject*> out;
  for (ManagedObject* o : touched_)
    if (o->isInserted()) out.push_back(o);
  return out;
}

std::vector<ManagedObject*> ManagedObjectContext::updatedObjects() const {
  std::vector<ManagedObject*> out;
  for (ManagedObject* o : touched_)
    if (o->isUpdated()) out.push_back(o);
  return out;
}

std::vector<ManagedObject*> ManagedObjectContext::deletedObjects() const { return deletedStored_; }

// --- Saving --------------------------------------------------------------------------------

bool ManagedObjectContext::save(ErrorInfo* error) {
  processPendingChanges();
  if (!hasChanges()) return true;
  if (readOnly_) {
    fill(error, makeError(kPersistentStoreSaveError, "The settings file was opened read-only."));
    return false;
  }
  if (damaged_) {
    fill(error, makeError(kPersistentStoreSaveError, "The settings file is damaged; it is not written."));
    return false;
  }
  return writeChanges(error);
}

bool ManagedObjectContext::writeChanges(ErrorInfo* error) {
  // A new store is built beside its name and renamed into place, so a save killed midway never
  // leaves a half-made store (or its hot journal) where readers look.
  const bool creating = schemaMissing_;
  std::string building;
  if (creating) {
    if (!beginNewFile(&building, error)) return false;
  } else if (!db_.isOpen()) {
    if (!db_.open(path_, sqlite::Database::Mode::ReadWrite)) {
      fill(error, storeError(path_, true, db_, kPersistentStoreSaveError, "The settings file cannot be opened."));
      return false;
    }
    db_.setBusyTimeout(1000);
  }
  db_.exec("PRAGMA synchronous=FULL");
  auto fail = [&](const char* text) {
    ErrorInfo e = storeError(path_, true, db_, kPersistentStoreSaveError, text);
    db_.exec("ROLLBACK");
    if (creating) {
      db_.close();
      ::unlink(building.c_str());
      ::unlink((building + "-journal").c_str());
    }
    fill(error, std::move(e));
    return false;
  };
  int stepNo = 0;
  auto hook = [&] {
    if (saveHook_) saveHook_(stepNo);
    ++stepNo;
  };
  if (!db_.exec("BEGIN IMMEDIATE")) return fail("The settings file cannot be written.");
  hook();
  if (schemaMissing_) {
    for (const EntityDesc& e : model_->entities)
      if (!db_.exec(createTableSql(e))) return fail("The settings file cannot be written.");
    if (!db_.exec("PRAGMA application_id = " + std::to_string(kStoreApplicationID)) ||
        !db_.exec("PRAGMA user_version = " + std::to_string(model_->version)))
      return fail("The settings file cannot be written.");
  }

  std::vector<ManagedObject*> dirty = dirtyRecords();
  std::map<ManagedObject*, int64_t> newPk;
  auto rowIdOf = [&](ManagedObject* o) -> std::optional<int64_t> {
    if (!o || !o->registered_) return std::nullopt;
    if (o->stored_) return o->pk_;
    auto it = newPk.find(o);
    if (it == newPk.end()) return std::nullopt;
    return it->second;
  };

  for (EntityKind kind : kSaveOrder) {
    const EntityDesc& e = model_->entity(kind);
    std::vector<ManagedObject*> inserts, updates;
    for (ManagedObject* o : dirty) {
      if (o->entityKind() != kind || o->deleted_) continue;
      (o->stored_ ? updates : inserts).push_back(o);
    }
    // Keep rows in the order the records were made.
    auto byAge = [](ManagedObject* a, ManagedObject* b) { return a->seq_ < b->seq_; };
    std::sort(inserts.begin(), inserts.end(), byAge);
    const rowmap::RowLayout layout = rowmap::rowLayout(e);
    auto bindRow = [&](sqlite::Statement& s, ManagedObject* o) {
      std::vector<std::optional<int64_t>> links;
      for (size_t r : layout.toOneRelationships) links.push_back(rowIdOf(o->toOne_[r]));
      return rowmap::bindRow(s, e, layout, o->values_, links);
    };
    if (!inserts.empty()) {
      sqlite::Statement s = db_.prepare(rowmap::insertSql(e, layout));
      if (!s.valid()) return fail("The settings file cannot be written.");
      for (ManagedObject* o : inserts) {
        if (!bindRow(s, o) || s.step() != sqlite::Statement::Step::Done) return fail("The settings file cannot be written.");
        newPk[o] = db_.lastInsertRowid();
        s.reset();
        hook();
      }
    }
    if (!updates.empty()) {
      sqlite::Statement s = db_.prepare(rowmap::updateSql(e, layout, kPkColumn));
      if (!s.valid()) return fail("The settings file cannot be written.");
      for (ManagedObject* o : updates) {
        if (!bindRow(s, o) || !s.bindInt(static_cast<int>(layout.columns.size() + 1), o->pk_) ||
            s.step() != sqlite::Statement::Step::Done)
          return fail("The settings file cannot be written.");
        s.reset();
        hook();
      }
    }
  }
  for (ManagedObject* o : deletedStored_) {
    sqlite::Statement s = db_.prepare("DELETE FROM " + sqlite::quoteIdentifier(o->entityName()) + " WHERE " +
                                      sqlite::quoteIdentifier(kPkColumn) + " = ?");
    if (!s.valid() || !s.bindInt(1, o->pk_) || s.step() != sqlite::Statement::Step::Done)
      return fail("The settings file cannot be written.");
    hook();
  }
  if (!db_.exec("COMMIT")) return fail("The settings file cannot be written.");
  if (creating && !installNewFile(building, error)) return false;

  // The file holds the changes now; make the records say so.
  for (auto& [o, pk] : newPk) {
    o->pk_ = pk;
    o->stored_ = true;
    byPk_[ix(o->entityKind())][pk] = o;
  }
  for (ManagedObject* o : deletedStored_) {
    byPk_[ix(o->entityKind())].erase(o->pk_);
    o->deleted_ = false;
    o->stored_ = false;
    unregister(o);
  }
  deletedStored_.clear();
  for (ManagedObject* o : touched_) {
    if (!o->registered_) continue;
    o->committed_ = o->values_;
    o->committedToOne_ = o->toOne_;
    std::fill(o->committedToMany_.begin(), o->committedToMany_.end(), std::nullopt);
  }
  touched_.clear();
  if (schemaMissing_) {
    schemaMissing_ = false;
    for (const EntityDesc& e : model_->entities) columns_[ix(e.kind)].exists = true;
  }
  fileVersion_ = model_->version;
  return true;
}

bool ManagedObjectContext::beginNewFile(std::string* building, ErrorInfo* error) {
  db_.close();
  const std::string folder = folderOf(path_);
  const std::string prefix = buildingPrefix(path_);
  // Leftovers of creations killed before their rename; only the writer holding the lock may
  // clear them, another one could be building right now.
  if (lockFd_ >= 0) {
    if (DIR* dir = ::opendir(folder.c_str())) {
      while (dirent* e = ::readdir(dir))
        if (std::strncmp(e->d_name, prefix.c_str(), prefix.size()) == 0)
          ::unlinkat(::dirfd(dir), e->d_name, 0);
      ::closedir(dir);
    }
  }
  std::string name = folder + "/" + prefix + "XXXXXX";
  std::vector<char> buf(name.begin(), name.end());
  buf.push_back('\0');
  int fd = ::mkstemp(buf.data());
  if (fd < 0) {
    int e = errno;
    if (auto denied = e == EACCES ? permissionError(path_, true) : std::nullopt) {
      fill(error, *denied);
    } else {
      fill(error, makeError(kPersistentStoreSaveError,
                            "The settings file " + path_ + " cannot be created: " + std::strerror(e) + "."));
    }
    return false;
  }
  ::fchmod(fd, 0644);
  ::close(fd);
  *building = buf.data();
  if (!db_.open(*building, sqlite::Database::Mode::ReadWrite)) {
    fill(error, makeError(kPersistentStoreSaveError, "The settings file cannot be created.", &db_));
    ::unlink(building->c_str());
    return false;
  }
  db_.setBusyTimeout(1000);
  return true;
}

bool ManagedObjectContext::installNewFile(const std::string& building, ErrorInfo* error) {
  auto fail = [&](const std::string& text) {
    ErrorInfo e = makeError(kPersistentStoreSaveError, text, &db_);
    db_.close();
    ::unlink(building.c_str());
    ::unlink((building + "-journal").c_str());
    ::unlink((building + "-wal").c_str());
    ::unlink((building + "-shm").c_str());
    fill(error, std::move(e));
    return false;
  };
  // Readers never wait for the writer and the writer never waits for readers.
  sqlite::Statement mode = db_.prepare("PRAGMA journal_mode=WAL");
  if (!mode.valid() || mode.step() != sqlite::Statement::Step::Row || mode.columnText(0) != "wal")
    return fail("The settings file cannot be written.");
  mode = sqlite::Statement();
  // Closing the only connection checkpoints the log into the file and removes it; what is left
  // must be the whole store, since the log does not travel with the rename.
  db_.close();
  struct stat st {};
  if (::stat((building + "-wal").c_str(), &st) == 0 && st.st_size > 0)
    return fail("The settings file cannot be written.");
  ::unlink((building + "-shm").c_str());
  if (saveHook_) saveHook_(kStepBeforeInstall);
  if (!fsyncPath(building, O_RDONLY)) return fail("The settings file cannot be written.");
  // Journals of an earlier store at this name would be played into the new one.
  for (const char* suffix : {"-journal", "-wal", "-shm"}) ::unlink((path_ + suffix).c_str());
  if (::rename(building.c_str(), path_.c_str()) != 0) {
    int e = errno;
    return fail("The settings file " + path_ + " cannot be put in place: " + std::strerror(e) + ".");
  }
  fsyncPath(folderOf(path_), O_RDONLY | O_DIRECTORY);
  if (db_.open(path_, sqlite::Database::Mode::ReadWrite)) db_.setBusyTimeout(1000);
  // Without the connection the store is saved all the same; the next save reopens it.
  return true;
}

bool ManagedObjectContext::checkIntegrity(std::string* problem) {
  if (!db_.isOpen()) return true;
  sqlite::Statement s = db_.prepare("PRAGMA quick_check");
  std::string first;
  if (!s.valid()) {
    first = db_.error();
  } else {
    for (;;) {
      auto r = s.step();
      if (r == sqlite::Statement::Step::Done) break;
      if (r == sqlite::Statement::Step::Error) {
        first = db_.error();
        break;
      }
      std::string text(s.columnText(0));
      if (text == "ok" || !first.empty()) continue;
      // The report is lines under a "*** in database main ***" heading: keep the first finding.
      size_t at = 0;
      while (first.empty() && at < text.size()) {
        size_t end = std::min(text.find('\n', at), text.size());
        std::string line = text.substr(at, end - at);
        if (!line.empty() && line.rfind("***", 0) != 0) first = line;
        at = end + 1;
      }
      if (first.empty()) first = "unknown damage";
    }
  }
  if (first.empty()) return true;
  if (problem) *problem = "The settings file is damaged (" + first + ").";
  return false;
}

// --- Notifications and undo -----------------------------------------------------------------

void ManagedObjectContext::processPendingChanges() {
  if (notifying_) return;
  ObjectsDidChange n;
  std::set<ManagedObject*> insertedNow;
  for (ManagedObject* o : passInserted_) {
    if (insertedNow.count(o)) continue;
    insertedNow.insert(o);
    if (o->registered_ && !o->deleted_) n.inserted.push_back(o);
  }
  std::set<ManagedObject*> seen;
  for (ManagedObject* o : passDeleted_) {
    if (!seen.insert(o).second) continue;
    bool goneNow = o->deleted_ || !o->registered_;
    // A record made and dropped within one pass was never seen by anyone.
    bool madeThisPass = insertedNow.count(o) && !o->stored_;
    if (goneNow && !madeThisPass) n.deleted.push_back(o);
  }
  for (ManagedObject* o : passUpdated_) {
    if (o->passKeys_.empty() || !o->registered_ || o->deleted_) continue;
    if (std::find(n.inserted.begin(), n.inserted.end(), o) != n.inserted.end()) continue;
    n.updated.push_back(o);
    n.changedKeys[o] = std::vector<std::string>(o->passKeys_.begin(), o->passKeys_.end());
  }
  for (ManagedObject* o : passUpdated_) o->passKeys_.clear();
  for (ManagedObject* o : passInserted_) o->passKeys_.clear();
  passInserted_.clear();
  passDeleted_.clear();
  passUpdated_.clear();
  if (n.inserted.empty() && n.updated.empty() && n.deleted.empty()) return;
  notifying_ = true;
  auto copy = observers_;
  for (auto& [t, fn] : copy)
    if (observers_.count(t)) fn(n);
  notifying_ = false;
}

ManagedObjectContext::Token ManagedObjectContext::addObjectsDidChangeObserver(Observer o) {
  Token t = nextToken_++;
  observers_[t] = std::move(o);
  return t;
}

void ManagedObjectContext::removeObjectsDidChangeObserver(Token t) { observers_.erase(t); }

void ManagedObjectContext::undo() {
  if (!undo_) return;
  processPendingChanges();
  undo_->undo();
}

void ManagedObjectContext::redo() {
  if (!undo_) return;
  processPendingChanges();
  undo_->redo();
}

}  // namespace vl

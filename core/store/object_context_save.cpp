// ManagedObjectContext: saving changes atomically, creating a new store beside its name, integrity checks.
#include "core/store/object_context.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "core/store/object_context_support.h"
#include "core/store/row_mapping.h"

namespace vl {

using namespace objctx;

namespace {

// Parents before children, so a new child can refer to its new parent's row id.
constexpr EntityKind kSaveOrder[] = {EntityKind::Device, EntityKind::Application, EntityKind::CursorSpeed,
                                     EntityKind::Action, EntityKind::UserInfo};

bool fsyncPath(const std::string& path, int flags) {
  int fd = ::open(path.c_str(), flags | O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = ::fsync(fd) == 0;
  ::close(fd);
  return ok;
}

// Temporary files of a new store are hidden, so the store search never picks one.
std::string buildingPrefix(const std::string& path) { return "." + baseOf(path) + ".new-"; }

}  // namespace

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

Status ManagedObjectContext::checkIntegrity() {
  if (!db_.isOpen()) return Status::success();
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
  if (first.empty()) return Status::success();
  return Status::failure(kFileReadCorruptFileError, "The settings file is damaged (" + first + ").");
}

}  // namespace vl

// ManagedObjectContext: one process's open settings store. Records of an entity are read from
// the file the first time the entity is needed; a read-only context reads from one snapshot
// taken at open. Saves are atomic, undo is grouped per run-loop pass, and changes are announced
// at the end of each pass.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/errors/error_stack.h"
#include "core/store/managed_object.h"
#include "core/store/record_ports.h"
#include "core/store/sqlite_db.h"
#include "core/store/store_model.h"
#include "core/store/undo_manager.h"
#include "platform/api/alerts.h"
#include "platform/api/status.h"

namespace vl {

class RunLoop;

// Error domain and codes of store failures, as the platform's persistence reports them.
inline constexpr const char* kCocoaErrorDomain = "NSCocoaErrorDomain";
inline constexpr const char* kSQLiteErrorDomain = "NSSQLiteErrorDomain";
inline constexpr int64_t kFileReadCorruptFileError = 259;
inline constexpr int64_t kFileWriteNoPermissionError = 513;
inline constexpr int64_t kPersistentStoreIncompatibleVersionHashError = 134100;
inline constexpr int64_t kPersistentStoreSaveError = 134030;
inline constexpr int64_t kPersistentStoreOpenError = 134080;
inline constexpr int64_t kPersistentStoreInUseError = 134081;  // another writer holds the store
inline constexpr int64_t kPersistentStoreTimeoutError = 134090;  // another program's transaction outlasted the wait
inline constexpr int64_t kFileReadNoPermissionError = 257;

// Marks a file as a settings store ("Dvst"), so that a foreign database is not taken for one.
inline constexpr int32_t kStoreApplicationID = 0x44767374;

// What the record classes take from the program that opened the store: the bundle whose
// identifier and strings tables they use (range errors carry its identifier as domain), and
// the acceleration data a device shows when its service carries none. Values the program owns
// and hands in when it opens the store; a context without them has records that name no domain
// and read a service without acceleration data as not connected.
struct RecordSettings {
  BundleInfo bundle;
  std::optional<pl::Value> defaultAcclTable;   // data
  std::optional<pl::Value> defaultAcclCurves;  // array
};

struct ObjectsDidChange {
  std::vector<ManagedObject*> inserted;
  std::vector<ManagedObject*> updated;
  std::vector<ManagedObject*> deleted;
  // For each updated record, the keys that changed during the pass.
  std::map<const ManagedObject*, std::vector<std::string>> changedKeys;

  bool changed(const ManagedObject* o, std::string_view key) const;
};

class ManagedObjectContext {
 public:
  using Observer = std::function<void(const ObjectsDidChange&)>;
  using Token = uint64_t;

  struct Options {
    bool readOnly = false;
    const StoreModel* model = nullptr;  // null: the current model
    RecordPorts ports;                  // what the records reach the system through
    // Where the records push their failures; null: the context keeps a stack of its own, for
    // programs that only read a store and report nothing.
    ErrorStack* errors = nullptr;
    RecordSettings records;
    RunLoop* runLoop = nullptr;         // ends each pass; null: only processPendingChanges() does
    // How long a writer waits for another writer to finish before refusing. Writers hold the
    // store for one open-change-save, so a short wait lets concurrent ones take turns.
    std::chrono::milliseconds writerWait = std::chrono::milliseconds(5000);
  };

  // Opens the store at path. A missing file opens as an empty store (written by the first
  // save). Null and *error filled when the file is not a store, is damaged (a file cut to
  // nothing included), was written by a newer model, or (read-write) another writer has held
  // it for longer than options.writerWait.
  static std::unique_ptr<ManagedObjectContext> open(const std::string& path, const Options& options,
                                                    ErrorInfo* error);

  ~ManagedObjectContext();
  ManagedObjectContext(const ManagedObjectContext&) = delete;
  ManagedObjectContext& operator=(const ManagedObjectContext&) = delete;

  const std::string& url() const { return path_; }
  bool isReadOnly() const { return readOnly_; }
  const StoreModel& model() const { return *model_; }
  // The ports the program that opened the store gave its records.
  const RecordPorts& recordPorts() const { return ports_; }
  const RecordSettings& recordSettings() const { return records_; }
  // The program's error stack, where the records push their failures.
  ErrorStack& errorStack() const { return *errors_; }
  // The model version found in the file at open (0 for a new store).
  int32_t fileModelVersion() const { return fileVersion_; }

  // Records.
  ManagedObject* insertNewObject(EntityKind kind);
  // The live (not deleted) records of an entity: stored ones in row order, then new ones in
  // insertion order, filtered by the predicate when one is given.
  std::vector<ManagedObject*> fetch(EntityKind kind,
                                    const std::function<bool(const ManagedObject&)>& predicate = {});
  // Deletes the record; relationships pointing at it are cleared (nullify), its children stay.
  void deleteObject(ManagedObject* obj);

  bool hasChanges() const;
  std::vector<ManagedObject*> insertedObjects() const;
  std::vector<ManagedObject*> updatedObjects() const;
  std::vector<ManagedObject*> deletedObjects() const;

  // Writes every change in one transaction; without changes the file is not touched. False and
  // *error filled when the context is read-only or the write fails; the file then holds what it
  // held before and the context keeps its unsaved changes.
  bool save(ErrorInfo* error);

  // Sends the pending objects-did-change notification now and closes the undo group of the pass.
  // Runs by itself at the end of every run-loop pass.
  void processPendingChanges();
  Token addObjectsDidChangeObserver(Observer o);
  void removeObjectsDidChangeObserver(Token t);

  // Read-write contexts have an undo manager; read-only ones none unless one is given.
  UndoManager* undoManager() { return undo_.get(); }
  void setUndoManager(std::unique_ptr<UndoManager> u) { undo_ = std::move(u); }
  void undo();
  void redo();

  // Something in the file could not be read after the open (a damaged page): the records read
  // are kept, but the context refuses to save so that nothing is written over the damage.
  bool isDamaged() const { return damaged_; }

  // Runs SQLite's own consistency check over the whole file. Fails (kFileReadCorruptFileError,
  // the finding in the detail) when the file is damaged (a truncated or overwritten page), so
  // that a damaged store is not shown or exported as if it held fewer records. A store not yet
  // written passes.
  Status checkIntegrity();

  // Test seam: called with a step number between the statements of a save, and with
  // kStepBeforeInstall when a new store file is complete beside its name but not yet in place.
  static constexpr int kStepBeforeInstall = -1;
  void setSaveStepHook(std::function<void(int step)> hook) { saveHook_ = std::move(hook); }

 private:
  friend class ManagedObject;
  ManagedObjectContext() = default;

  struct Columns {
    bool known = false;
    bool exists = false;
    std::vector<std::string> names;  // columns present in the file
  };

  bool inspect(ErrorInfo* error, bool* needsMigration);
  bool migrate(ErrorInfo* error);
  void ensureLoaded(EntityKind kind);
  bool loadEntity(EntityKind kind);
  void registerUndo(std::function<void()> fn);
  void noteInserted(ManagedObject* o);
  void noteDeleted(ManagedObject* o);
  void noteUpdated(ManagedObject* o);
  void unregister(ManagedObject* o);
  void revive(ManagedObject* o);
  void undelete(ManagedObject* o, bool wasRegistered);
  bool writeChanges(ErrorInfo* error);
  bool beginNewFile(std::string* building, ErrorInfo* error);
  bool installNewFile(const std::string& building, ErrorInfo* error);
  pl::Value readColumn(const sqlite::Statement& s, int i, AttrType t) const;
  std::vector<ManagedObject*> dirtyRecords() const;

  std::string path_;
  bool readOnly_ = false;
  bool damaged_ = false;
  bool schemaMissing_ = false;  // no tables yet: the first save creates them
  const StoreModel* model_ = nullptr;
  int32_t fileVersion_ = 0;
  sqlite::Database db_;
  bool snapshotOpen_ = false;
  int lockFd_ = -1;
  RecordPorts ports_;
  std::unique_ptr<ErrorStack> ownErrors_;  // when the opener gave none
  ErrorStack* errors_ = nullptr;
  RecordSettings records_;
  RunLoop* runLoop_ = nullptr;
  uint64_t passObserver_ = 0;
  std::unique_ptr<UndoManager> undo_;
  std::function<void(int)> saveHook_;

  std::vector<std::unique_ptr<ManagedObject>> owned_;
  std::array<bool, kEntityCount> loaded_{};
  std::array<Columns, kEntityCount> columns_{};
  std::array<std::vector<ManagedObject*>, kEntityCount> live_{};
  std::array<std::map<int64_t, ManagedObject*>, kEntityCount> byPk_{};
  std::set<ManagedObject*> touched_;  // records that may have unsaved changes
  std::vector<ManagedObject*> deletedStored_;

  // Pending notification state.
  std::vector<ManagedObject*> passInserted_;
  std::vector<ManagedObject*> passDeleted_;
  std::set<ManagedObject*> passUpdated_;
  bool notifying_ = false;
  Token nextToken_ = 1;
  std::map<Token, Observer> observers_;
};

// Typed helpers over the generic context.
template <class T>
std::vector<T*> fetchAs(ManagedObjectContext* ctx, EntityKind kind,
                        const std::function<bool(const T&)>& predicate = {}) {
  std::vector<T*> out;
  if (!ctx) return out;
  for (ManagedObject* o : ctx->fetch(kind)) {
    T* t = static_cast<T*>(o);
    if (!predicate || predicate(*t)) out.push_back(t);
  }
  return out;
}

}  // namespace vl

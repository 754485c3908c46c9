// Shared by the object context's files: error texts, path helpers and the table layout.
#include "core/store/object_context_support.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "core/plist/codec.h"

namespace vl::objctx {

namespace {

bool deniedAccess(const std::string& path, int mode) { return ::access(path.c_str(), mode) != 0 && errno == EACCES; }

}  // namespace

ErrorInfo makeError(int64_t code, const std::string& text, const sqlite::Database* db) {
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

}  // namespace vl::objctx

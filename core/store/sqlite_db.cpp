// The SQLite wrapper's implementation.
#include "core/store/sqlite_db.h"

#include <sqlite3.h>

#include <utility>

namespace vl::sqlite {

Database::~Database() { close(); }

Database::Database(Database&& o) noexcept
    : db_(std::exchange(o.db_, nullptr)), code_(o.code_), message_(std::move(o.message_)) {}

Database& Database::operator=(Database&& o) noexcept {
  if (this != &o) {
    close();
    db_ = std::exchange(o.db_, nullptr);
    code_ = o.code_;
    message_ = std::move(o.message_);
  }
  return *this;
}

bool Database::failedBusy() const {
  int primary = code_ & 0xff;
  return primary == SQLITE_BUSY || primary == SQLITE_LOCKED;
}

bool Database::failedReadOnlyRollback() const { return code_ == SQLITE_READONLY_ROLLBACK; }

bool Database::open(const std::string& path, Mode mode) {
  close();
  int flags = SQLITE_OPEN_NOMUTEX;
  switch (mode) {
    case Mode::ReadOnly: flags |= SQLITE_OPEN_READONLY; break;
    case Mode::ReadWrite: flags |= SQLITE_OPEN_READWRITE; break;
    case Mode::ReadWriteCreate: flags |= SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE; break;
  }
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &db, flags, nullptr);
  if (rc != SQLITE_OK) {
    setError(rc, db ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
    sqlite3_close_v2(db);
    return false;
  }
  db_ = db;
  // Extended codes tell a corrupt file from a busy one.
  sqlite3_extended_result_codes(db_, 1);
  code_ = 0;
  message_.clear();
  return true;
}

void Database::close() {
  if (db_) {
    sqlite3_close_v2(db_);
    db_ = nullptr;
  }
}

void Database::recordError(int code) { setError(code, db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(code)); }

bool Database::exec(std::string_view sql) {
  if (!db_) return false;
  std::string text(sql);
  char* msg = nullptr;
  int rc = sqlite3_exec(db_, text.c_str(), nullptr, nullptr, &msg);
  if (rc != SQLITE_OK) {
    setError(rc, msg ? msg : sqlite3_errstr(rc));
    sqlite3_free(msg);
    return false;
  }
  return true;
}

Statement Database::prepare(std::string_view sql) {
  if (!db_) return {};
  sqlite3_stmt* s = nullptr;
  int rc = sqlite3_prepare_v2(db_, sql.data(), static_cast<int>(sql.size()), &s, nullptr);
  if (rc != SQLITE_OK) {
    recordError(rc);
    sqlite3_finalize(s);
    return {};
  }
  return Statement(this, s);
}

std::optional<int64_t> Database::queryInt(std::string_view sql) {
  Statement s = prepare(sql);
  if (!s.valid()) return std::nullopt;
  if (s.step() != Statement::Step::Row) return std::nullopt;
  return s.columnInt(0);
}

void Database::setBusyTimeout(int ms) {
  if (db_) sqlite3_busy_timeout(db_, ms);
}

int64_t Database::lastInsertRowid() const { return db_ ? sqlite3_last_insert_rowid(db_) : 0; }

Statement::~Statement() {
  if (stmt_) sqlite3_finalize(stmt_);
}

Statement::Statement(Statement&& o) noexcept : db_(o.db_), stmt_(std::exchange(o.stmt_, nullptr)) {}

Statement& Statement::operator=(Statement&& o) noexcept {
  if (this != &o) {
    if (stmt_) sqlite3_finalize(stmt_);
    db_ = o.db_;
    stmt_ = std::exchange(o.stmt_, nullptr);
  }
  return *this;
}

bool Statement::bindNull(int i) { return stmt_ && sqlite3_bind_null(stmt_, i) == SQLITE_OK; }
bool Statement::bindInt(int i, int64_t v) { return stmt_ && sqlite3_bind_int64(stmt_, i, v) == SQLITE_OK; }
bool Statement::bindDouble(int i, double v) { return stmt_ && sqlite3_bind_double(stmt_, i, v) == SQLITE_OK; }
bool Statement::bindText(int i, std::string_view v) {
  return stmt_ && sqlite3_bind_text64(stmt_, i, v.data(), v.size(), SQLITE_TRANSIENT, SQLITE_UTF8) == SQLITE_OK;
}
bool Statement::bindBlob(int i, std::span<const uint8_t> v) {
  // A zero-length blob must still be a blob, not NULL: SQLite takes a null pointer as NULL.
  static const uint8_t empty = 0;
  return stmt_ && sqlite3_bind_blob64(stmt_, i, v.empty() ? &empty : v.data(), v.size(), SQLITE_TRANSIENT) ==
                      SQLITE_OK;
}

Statement::Step Statement::step() {
  if (!stmt_) return Step::Error;
  int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) return Step::Row;
  if (rc == SQLITE_DONE) return Step::Done;
  if (db_) db_->recordError(rc);
  return Step::Error;
}

bool Statement::reset() {
  if (!stmt_) return false;
  sqlite3_reset(stmt_);
  return sqlite3_clear_bindings(stmt_) == SQLITE_OK;
}

int Statement::columnCount() const { return stmt_ ? sqlite3_column_count(stmt_) : 0; }
Statement::ColumnType Statement::columnType(int i) const {
  switch (stmt_ ? sqlite3_column_type(stmt_, i) : SQLITE_NULL) {
    case SQLITE_INTEGER: return ColumnType::Integer;
    case SQLITE_FLOAT: return ColumnType::Float;
    case SQLITE_TEXT: return ColumnType::Text;
    case SQLITE_BLOB: return ColumnType::Blob;
    default: return ColumnType::Null;
  }
}
int64_t Statement::columnInt(int i) const { return stmt_ ? sqlite3_column_int64(stmt_, i) : 0; }
double Statement::columnDouble(int i) const { return stmt_ ? sqlite3_column_double(stmt_, i) : 0; }

std::string_view Statement::columnText(int i) const {
  if (!stmt_) return {};
  const unsigned char* p = sqlite3_column_text(stmt_, i);
  int n = sqlite3_column_bytes(stmt_, i);
  if (!p || n <= 0) return {};
  return {reinterpret_cast<const char*>(p), static_cast<size_t>(n)};
}

std::span<const uint8_t> Statement::columnBlob(int i) const {
  if (!stmt_) return {};
  const void* p = sqlite3_column_blob(stmt_, i);
  int n = sqlite3_column_bytes(stmt_, i);
  if (!p || n <= 0) return {};
  return {static_cast<const uint8_t*>(p), static_cast<size_t>(n)};
}

std::string quoteIdentifier(std::string_view name) {
  std::string out = "\"";
  for (char c : name) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

}  // namespace vl::sqlite

// A thin RAII wrapper over the SQLite C API: one connection, prepared statements, and the few
// helpers the store needs (exec, pragmas, transactions). Nothing here throws.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace vl::sqlite {

class Statement;

class Database {
 public:
  enum class Mode { ReadOnly, ReadWrite, ReadWriteCreate };

  Database() = default;
  ~Database();
  Database(Database&& o) noexcept;
  Database& operator=(Database&& o) noexcept;
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  // Opens path; on failure the object stays closed and error() says why.
  bool open(const std::string& path, Mode mode);
  void close();
  bool isOpen() const { return db_ != nullptr; }

  // Runs statements without results; false on the first failure.
  bool exec(std::string_view sql);
  Statement prepare(std::string_view sql);
  // A pragma or query whose first column of the first row is an integer.
  std::optional<int64_t> queryInt(std::string_view sql);
  int64_t lastInsertRowid() const;
  // How long a statement waits for a lock held by another connection (WAL recovery, checkpoints).
  void setBusyTimeout(int milliseconds);

  // The result code and text of the last failure on this connection.
  int errorCode() const { return code_; }
  const std::string& error() const { return message_; }
  // The last failure was another connection holding a lock past the busy timeout.
  bool failedBusy() const;
  // A read-only connection met a hot journal it may not roll back.
  bool failedReadOnlyRollback() const;
  void setError(int code, std::string message) {
    code_ = code;
    message_ = std::move(message);
  }
  void recordError(int code);

 private:
  sqlite3* db_ = nullptr;
  int code_ = 0;
  std::string message_;
};

class Statement {
 public:
  Statement() = default;
  Statement(Database* db, sqlite3_stmt* s) : db_(db), stmt_(s) {}
  ~Statement();
  Statement(Statement&& o) noexcept;
  Statement& operator=(Statement&& o) noexcept;
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  bool valid() const { return stmt_ != nullptr; }

  // Parameters are 1-based as in SQLite.
  bool bindNull(int i);
  bool bindInt(int i, int64_t v);
  bool bindDouble(int i, double v);
  bool bindText(int i, std::string_view v);
  bool bindBlob(int i, std::span<const uint8_t> v);

  // Row: another row is ready; Done: finished; Error: failed (the database records why).
  enum class Step { Row, Done, Error };
  Step step();
  bool reset();

  // Columns are 0-based.
  int columnCount() const;
  // The storage class of the column's value in the current row.
  enum class ColumnType { Null, Integer, Float, Text, Blob };
  ColumnType columnType(int i) const;
  int64_t columnInt(int i) const;
  double columnDouble(int i) const;
  std::string_view columnText(int i) const;
  std::span<const uint8_t> columnBlob(int i) const;

 private:
  Database* db_ = nullptr;
  sqlite3_stmt* stmt_ = nullptr;
};

// Quotes an identifier for SQL ("index" is a keyword, so every name is quoted).
std::string quoteIdentifier(std::string_view name);

}  // namespace vl::sqlite

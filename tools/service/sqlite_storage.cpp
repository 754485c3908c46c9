// The SQLite backend of the service's storage: one file in WAL mode, prepared statements only,
// and a table of setting counts kept by triggers so that a ranking reads a few index entries
// per setting instead of every stored row.
#include <sqlite3.h>

#include <climits>
#include <filesystem>
#include <mutex>
#include <vector>

#include "tools/service/commit_groups.h"
#include "tools/service/storage.h"

namespace svc {
namespace {

constexpr int kSchemaVersion = 2;

// uploads: one row per device model and machine (the key), the newest upload's values.
// setting_counts: how many uploads rows hold each (model, system version, acc, sen); the
// triggers keep it equal to a GROUP BY over uploads, so rankings cost the number of distinct
// settings of a model, not the number of machines that shared one. Its key puts the setting
// before the system version, so a ranking groups in key order (measured 2.5 times faster at a
// model with half a million rows than version first, which needs a sort to group).
const char* kTables = R"sql(
CREATE TABLE uploads(
  vid INTEGER NOT NULL, pid INTEGER NOT NULL, mid INTEGER NOT NULL, transport TEXT NOT NULL,
  machine TEXT NOT NULL, device_name TEXT NOT NULL, os_version INTEGER NOT NULL,
  app TEXT NOT NULL, acc INTEGER NOT NULL, sen INTEGER NOT NULL, received_at INTEGER NOT NULL,
  PRIMARY KEY(vid, pid, mid, transport, machine)) WITHOUT ROWID;
CREATE TABLE setting_counts(
  vid INTEGER NOT NULL, pid INTEGER NOT NULL, mid INTEGER NOT NULL, transport TEXT NOT NULL,
  os_version INTEGER NOT NULL, acc INTEGER NOT NULL, sen INTEGER NOT NULL, qty INTEGER NOT NULL,
  PRIMARY KEY(vid, pid, mid, transport, acc, sen, os_version)) WITHOUT ROWID;
)sql";

// The count rows are made with an INSERT that cannot conflict (it inserts only where no row is),
// never with INSERT OR IGNORE: a trigger's own conflict clause gives way to the outer
// statement's, and under the upsert that stores an upload an ignored conflict became an abort,
// so a machine moving to a setting another machine already held lost its upload.
#define VL_COUNT_KEY(r) \
  "vid = " #r ".vid AND pid = " #r ".pid AND mid = " #r ".mid AND transport = " #r ".transport AND os_version = " #r \
  ".os_version AND acc = " #r ".acc AND sen = " #r ".sen"
#define VL_COUNT_IN(r)                                                                                             \
  "INSERT INTO setting_counts SELECT " #r ".vid, " #r ".pid, " #r ".mid, " #r ".transport, " #r ".os_version, " #r \
  ".acc, " #r ".sen, 0 WHERE NOT EXISTS (SELECT 1 FROM setting_counts WHERE " VL_COUNT_KEY(r) ");\n"               \
  "UPDATE setting_counts SET qty = qty + 1 WHERE " VL_COUNT_KEY(r) ";\n"
#define VL_COUNT_OUT(r)                                                     \
  "UPDATE setting_counts SET qty = qty - 1 WHERE " VL_COUNT_KEY(r) ";\n"     \
  "DELETE FROM setting_counts WHERE qty <= 0 AND " VL_COUNT_KEY(r) ";\n"
const char* kTriggers =
    "DROP TRIGGER IF EXISTS uploads_counted_in; DROP TRIGGER IF EXISTS uploads_counted_out;\n"
    "DROP TRIGGER IF EXISTS uploads_counted_moved;\n"
    "CREATE TRIGGER uploads_counted_in AFTER INSERT ON uploads BEGIN\n" VL_COUNT_IN(new) "END;\n"
    "CREATE TRIGGER uploads_counted_out AFTER DELETE ON uploads BEGIN\n" VL_COUNT_OUT(old) "END;\n"
    "CREATE TRIGGER uploads_counted_moved AFTER UPDATE OF os_version, acc, sen ON uploads\n"
    "  WHEN old.os_version <> new.os_version OR old.acc <> new.acc OR old.sen <> new.sen BEGIN\n" VL_COUNT_OUT(old)
        VL_COUNT_IN(new) "END;\n";
#undef VL_COUNT_KEY
#undef VL_COUNT_IN
#undef VL_COUNT_OUT

// Counts made again from the uploads (a database from before the counts were kept right).
const char* kRecount =
    "DELETE FROM setting_counts; INSERT INTO setting_counts SELECT vid, pid, mid, transport, os_version, acc, sen, "
    "COUNT(*) FROM uploads GROUP BY vid, pid, mid, transport, os_version, acc, sen;";

// The write-ahead log is checkpointed by the writer itself: a passive pass past kWalPassivePages,
// and past kWalRestartPages one that waits for the readers of the moment so the log starts over
// (under a steady stream of rankings a passive pass never gets to restart it, and the log grew
// by gigabytes). The file is cut back to kWalKeepBytes when it starts over.
constexpr int kWalPassivePages = 1000;
constexpr int kWalRestartPages = 4000;
constexpr const char* kWalKeepBytes = "8388608";

const char* kUpsert =
    "INSERT INTO uploads(vid, pid, mid, transport, machine, device_name, os_version, app, acc, sen, received_at) "
    "VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11) "
    "ON CONFLICT(vid, pid, mid, transport, machine) DO UPDATE SET device_name = excluded.device_name, "
    "os_version = excluded.os_version, app = excluded.app, acc = excluded.acc, sen = excluded.sen, "
    "received_at = excluded.received_at";
const char* kRanking =
    "SELECT acc, sen, SUM(qty) AS n FROM setting_counts WHERE vid = ?1 AND pid = ?2 AND mid = ?3 AND transport = ?4 "
    "AND os_version BETWEEN ?5 AND ?6 GROUP BY acc, sen ORDER BY n DESC, acc, sen LIMIT ?7";
const char* kTotal =
    "SELECT COALESCE(SUM(qty), 0) FROM setting_counts WHERE vid = ?1 AND pid = ?2 AND mid = ?3 AND transport = ?4 "
    "AND os_version BETWEEN ?5 AND ?6";

Status sqliteError(sqlite3* db, int rc, const char* what) {
  std::string message = std::string(what) + ": " + (db ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
  bool busy = rc == SQLITE_BUSY || rc == SQLITE_LOCKED || (rc & 0xFF) == SQLITE_BUSY;
  return Status::error(busy ? StatusCode::Unavailable : StatusCode::Internal, message);
}

// One connection with its prepared statements; the pool hands each to one thread at a time.
struct Connection {
  sqlite3* db = nullptr;
  sqlite3_stmt* upsert = nullptr;
  sqlite3_stmt* ranking = nullptr;
  sqlite3_stmt* total = nullptr;
  int walPages = 0;  // frames in the write-ahead log after this connection's last commit

  ~Connection() {
    sqlite3_finalize(upsert);
    sqlite3_finalize(ranking);
    sqlite3_finalize(total);
    sqlite3_close_v2(db);
  }

  Status exec(const char* sql) {
    char* message = nullptr;
    int rc = sqlite3_exec(db, sql, nullptr, nullptr, &message);
    if (rc == SQLITE_OK) return Status::success();
    std::string text = message ? message : sqlite3_errstr(rc);
    sqlite3_free(message);
    bool busy = (rc & 0xFF) == SQLITE_BUSY || (rc & 0xFF) == SQLITE_LOCKED;
    return Status::error(busy ? StatusCode::Unavailable : StatusCode::Internal, text);
  }
};

// Binds the device model as ?1..?4.
void bindModel(sqlite3_stmt* s, const DeviceModel& m) {
  sqlite3_bind_int64(s, 1, m.vid);
  sqlite3_bind_int64(s, 2, m.pid);
  sqlite3_bind_int64(s, 3, m.mid);
  sqlite3_bind_text(s, 4, m.transport.data(), static_cast<int>(m.transport.size()), SQLITE_TRANSIENT);
}

// Ends a statement's use whatever happened, so the next use starts clean.
struct Reset {
  sqlite3_stmt* s;
  ~Reset() {
    sqlite3_reset(s);
    sqlite3_clear_bindings(s);
  }
};

class SqliteStorage final : public Storage {
 public:
  explicit SqliteStorage(std::string path) : path_(std::move(path)) {}

  Status open() {
    std::error_code ec;
    auto parent = std::filesystem::path(path_).parent_path();
    if (!parent.empty()) std::filesystem::create_directories(parent, ec);
    if (ec) return Status::error(StatusCode::Unavailable, "cannot make the folder " + parent.string() + ": " + ec.message());
    std::unique_ptr<Connection> c;
    Status st = connect(&c, true);
    if (!st.ok()) return st;
    idle_.push_back(std::move(c));
    return Status::success();
  }

  // Concurrent uploads share one transaction: the first caller to find no commit under way
  // writes every row queued by then and commits them together, the others wait for that commit
  // (each returns only once its row is committed, so an answer sent after it is true).
  Status upsertUpload(const UploadRow& row) override {
    if (auto why = checkUploadRow(row); !why.empty()) return Status::error(StatusCode::InvalidArgument, why);
    return groups_.submit(row);
  }

  Status ranking(const RankingQuery& q, RankingResult* result) override {
    if (auto why = checkRankingQuery(q); !why.empty()) return Status::error(StatusCode::InvalidArgument, why);
    Lease lease(this);
    if (!lease.status.ok()) return lease.status;
    Connection& c = *lease.c;
    RankingResult out;
    // One read transaction, so the entries and the total come from the same moment.
    if (Status st = c.exec("BEGIN"); !st.ok()) return st;
    Status st = rankingWith(c, q, &out);
    c.exec(st.ok() ? "COMMIT" : "ROLLBACK");
    if (st.ok()) *result = std::move(out);
    return st;
  }

  Status bulkInsert(std::span<const UploadRow> rows) override {
    for (const auto& row : rows) {
      if (auto why = checkUploadRow(row); !why.empty()) return Status::error(StatusCode::InvalidArgument, why);
    }
    Lease lease(this);
    if (!lease.status.ok()) return lease.status;
    Connection& c = *lease.c;
    constexpr size_t kBatch = 20000;
    for (size_t begin = 0; begin < rows.size(); begin += kBatch) {
      if (Status st = c.exec("BEGIN IMMEDIATE"); !st.ok()) return st;
      size_t end = std::min(rows.size(), begin + kBatch);
      for (size_t i = begin; i < end; ++i) {
        if (Status st = upsertWith(c, rows[i]); !st.ok()) {
          c.exec("ROLLBACK");
          return st;
        }
      }
      if (Status st = c.exec("COMMIT"); !st.ok()) {
        c.exec("ROLLBACK");
        return st;
      }
      keepWalBounded(c);
    }
    return Status::success();
  }

  Status rowCount(int64_t* count) override {
    Lease lease(this);
    if (!lease.status.ok()) return lease.status;
    sqlite3_stmt* s = nullptr;
    int rc = sqlite3_prepare_v2(lease.c->db, "SELECT COUNT(*) FROM uploads", -1, &s, nullptr);
    if (rc != SQLITE_OK) return sqliteError(lease.c->db, rc, "counting rows");
    rc = sqlite3_step(s);
    Status st = rc == SQLITE_ROW ? Status::success() : sqliteError(lease.c->db, rc, "counting rows");
    if (st.ok()) *count = sqlite3_column_int64(s, 0);
    sqlite3_finalize(s);
    return st;
  }

  Status clearAll() override {
    Lease lease(this);
    if (!lease.status.ok()) return lease.status;
    Connection& c = *lease.c;
    if (Status st = c.exec("BEGIN IMMEDIATE"); !st.ok()) return st;
    Status st = c.exec("DELETE FROM uploads; DELETE FROM setting_counts;");
    if (st.ok()) st = c.exec("COMMIT");
    if (!st.ok()) c.exec("ROLLBACK");
    return st;
  }

  std::string describe() const override { return "sqlite:" + path_; }

 private:
  // Writes a group in one transaction. Should the group fail as a whole (not for being busy),
  // each row is tried alone, so one row the database refuses does not take the others down.
  void writeGroup(const std::vector<const UploadRow*>& rows, std::vector<Status>* statuses) {
    Lease lease(this);
    if (!lease.status.ok()) {
      for (auto& st : *statuses) st = lease.status;
      return;
    }
    Connection& c = *lease.c;
    auto writeRows = [&](size_t begin, size_t end) {
      if (Status st = c.exec("BEGIN IMMEDIATE"); !st.ok()) return st;
      for (size_t i = begin; i < end; ++i) {
        if (Status st = upsertWith(c, *rows[i]); !st.ok()) {
          c.exec("ROLLBACK");
          return st;
        }
      }
      Status st = c.exec("COMMIT");
      if (!st.ok()) c.exec("ROLLBACK");
      return st;
    };
    Status st = writeRows(0, rows.size());
    if (!st.ok() && st.code != StatusCode::Unavailable && rows.size() > 1) {
      for (size_t i = 0; i < rows.size(); ++i) (*statuses)[i] = writeRows(i, i + 1);
    } else {
      for (auto& each : *statuses) each = st;
    }
    keepWalBounded(c);
  }

  void keepWalBounded(Connection& c) {
    if (c.walPages >= kWalRestartPages) {
      int log = 0, done = 0;
      if (sqlite3_wal_checkpoint_v2(c.db, nullptr, SQLITE_CHECKPOINT_RESTART, &log, &done) == SQLITE_OK) {
        c.walPages = 0;
      }
    } else if (c.walPages >= kWalPassivePages) {
      sqlite3_wal_checkpoint_v2(c.db, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
    }
  }

  struct Lease {
    SqliteStorage* owner;
    std::unique_ptr<Connection> c;
    Status status;
    explicit Lease(SqliteStorage* o) : owner(o) { status = owner->acquire(&c); }
    ~Lease() {
      if (c) owner->release(std::move(c));
    }
  };

  Status acquire(std::unique_ptr<Connection>* out) {
    {
      std::lock_guard lock(mutex_);
      if (!idle_.empty()) {
        *out = std::move(idle_.back());
        idle_.pop_back();
        return Status::success();
      }
    }
    return connect(out, false);
  }

  void release(std::unique_ptr<Connection> c) {
    std::lock_guard lock(mutex_);
    idle_.push_back(std::move(c));
  }

  Status connect(std::unique_ptr<Connection>* out, bool first) {
    auto c = std::make_unique<Connection>();
    int rc = sqlite3_open_v2(path_.c_str(), &c->db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                             nullptr);
    if (rc != SQLITE_OK) return sqliteError(c->db, rc, ("opening " + path_).c_str());
    sqlite3_busy_timeout(c->db, 5000);
    if (Status st = c->exec((std::string("PRAGMA journal_mode = WAL; PRAGMA synchronous = NORMAL; "
                                         "PRAGMA journal_size_limit = ") + kWalKeepBytes + ";").c_str());
        !st.ok()) {
      return st;
    }
    // Replaces SQLite's own automatic checkpoint: the writer checkpoints (keepWalBounded).
    sqlite3_wal_hook(
        c->db,
        [](void* self, sqlite3*, const char*, int pages) {
          static_cast<Connection*>(self)->walPages = pages;
          return SQLITE_OK;
        },
        c.get());
    if (first) {
      if (Status st = migrate(*c); !st.ok()) return st;
    }
    struct {
      const char* sql;
      sqlite3_stmt** stmt;
    } statements[] = {{kUpsert, &c->upsert}, {kRanking, &c->ranking}, {kTotal, &c->total}};
    for (auto& s : statements) {
      rc = sqlite3_prepare_v3(c->db, s.sql, -1, SQLITE_PREPARE_PERSISTENT, s.stmt, nullptr);
      if (rc != SQLITE_OK) return sqliteError(c->db, rc, "preparing statements");
    }
    *out = std::move(c);
    return Status::success();
  }

  Status migrate(Connection& c) {
    if (Status st = c.exec("BEGIN IMMEDIATE"); !st.ok()) return st;
    sqlite3_stmt* s = nullptr;
    int version = -1;
    if (sqlite3_prepare_v2(c.db, "PRAGMA user_version", -1, &s, nullptr) == SQLITE_OK && sqlite3_step(s) == SQLITE_ROW) {
      version = sqlite3_column_int(s, 0);
    }
    sqlite3_finalize(s);
    Status st;
    if (version < 0) {
      st = sqliteError(c.db, SQLITE_ERROR, "reading the schema version");
    } else if (version < kSchemaVersion) {
      if (version == 0) st = c.exec(kTables);
      if (st.ok()) st = c.exec(kTriggers);
      if (st.ok() && version > 0) st = c.exec(kRecount);
      if (st.ok()) st = c.exec(("PRAGMA user_version = " + std::to_string(kSchemaVersion)).c_str());
    } else if (version > kSchemaVersion) {
      st = Status::error(StatusCode::Internal, path_ + " has schema version " + std::to_string(version) +
                                                   ", newer than this velmora-service knows (" +
                                                   std::to_string(kSchemaVersion) + ")");
    }
    if (st.ok()) st = c.exec("COMMIT");
    if (!st.ok()) c.exec("ROLLBACK");
    return st;
  }

  Status upsertWith(Connection& c, const UploadRow& row) {
    sqlite3_stmt* s = c.upsert;
    Reset reset{s};
    bindModel(s, row.model);
    sqlite3_bind_text(s, 5, row.machine.data(), static_cast<int>(row.machine.size()), SQLITE_TRANSIENT);
    sqlite3_bind_text(s, 6, row.deviceName.data(), static_cast<int>(row.deviceName.size()), SQLITE_TRANSIENT);
    sqlite3_bind_int64(s, 7, row.osVersion);
    sqlite3_bind_text(s, 8, row.app.data(), static_cast<int>(row.app.size()), SQLITE_TRANSIENT);
    sqlite3_bind_int64(s, 9, row.accMillionths);
    sqlite3_bind_int64(s, 10, row.senMillionths);
    sqlite3_bind_int64(s, 11, row.receivedAt);
    int rc = sqlite3_step(s);
    if (rc != SQLITE_DONE) return sqliteError(c.db, rc, "storing an upload");
    return Status::success();
  }

  Status rankingWith(Connection& c, const RankingQuery& q, RankingResult* out) {
    int64_t upper = q.os1 == 0 ? INT64_MAX : q.os1;
    {
      sqlite3_stmt* s = c.ranking;
      Reset reset{s};
      bindModel(s, q.model);
      sqlite3_bind_int64(s, 5, q.os0);
      sqlite3_bind_int64(s, 6, upper);
      sqlite3_bind_int(s, 7, q.count);
      int rc;
      while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
        out->entries.push_back({sqlite3_column_int64(s, 0), sqlite3_column_int64(s, 1), sqlite3_column_int64(s, 2)});
      }
      if (rc != SQLITE_DONE) return sqliteError(c.db, rc, "reading the ranking");
    }
    sqlite3_stmt* s = c.total;
    Reset reset{s};
    bindModel(s, q.model);
    sqlite3_bind_int64(s, 5, q.os0);
    sqlite3_bind_int64(s, 6, upper);
    int rc = sqlite3_step(s);
    if (rc != SQLITE_ROW) return sqliteError(c.db, rc, "reading the total");
    out->total = sqlite3_column_int64(s, 0);
    return Status::success();
  }

  std::string path_;
  std::mutex mutex_;
  std::vector<std::unique_ptr<Connection>> idle_;

  // Concurrent uploads share one transaction, and each caller returns only once its row is
  // committed (so an answer sent after it is true).
  CommitGroups groups_{[this](const std::vector<const UploadRow*>& rows, std::vector<Status>* statuses) {
    writeGroup(rows, statuses);
  }};
};

}  // namespace

vl::Result<std::unique_ptr<Storage>> openSqliteStorage(const std::string& path) {
  auto storage = std::make_unique<SqliteStorage>(path);
  Status st = storage->open();
  if (!st.ok()) return vl::Status::failure(1, st.message);
  return std::unique_ptr<Storage>(std::move(storage));
}

}  // namespace svc

// The web service's PostgreSQL storage through libpq: prepared statements with binary
// parameters only, a pool of connections handed to one thread at a time.
#include "tools/service/postgres_storage.h"

#include "tools/service/commit_groups.h"

#include <libpq-fe.h>

#include <algorithm>
#include <charconv>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace svc {
namespace {

// Strings are stored as bytes (bytea) and compared byte for byte, as the SQLite backend does.
//
// velmora_setting_counts holds how many uploads rows share each (model, system version, acc,
// sen); triggers keep it equal to a GROUP BY over the uploads, so a ranking costs the number of
// distinct settings of a model, not the number of machines that shared one (a popular mouse
// has hundreds of thousands of rows at 1,000,000 stored). Counts that fall to 0 stay as rows
// and are left out by the ranking. When an upload moves from one setting to another, the two
// count rows are locked in key order, so two uploads moving in opposite directions cannot
// deadlock.
constexpr const char* kSchema[] = {
    "CREATE TABLE IF NOT EXISTS velmora_uploads ("
    " vid bigint NOT NULL, pid bigint NOT NULL, mid bigint NOT NULL, transport bytea NOT NULL,"
    " machine bytea NOT NULL, device_name bytea NOT NULL, os_version integer NOT NULL,"
    " app bytea NOT NULL, acc bigint NOT NULL, sen bigint NOT NULL, received_at bigint NOT NULL,"
    " PRIMARY KEY (vid, pid, mid, transport, machine))",
    "CREATE TABLE IF NOT EXISTS velmora_setting_counts ("
    " vid bigint NOT NULL, pid bigint NOT NULL, mid bigint NOT NULL, transport bytea NOT NULL,"
    " os_version integer NOT NULL, acc bigint NOT NULL, sen bigint NOT NULL, qty bigint NOT NULL,"
    " PRIMARY KEY (vid, pid, mid, transport, os_version, acc, sen))",
    R"sql(CREATE OR REPLACE FUNCTION velmora_count_setting(r velmora_uploads, delta integer) RETURNS void
LANGUAGE sql AS $$
  INSERT INTO velmora_setting_counts VALUES (r.vid, r.pid, r.mid, r.transport, r.os_version, r.acc, r.sen, delta)
  ON CONFLICT (vid, pid, mid, transport, os_version, acc, sen)
  DO UPDATE SET qty = velmora_setting_counts.qty + delta
$$)sql",
    R"sql(CREATE OR REPLACE FUNCTION velmora_count_uploads() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
  IF TG_OP = 'INSERT' THEN
    PERFORM velmora_count_setting(NEW, 1);
  ELSIF TG_OP = 'DELETE' THEN
    PERFORM velmora_count_setting(OLD, -1);
  ELSIF (OLD.os_version, OLD.acc, OLD.sen) < (NEW.os_version, NEW.acc, NEW.sen) THEN
    PERFORM velmora_count_setting(OLD, -1);
    PERFORM velmora_count_setting(NEW, 1);
  ELSE
    PERFORM velmora_count_setting(NEW, 1);
    PERFORM velmora_count_setting(OLD, -1);
  END IF;
  RETURN NULL;
END
$$)sql",
    // (CREATE OR REPLACE TRIGGER needs PostgreSQL 14; this works on older servers as well.)
    "DROP TRIGGER IF EXISTS velmora_uploads_counted ON velmora_uploads",
    "CREATE TRIGGER velmora_uploads_counted AFTER INSERT OR DELETE ON velmora_uploads"
    " FOR EACH ROW EXECUTE FUNCTION velmora_count_uploads()",
    "DROP TRIGGER IF EXISTS velmora_uploads_moved ON velmora_uploads",
    "CREATE TRIGGER velmora_uploads_moved AFTER UPDATE OF os_version, acc, sen ON velmora_uploads"
    " FOR EACH ROW WHEN ((OLD.os_version, OLD.acc, OLD.sen) IS DISTINCT FROM (NEW.os_version, NEW.acc, NEW.sen))"
    " EXECUTE FUNCTION velmora_count_uploads()",
};

// Counts made from the rows a table holds already (a database from before the counts existed).
constexpr const char* kRecount =
    "INSERT INTO velmora_setting_counts SELECT vid, pid, mid, transport, os_version, acc, sen, count(*)"
    " FROM velmora_uploads GROUP BY vid, pid, mid, transport, os_version, acc, sen";

constexpr const char* kColumns =
    "vid, pid, mid, transport, machine, device_name, os_version, app, acc, sen, received_at";
constexpr int kColumnCount = 11;

// A later upload replaces the stored one; one that arrives out of order (older than the stored
// row) leaves it alone.
constexpr const char* kOnConflict =
    " ON CONFLICT (vid, pid, mid, transport, machine) DO UPDATE SET"
    " device_name = EXCLUDED.device_name, os_version = EXCLUDED.os_version, app = EXCLUDED.app,"
    " acc = EXCLUDED.acc, sen = EXCLUDED.sen, received_at = EXCLUDED.received_at"
    " WHERE velmora_uploads.received_at <= EXCLUDED.received_at";

// Total over every group is taken before the limit.
constexpr const char* kRanking =
    "SELECT acc, sen, qty, sum(qty) OVER () FROM ("
    " SELECT acc, sen, sum(qty) AS qty FROM velmora_setting_counts"
    " WHERE vid = $1 AND pid = $2 AND mid = $3 AND transport = $4 AND os_version BETWEEN $5 AND $6"
    " GROUP BY acc, sen HAVING sum(qty) > 0) AS groups ORDER BY qty DESC, acc, sen LIMIT $7";

// Rows per statement of a bulk insert (11 parameters each, well below the protocol's 65535).
constexpr int kBulkRows = 1000;
constexpr size_t kAnalyzeAfter = 10000;

// Parameters in libpq's binary format: integers in network byte order, bytes as they are.
class Params {
 public:
  void int8(int64_t v) {
    std::string b(8, '\0');
    for (int i = 7; i >= 0; --i, v = static_cast<int64_t>(static_cast<uint64_t>(v) >> 8))
      b[i] = static_cast<char>(v & 0xff);
    add(std::move(b));
  }
  void int4(int32_t v) {
    std::string b(4, '\0');
    uint32_t u = static_cast<uint32_t>(v);
    for (int i = 3; i >= 0; --i, u >>= 8) b[i] = static_cast<char>(u & 0xff);
    add(std::move(b));
  }
  void bytes(const std::string& s) { add(s); }
  void row(const UploadRow& r) {
    int8(r.model.vid), int8(r.model.pid), int8(r.model.mid), bytes(r.model.transport);
    bytes(r.machine), bytes(r.deviceName), int4(r.osVersion), bytes(r.app);
    int8(r.accMillionths), int8(r.senMillionths), int8(r.receivedAt);
  }
  int count() const { return static_cast<int>(data_.size()); }
  // Pointers are taken only once every parameter is in (the strings may move while adding).
  void finish() {
    values_.clear(), lengths_.clear(), formats_.clear();
    for (const auto& d : data_) {
      values_.push_back(d.data());
      lengths_.push_back(static_cast<int>(d.size()));
      formats_.push_back(1);
    }
  }
  const char* const* values() const { return values_.data(); }
  const int* lengths() const { return lengths_.data(); }
  const int* formats() const { return formats_.data(); }

 private:
  void add(std::string s) { data_.push_back(std::move(s)); }
  std::vector<std::string> data_;
  std::vector<const char*> values_;
  std::vector<int> lengths_, formats_;
};

struct ResultDeleter {
  void operator()(PGresult* r) const { PQclear(r); }
};
using Result = std::unique_ptr<PGresult, ResultDeleter>;

// A failed command's status: connection troubles and an overloaded or stopping server are
// Unavailable (worth retrying later), anything else Internal. Only the primary message is kept:
// details may quote the row's values.
// Set by failure() when the command lost a deadlock or serialisation conflict: the whole call
// is worth running again as it is.
thread_local bool tRetryable = false;

Status failure(PGconn* conn, const PGresult* res, const char* what) {
  const char* state = res ? PQresultErrorField(res, PG_DIAG_SQLSTATE) : nullptr;
  tRetryable = state && (std::string_view(state) == "40P01" || std::string_view(state) == "40001");
  const char* primary = res ? PQresultErrorField(res, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
  std::string message = std::string(what) + ": ";
  if (primary) {
    message += primary;
  } else {
    std::string text = PQerrorMessage(conn);
    message += text.substr(0, text.find('\n'));
  }
  bool unavailable = PQstatus(conn) != CONNECTION_OK || !state ||
                     std::string_view(state).starts_with("08") || std::string_view(state).starts_with("53") ||
                     std::string_view(state).starts_with("57P");
  return Status::error(unavailable ? StatusCode::Unavailable : StatusCode::Internal, message);
}

bool parseInt(const char* text, int64_t* out) {
  std::string_view s(text);
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), *out);
  return ec == std::errc() && p == s.data() + s.size();
}

std::string bulkStatement(int rows) {
  std::string sql = std::string("INSERT INTO velmora_uploads (") + kColumns + ") VALUES ";
  int n = 1;
  for (int r = 0; r < rows; ++r) {
    sql += r ? ",(" : "(";
    for (int c = 0; c < kColumnCount; ++c, ++n) sql += (c ? ",$" : "$") + std::to_string(n);
    sql += ")";
  }
  return sql + kOnConflict;
}

class Connection {
 public:
  explicit Connection(PGconn* conn) : conn_(conn) {}
  ~Connection() { PQfinish(conn_); }
  PGconn* get() const { return conn_; }
  bool prepared = false;

 private:
  PGconn* conn_;
};

class PostgresStorage final : public Storage {
 public:
  PostgresStorage(std::string url, const PostgresOptions& options)
      : url_(std::move(url)), maxConnections_(std::max(1, options.maxConnections)) {}

  ~PostgresStorage() override = default;

  // Connects once, makes the schema and keeps that connection in the pool.
  Status open() {
    std::unique_ptr<Connection> conn;
    Status st = connect(&conn);
    if (!st.ok()) return st;
    PGconn* c = conn->get();
    describe_ = std::string("postgresql:") + PQdb(c) + "@" + (PQhost(c) ? PQhost(c) : "") +
                (PQport(c) && *PQport(c) ? std::string(":") + PQport(c) : "");
    // Two services starting at once must not both create the table: a transaction-scoped
    // advisory lock serialises them.
    Result r(PQexec(c, "BEGIN"));
    if (PQresultStatus(r.get()) != PGRES_COMMAND_OK) return failure(c, r.get(), "begin schema");
    r.reset(PQexec(c, "SELECT pg_advisory_xact_lock(7365260)"));
    if (PQresultStatus(r.get()) != PGRES_TUPLES_OK) return failure(c, r.get(), "lock schema");
    r.reset(PQexec(c, "SELECT to_regclass('velmora_setting_counts') IS NULL"));
    if (PQresultStatus(r.get()) != PGRES_TUPLES_OK) return failure(c, r.get(), "look at schema");
    bool recount = PQntuples(r.get()) == 1 && std::string_view(PQgetvalue(r.get(), 0, 0)) == "t";
    std::vector<const char*> steps(std::begin(kSchema), std::end(kSchema));
    if (recount) steps.push_back(kRecount);
    for (const char* ddl : steps) {
      r.reset(PQexec(c, ddl));
      if (PQresultStatus(r.get()) != PGRES_COMMAND_OK) {
        Status failed = failure(c, r.get(), "create schema");
        Result(PQexec(c, "ROLLBACK"));
        return failed;
      }
    }
    r.reset(PQexec(c, "COMMIT"));
    if (PQresultStatus(r.get()) != PGRES_COMMAND_OK) return failure(c, r.get(), "commit schema");
    std::lock_guard lock(mutex_);
    ++open_;
    idle_.push_back(std::move(conn));
    return Status::success();
  }

  Status upsertUpload(const UploadRow& row) override {
    if (Status st = check(row); !st.ok()) return st;
    return groups_.submit(row);
  }

  // One transaction for a group of concurrent uploads (one commit, one flush of the log); a
  // group that fails as a whole for a reason other than the connection is retried row by row.
  void writeGroup(const std::vector<const UploadRow*>& rows, std::vector<Status>* statuses) {
    auto writeRows = [&](size_t begin, size_t end) {
      return withConnection([&](PGconn* c) -> Status {
        bool single = end - begin == 1;
        if (!single) {
          Result r(PQexec(c, "BEGIN"));
          if (PQresultStatus(r.get()) != PGRES_COMMAND_OK) return failure(c, r.get(), "upsert");
        }
        for (size_t i = begin; i < end; ++i) {
          Params p;
          p.row(*rows[i]);
          Result r = execute(c, "upsert", p);
          if (PQresultStatus(r.get()) != PGRES_COMMAND_OK) {
            Status failed = failure(c, r.get(), "upsert");
            if (!single) Result(PQexec(c, "ROLLBACK"));
            return failed;
          }
        }
        if (!single) {
          Result r(PQexec(c, "COMMIT"));
          if (PQresultStatus(r.get()) != PGRES_COMMAND_OK) return failure(c, r.get(), "upsert commit");
        }
        return Status::success();
      });
    };
    Status st = writeRows(0, rows.size());
    if (!st.ok() && st.code != StatusCode::Unavailable && rows.size() > 1) {
      for (size_t i = 0; i < rows.size(); ++i) (*statuses)[i] = writeRows(i, i + 1);
    } else {
      for (auto& each : *statuses) each = st;
    }
  }

  Status ranking(const RankingQuery& query, RankingResult* result) override {
    if (std::string why = checkRankingQuery(query); !why.empty())
      return Status::error(StatusCode::InvalidArgument, why);
    Params p;
    p.int8(query.model.vid), p.int8(query.model.pid), p.int8(query.model.mid);
    p.bytes(query.model.transport);
    p.int4(query.os0), p.int4(query.os1 == 0 ? INT32_MAX : query.os1);
    p.int8(query.count);
    return withConnection([&](PGconn* c) -> Status {
      Result r = execute(c, "ranking", p);
      if (PQresultStatus(r.get()) != PGRES_TUPLES_OK) return failure(c, r.get(), "ranking");
      RankingResult out;
      int rows = PQntuples(r.get());
      for (int i = 0; i < rows; ++i) {
        RankingEntry e;
        int64_t total = 0;
        if (!parseInt(PQgetvalue(r.get(), i, 0), &e.accMillionths) ||
            !parseInt(PQgetvalue(r.get(), i, 1), &e.senMillionths) || !parseInt(PQgetvalue(r.get(), i, 2), &e.qty) ||
            !parseInt(PQgetvalue(r.get(), i, 3), &total))
          return Status::error(StatusCode::Internal, "ranking: unreadable number from the database");
        out.total = total;
        out.entries.push_back(e);
      }
      // The window total comes only with at least one group; none means none stored.
      *result = std::move(out);
      return Status::success();
    });
  }

  Status bulkInsert(std::span<const UploadRow> rows) override {
    // The later row of one machine and model wins; a statement may not touch one row twice,
    // so duplicates are dropped here first.
    std::vector<const UploadRow*> kept;
    kept.reserve(rows.size());
    {
      std::unordered_map<std::string, size_t> seen;
      seen.reserve(rows.size());
      for (const auto& row : rows) {
        if (Status st = check(row); !st.ok()) return st;
        std::string key = std::to_string(row.model.vid) + ":" + std::to_string(row.model.pid) + ":" +
                          std::to_string(row.model.mid) + ":" + std::to_string(row.model.transport.size()) + ":" +
                          row.model.transport + row.machine;
        auto [it, inserted] = seen.emplace(std::move(key), kept.size());
        if (inserted) {
          kept.push_back(&row);
        } else if (kept[it->second]->receivedAt <= row.receivedAt) {
          kept[it->second] = &row;
        }
      }
    }
    if (kept.empty()) return Status::success();
    return withConnection([&](PGconn* c) -> Status {
      Result r(PQexec(c, "BEGIN"));
      if (PQresultStatus(r.get()) != PGRES_COMMAND_OK) return failure(c, r.get(), "bulk insert");
      for (size_t at = 0; at < kept.size(); at += kBulkRows) {
        size_t n = std::min<size_t>(kBulkRows, kept.size() - at);
        Params p;
        for (size_t i = 0; i < n; ++i) p.row(*kept[at + i]);
        p.finish();
        if (n == kBulkRows) {
          r.reset(PQexecPrepared(c, "bulk", p.count(), p.values(), p.lengths(), p.formats(), 0));
        } else {
          // The last, shorter batch: an unnamed statement, still with parameters only.
          std::string sql = bulkStatement(static_cast<int>(n));
          r.reset(PQexecParams(c, sql.c_str(), p.count(), nullptr, p.values(), p.lengths(), p.formats(), 0));
        }
        if (PQresultStatus(r.get()) != PGRES_COMMAND_OK) {
          Status failed = failure(c, r.get(), "bulk insert");
          Result(PQexec(c, "ROLLBACK"));
          return failed;
        }
      }
      r.reset(PQexec(c, "COMMIT"));
      if (PQresultStatus(r.get()) != PGRES_COMMAND_OK) return failure(c, r.get(), "bulk insert commit");
      // After a large load the planner needs fresh statistics to pick the ranking index at
      // once, not when autovacuum gets round to it.
      if (kept.size() >= kAnalyzeAfter) r.reset(PQexec(c, "ANALYZE velmora_uploads, velmora_setting_counts"));
      return Status::success();
    });
  }

  Status rowCount(int64_t* count) override {
    return withConnection([&](PGconn* c) -> Status {
      Params p;
      Result r = execute(c, "count", p);
      if (PQresultStatus(r.get()) != PGRES_TUPLES_OK) return failure(c, r.get(), "count");
      if (PQntuples(r.get()) != 1 || !parseInt(PQgetvalue(r.get(), 0, 0), count))
        return Status::error(StatusCode::Internal, "count: unreadable number from the database");
      return Status::success();
    });
  }

  Status clearAll() override {
    return withConnection([&](PGconn* c) -> Status {
      Params p;
      Result r = execute(c, "clear", p);
      if (PQresultStatus(r.get()) != PGRES_COMMAND_OK) return failure(c, r.get(), "clear");
      return Status::success();
    });
  }

  std::string describe() const override { return describe_; }

 private:
  static Status check(const UploadRow& row) {
    std::string why = checkUploadRow(row);
    if (!why.empty()) return Status::error(StatusCode::InvalidArgument, why);
    return Status::success();
  }

  Status connect(std::unique_ptr<Connection>* out) {
    // The URL's own settings win over these defaults (it comes last and is expanded).
    const char* keys[] = {"connect_timeout", "application_name", "dbname", nullptr};
    const char* values[] = {"10", "velmora-service", url_.c_str(), nullptr};
    auto conn = std::make_unique<Connection>(PQconnectdbParams(keys, values, 1));
    if (!conn->get()) return Status::error(StatusCode::Unavailable, "out of memory for a connection");
    if (PQstatus(conn->get()) != CONNECTION_OK) return failure(conn->get(), nullptr, "connect");
    // "already exists, skipping" and the like are not for the service's log.
    PQsetNoticeProcessor(conn->get(), [](void*, const char*) {}, nullptr);
    *out = std::move(conn);
    return Status::success();
  }

  Status prepare(Connection& conn) {
    if (conn.prepared) return Status::success();
    PGconn* c = conn.get();
    std::string upsert = std::string("INSERT INTO velmora_uploads (") + kColumns +
                         ") VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11)" + kOnConflict;
    std::string bulk = bulkStatement(kBulkRows);
    const std::pair<const char*, std::string> statements[] = {
        {"upsert", upsert},
        {"ranking", kRanking},
        {"bulk", bulk},
        {"count", "SELECT count(*) FROM velmora_uploads"},
        {"clear", "TRUNCATE velmora_uploads, velmora_setting_counts"},
    };
    for (const auto& [name, sql] : statements) {
      Result r(PQprepare(c, name, sql.c_str(), 0, nullptr));
      if (PQresultStatus(r.get()) != PGRES_COMMAND_OK) return failure(c, r.get(), "prepare");
    }
    conn.prepared = true;
    return Status::success();
  }

  static Result execute(PGconn* c, const char* name, Params& p) {
    p.finish();
    return Result(PQexecPrepared(c, name, p.count(), p.values(), p.lengths(), p.formats(), 0));
  }

  // Runs `work` on a pooled connection. A connection found broken is reopened, and work that
  // failed because the connection broke, or lost a deadlock to another upload, is tried again.
  template <typename Work>
  Status withConnection(Work&& work) {
    for (int attempt = 0;; ++attempt) {
      std::unique_ptr<Connection> conn;
      if (Status st = acquire(&conn); !st.ok()) return st;
      tRetryable = false;
      Status st = prepare(*conn);
      if (st.ok()) st = work(conn->get());
      bool broken = PQstatus(conn->get()) != CONNECTION_OK;
      bool again = !st.ok() && (broken || tRetryable);
      release(std::move(conn), broken);
      if (!again || attempt >= 2) return st;
    }
  }

  Status acquire(std::unique_ptr<Connection>* out) {
    {
      std::unique_lock lock(mutex_);
      available_.wait(lock, [&] { return !idle_.empty() || open_ < maxConnections_; });
      if (!idle_.empty()) {
        *out = std::move(idle_.back());
        idle_.pop_back();
        return Status::success();
      }
      ++open_;  // reserve the slot while connecting outside the lock
    }
    Status st = connect(out);
    if (!st.ok()) {
      std::lock_guard lock(mutex_);
      --open_;
      available_.notify_one();
    }
    return st;
  }

  void release(std::unique_ptr<Connection> conn, bool broken) {
    {
      std::lock_guard lock(mutex_);
      if (broken) {
        conn.reset();
        --open_;
      } else {
        idle_.push_back(std::move(conn));
      }
    }
    available_.notify_one();
  }

  std::string url_;
  int maxConnections_;
  std::string describe_;
  std::mutex mutex_;
  std::condition_variable available_;
  std::vector<std::unique_ptr<Connection>> idle_;
  int open_ = 0;
  CommitGroups groups_{[this](const std::vector<const UploadRow*>& rows, std::vector<Status>* statuses) {
    writeGroup(rows, statuses);
  }};
};

}  // namespace

vl::Result<std::unique_ptr<Storage>> openPostgresStorage(const std::string& url, const PostgresOptions& options) {
  auto storage = std::make_unique<PostgresStorage>(url, options);
  Status st = storage->open();
  if (!st.ok()) return vl::Status::failure(1, st.message);
  return std::unique_ptr<Storage>(std::move(storage));
}

vl::Result<std::unique_ptr<Storage>> openPostgresStorage(const std::string& url) {
  return openPostgresStorage(url, PostgresOptions{});
}

}  // namespace svc

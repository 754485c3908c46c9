// The web service's storage interface: shared settings per machine and device model, the
// popularity ranking over them, and the choice of backend by a storage URL.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/system/upload_schema.h"
#include "platform/api/status.h"

namespace svc {

// Errors are values: a backend never lets an exception out of this interface.
enum class StatusCode {
  Ok = 0,
  InvalidArgument,  // the caller passed something out of range
  Unavailable,      // the database cannot be reached or is busy beyond the backend's patience
  Internal,         // anything else the database reported
};

struct Status {
  StatusCode code = StatusCode::Ok;
  std::string message;  // empty when ok; a short reason otherwise (never holds a Mac field)

  bool ok() const { return code == StatusCode::Ok; }
  static Status success() { return {}; }
  static Status error(StatusCode c, std::string m) { return {c, std::move(m)}; }
};

// Tracking speeds (0..20) and displayed sensitivities (5..1990) are stored as whole numbers of
// millionths, so that two uploads of the same setting group together exactly whatever way the
// client wrote the number ("0.6875", "6.875e-01") and every backend agrees without comparing
// floating-point values. The client writes them with "%g" (six significant digits), which
// millionths hold without loss over the whole range.
constexpr int64_t kSettingScale = 1000000;
int64_t settingToMillionths(double value);    // rounded to the nearest millionth
double settingFromMillionths(int64_t millionths);

// The identity of a device model as the clients normalise it before sending.
struct DeviceModel {
  uint32_t vid = 0;
  uint32_t pid = 0;
  uint32_t mid = 0;
  std::string transport;  // at most 32 bytes
  bool operator==(const DeviceModel&) const = default;
};

// One shared setting: the newest upload of one machine for one device model.
struct UploadRow {
  DeviceModel model;
  std::string deviceName;  // at most 100 characters (code points), may be empty
  std::string machine;     // the client's machine identifier (a digest), 1..128 bytes
  int32_t osVersion = 0;   // "%02u%02u%02u" of major, minor, patch: 10.15.7 is 101507
  std::string app;         // at most 20 characters (code points), may be empty
  int64_t accMillionths = 0;  // tracking speed × 1,000,000
  int64_t senMillionths = 0;  // displayed sensitivity × 1,000,000
  int64_t receivedAt = 0;     // milliseconds since 1970-01-01 UTC, set by the service
};

constexpr int kRankingMaxCount = vl::upload::kRankingMaxCount;

struct RankingQuery {
  DeviceModel model;
  int32_t os0 = 0;  // lowest system version counted
  int32_t os1 = 0;  // highest system version counted; 0 means no upper bound
  int count = 20;   // most groups answered, 1..kRankingMaxCount
};

struct RankingEntry {
  int64_t accMillionths = 0;
  int64_t senMillionths = 0;
  int64_t qty = 0;  // how many stored rows hold this setting
  bool operator==(const RankingEntry&) const = default;
};

struct RankingResult {
  // The most popular settings first; rows with equal qty in ascending (acc, sen) order, so the
  // answer is the same on every backend and every run. At most query.count entries.
  std::vector<RankingEntry> entries;
  int64_t total = 0;  // every stored row of the model in the system-version range
};

// Implementations are safe to call from several threads at once (the server's worker threads
// share one instance).
class Storage {
 public:
  virtual ~Storage() = default;

  // Stores the row, replacing the row of the same machine and device model if there is one
  // (the newer upload wins). Fields out of their bounds are refused with InvalidArgument.
  virtual Status upsertUpload(const UploadRow& row) = 0;

  // Counts the rows of query.model whose osVersion lies in the range (os0 <= osVersion, and
  // osVersion <= os1 unless os1 is 0), grouped by (acc, sen), ordered as RankingResult says.
  virtual Status ranking(const RankingQuery& query, RankingResult* result) = 0;

  // Many rows in as few transactions as the backend likes, for filling a database for load
  // tests; the same replacement rule as upsertUpload (within the batch too: a later row of the
  // same machine and model wins).
  virtual Status bulkInsert(std::span<const UploadRow> rows) = 0;

  // Number of stored rows.
  virtual Status rowCount(int64_t* count) = 0;

  // Removes every stored row (test and load-tool use).
  virtual Status clearAll() = 0;

  // A short name of the backend and where it keeps its data, for the log ("sqlite:/path").
  // Never includes a password.
  virtual std::string describe() const = 0;
};

// Chooses the backend by URL: "sqlite:PATH" or a bare path -> SQLite (the file and its folder
// are created); "postgresql://..." or "postgres://..." -> PostgreSQL (a libpq connection URI).
// A failure with a short reason when the URL names no backend, the backend is not built in, or
// the database cannot be opened. (The storages' own operations answer with Status above, whose
// codes the service maps to HTTP statuses.)
vl::Result<std::unique_ptr<Storage>> openStorage(const std::string& url);

// The backends themselves; openStorage is the usual way in.
vl::Result<std::unique_ptr<Storage>> openSqliteStorage(const std::string& path);
// Defined only when the service is built with libpq (VELMORA_SERVICE_POSTGRES).
vl::Result<std::unique_ptr<Storage>> openPostgresStorage(const std::string& url);

// Checks a row against the bounds above (shared by the backends so they refuse alike): every
// text valid UTF-8 without control characters, numbers in their ranges; an empty string when
// the row is acceptable, otherwise the reason.
std::string checkUploadRow(const UploadRow& row);
// The same for a ranking query (count 1..kRankingMaxCount, transport bounded).
std::string checkRankingQuery(const RankingQuery& query);

// Bounds of the stored fields: the upload's own (core/system/upload_schema.h).
constexpr size_t kTransportMaxBytes = vl::upload::kTransportMaxBytes;
constexpr size_t kDeviceNameMaxChars = vl::upload::kDeviceNameMaxChars;
constexpr size_t kMachineMaxBytes = vl::upload::kMachineMaxBytes;
constexpr size_t kAppMaxChars = vl::upload::kAppMaxChars;
constexpr int32_t kOsVersionMax = vl::upload::kOsVersionMax;
constexpr int64_t kAccMaxMillionths = static_cast<int64_t>(vl::upload::kAccMax) * kSettingScale;
constexpr int64_t kSenMinMillionths = static_cast<int64_t>(vl::upload::kSenMin) * kSettingScale;
constexpr int64_t kSenMaxMillionths = static_cast<int64_t>(vl::upload::kSenMax) * kSettingScale;

// Number of code points of a UTF-8 text without control characters; nullopt when the text is
// not valid UTF-8 (overlong forms, surrogates, beyond U+10FFFF) or holds a control character.
std::optional<size_t> cleanTextLength(std::string_view text);

}  // namespace svc

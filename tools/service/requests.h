// The web service's requests without the socket: query parsing and validation of the three
// paths, the version catalogue, and the answers (plain text or XML property lists).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/api/status.h"
#include "tools/service/ranking_cache.h"
#include "tools/service/storage.h"

namespace svc {

inline constexpr std::string_view kUploadPath = vl::upload::kUploadPath;
inline constexpr std::string_view kRankingPath = vl::upload::kRankingPath;
inline constexpr std::string_view kVersionsPath = vl::upload::kVersionsPath;
inline constexpr size_t kCatalogueAppMaxBytes = 64;
inline constexpr size_t kQueryMaxBytes = 4096;

using QueryFields = std::map<std::string, std::string, std::less<>>;

// "a=1&b=x%20y" into its fields, percent escapes and '+' decoded. A failure for a bad
// escape, a field without '=', a repeated key or a query longer than kQueryMaxBytes.
vl::Status parseQuery(std::string_view raw, QueryFields* out);

// The fields of an upload ("VID PID MID Tra Dev Mac OSV App Acc Sen", all required) into a row;
// receivedAt is left to the caller. A failure with a short reason naming the field.
vl::Status parseUpload(const QueryFields& q, UploadRow* row);
// The fields of a ranking request ("VID PID MID Tra OS0 OS1 Cnt", all required).
vl::Status parseRanking(const QueryFields& q, RankingQuery* query);

// The ranking answer: an XML property list whose root array holds one dictionary per entry
// with "Acc" and "Sen" (reals) and "Qty" (integer), and "Tot" (integer) on the last entry.
std::string rankingPlist(const RankingResult& result);

// Which installer files the service offers per application name. A text file, one offer per
// line: "APP FILE [MIN_OSV]" separated by spaces or tabs; MIN_OSV (a system version number such
// as 101200) limits the offer to systems at least that new. '#' starts a comment line.
class Catalogue {
 public:
  // A failure names the line ("line 3: ...") and, when loading, the file.
  static vl::Result<Catalogue> parse(std::string_view text);
  static vl::Result<Catalogue> load(const std::string& path);

  // The files offered to app on system version osv, in the file's order.
  std::vector<std::string> filesFor(std::string_view app, int32_t osv) const;
  size_t size() const { return offers_.size(); }

 private:
  struct Offer {
    std::string app, file;
    int32_t minOsv = 0;
  };
  std::vector<Offer> offers_;
};

struct Answer {
  int status = 200;
  std::string contentType = "text/plain; charset=utf-8";
  std::string body;
  std::string note;  // for the log only (a storage failure's detail); never sent
};

// How the Service keeps ranking answers (see RankingCache).
struct RankingCacheOptions {
  size_t maxEntries = 4096;
  // An upload through this service is counted in the very next ranking; one stored through
  // another service process on the same database shows within this long.
  int64_t maxAgeMillis = 1000;
};

// Answers one request. Thread-safe when the storage is (the catalogue is read-only).
class Service {
 public:
  using Clock = std::function<int64_t()>;  // milliseconds since 1970 UTC
  Service(Storage& storage, Catalogue catalogue, Clock now, RankingCacheOptions cache = {});

  Answer handle(std::string_view method, std::string_view path, std::string_view rawQuery) const;

 private:
  Answer upload(const QueryFields& q) const;
  Answer rank(const QueryFields& q, std::string_view rawQuery) const;
  Answer versions(const QueryFields& q) const;

  Storage& storage_;
  Catalogue catalogue_;
  Clock now_;
  mutable RankingCache cache_;
};

// One log line (no trailing newline): "TIME PEER METHOD PATH STATUS BYTES DURATIONms", TIME in
// ISO 8601 UTC with milliseconds. The query is never logged: it holds the machine identifier.
std::string logLine(int64_t nowMillis, std::string_view peer, std::string_view method, std::string_view path,
                    int status, size_t bytes, double durationMillis);

}  // namespace svc

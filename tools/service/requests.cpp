// Parsing, validation and answers of the web service's three requests.
#include "tools/service/requests.h"

#include <cctype>
#include <ctime>
#include <fstream>
#include <sstream>

#include "core/plist/codec.h"
#include "core/plist/number_text.h"
#include "core/system/upload_schema.h"

namespace svc {
namespace {

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool decode(std::string_view s, std::string* out) {
  out->clear();
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '+') {
      *out += ' ';
    } else if (s[i] == '%') {
      if (i + 2 >= s.size()) return false;
      int hi = hexValue(s[i + 1]), lo = hexValue(s[i + 2]);
      if (hi < 0 || lo < 0) return false;
      *out += static_cast<char>(hi * 16 + lo);
      i += 2;
    } else {
      *out += s[i];
    }
  }
  return true;
}

const std::string* field(const QueryFields& q, std::string_view key, std::string* error) {
  auto it = q.find(key);
  if (it == q.end()) {
    *error = std::string(key) + " is missing";
    return nullptr;
  }
  return &it->second;
}

// A decimal integer in [minimum, maximum]: an optional '-' and digits, nothing else.
bool integerField(const QueryFields& q, std::string_view key, int64_t minimum, int64_t maximum, int64_t* out,
                  std::string* error) {
  const std::string* text = field(q, key, error);
  if (!text) return false;
  std::string_view s = *text;
  bool negative = !s.empty() && s[0] == '-';
  if (negative) s.remove_prefix(1);
  if (s.empty() || s.size() > 12) {
    *error = std::string(key) + " is not a decimal integer";
    return false;
  }
  int64_t v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') {
      *error = std::string(key) + " is not a decimal integer";
      return false;
    }
    v = v * 10 + (c - '0');
  }
  if (negative) v = -v;
  if (v < minimum || v > maximum) {
    *error = std::string(key) + " is out of range (" + std::to_string(minimum) + " to " + std::to_string(maximum) + ")";
    return false;
  }
  *out = v;
  return true;
}

// A device ID: the client writes unsigned 32-bit values with "%d", so values above 2^31 - 1
// arrive negative; both forms are taken and mean the same ID.
bool idField(const QueryFields& q, std::string_view key, uint32_t* out, std::string* error) {
  int64_t v;
  if (!integerField(q, key, INT32_MIN, UINT32_MAX, &v, error)) return false;
  *out = static_cast<uint32_t>(v);
  return true;
}

bool settingField(const QueryFields& q, std::string_view key, double minimum, double maximum, int64_t* out,
                  std::string* error) {
  const std::string* text = field(q, key, error);
  if (!text) return false;
  auto v = pl::parseDecimal(*text);
  if (!v) {
    *error = std::string(key) + (pl::looksLikeDecimalComma(*text) ? " must use a dot as the decimal separator"
                                                                    : " is not a decimal number");
    return false;
  }
  if (*v < minimum || *v > maximum) {
    *error = std::string(key) + " is out of range (" + pl::formatG(minimum) + " to " + pl::formatG(maximum) + ")";
    return false;
  }
  *out = settingToMillionths(*v);
  return true;
}

bool textField(const QueryFields& q, std::string_view key, size_t maximum, bool countBytes, bool required,
               std::string* out, std::string* error) {
  const std::string* text = field(q, key, error);
  if (!text) return false;
  auto length = cleanTextLength(*text);
  if (!length) {
    *error = std::string(key) + " is not valid UTF-8 text";
    return false;
  }
  if (required && text->empty()) {
    *error = std::string(key) + " is empty";
    return false;
  }
  if ((countBytes ? text->size() : *length) > maximum) {
    *error = std::string(key) + " is longer than " + std::to_string(maximum) + (countBytes ? " bytes" : " characters");
    return false;
  }
  *out = *text;
  return true;
}

Answer plain(int status, std::string text) {
  Answer a;
  a.status = status;
  a.body = std::move(text) + "\n";
  return a;
}

Answer storageFailure(const Status& st) {
  Answer a = plain(st.code == StatusCode::Unavailable ? 503 : 500, "storage unavailable");
  a.note = st.message;
  return a;
}

}  // namespace

vl::Status parseQuery(std::string_view raw, QueryFields* out) {
  out->clear();
  if (raw.size() > kQueryMaxBytes)
    return vl::Status::failure(1, "query longer than " + std::to_string(kQueryMaxBytes) + " bytes");
  while (!raw.empty()) {
    size_t amp = raw.find('&');
    std::string_view part = raw.substr(0, amp);
    raw = amp == std::string_view::npos ? std::string_view() : raw.substr(amp + 1);
    if (part.empty()) continue;
    size_t eq = part.find('=');
    if (eq == std::string_view::npos) return vl::Status::failure(1, "query field without '='");
    std::string key, value;
    if (!decode(part.substr(0, eq), &key) || !decode(part.substr(eq + 1), &value))
      return vl::Status::failure(1, "bad percent escape in the query");
    if (!out->emplace(key, std::move(value)).second) return vl::Status::failure(1, "repeated query field " + key);
  }
  return vl::Status::success();
}

namespace {

// One schema field into its place: ids, integers and texts as they are, numbers as millionths.
bool schemaField(const QueryFields& q, const vl::upload::Field& f, void* out, std::string* error) {
  using vl::upload::Kind;
  switch (f.kind) {
    case Kind::Id:
      return idField(q, f.key, static_cast<uint32_t*>(out), error);
    case Kind::Integer: {
      int64_t v;
      if (!integerField(q, f.key, static_cast<int64_t>(f.minimum), static_cast<int64_t>(f.maximum), &v, error)) return false;
      *static_cast<int64_t*>(out) = v;
      return true;
    }
    case Kind::Number:
      return settingField(q, f.key, f.minimum, f.maximum, static_cast<int64_t*>(out), error);
    case Kind::Text:
      return textField(q, f.key, static_cast<size_t>(f.maximum), f.countBytes, f.required, static_cast<std::string*>(out),
                       error);
  }
  return false;
}

}  // namespace

vl::Status parseUpload(const QueryFields& q, UploadRow* row) {
  namespace u = vl::upload;
  int64_t osv = 0;
  // Where each field of the schema goes, in the schema's order (the first bad one is named).
  const std::pair<const u::Field*, void*> places[] = {
      {&u::kVid, &row->model.vid}, {&u::kPid, &row->model.pid}, {&u::kMid, &row->model.mid},
      {&u::kTra, &row->model.transport}, {&u::kDev, &row->deviceName}, {&u::kMac, &row->machine},
      {&u::kOsv, &osv}, {&u::kApp, &row->app}, {&u::kAcc, &row->accMillionths}, {&u::kSen, &row->senMillionths},
  };
  static_assert(std::size(places) == u::kUploadFields.size());
  std::string error;
  for (const auto& [f, out] : places) {
    if (!schemaField(q, *f, out, &error)) return vl::Status::failure(1, error);
  }
  row->osVersion = static_cast<int32_t>(osv);
  return vl::Status::success();
}

vl::Status parseRanking(const QueryFields& q, RankingQuery* query) {
  namespace u = vl::upload;
  int64_t os0, os1, count;
  const std::pair<const u::Field*, void*> places[] = {
      {&u::kVid, &query->model.vid}, {&u::kPid, &query->model.pid}, {&u::kMid, &query->model.mid},
      {&u::kTra, &query->model.transport}, {&u::kOs0, &os0}, {&u::kOs1, &os1}, {&u::kCnt, &count},
  };
  std::string error;
  for (const auto& [f, out] : places) {
    if (!schemaField(q, *f, out, &error)) return vl::Status::failure(1, error);
  }
  query->os0 = static_cast<int32_t>(os0);
  query->os1 = static_cast<int32_t>(os1);
  query->count = static_cast<int>(count);
  return vl::Status::success();
}

std::string rankingPlist(const RankingResult& result) {
  pl::Array entries;
  for (size_t i = 0; i < result.entries.size(); ++i) {
    const auto& e = result.entries[i];
    pl::Dict d{{"Acc", settingFromMillionths(e.accMillionths)},
               {"Sen", settingFromMillionths(e.senMillionths)},
               {"Qty", pl::Value::int64(e.qty)}};
    if (i + 1 == result.entries.size()) d.emplace("Tot", pl::Value::int64(result.total));
    entries.emplace_back(std::move(d));
  }
  return pl::writeXml(pl::Value(std::move(entries)));
}

vl::Result<Catalogue> Catalogue::parse(std::string_view text) {
  Catalogue c;
  std::istringstream in{std::string(text)};
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    std::istringstream words(line);
    std::string app, file, osv, extra;
    if (!(words >> app) || app[0] == '#') continue;
    auto fail = [&](const std::string& why) { return vl::Status::failure(1, "line " + std::to_string(number) + ": " + why); };
    if (!(words >> file)) return fail("an application name without a file name");
    Offer offer{app, file, 0};
    if (words >> osv) {
      auto v = pl::parseIntegerText(osv);
      if (!v || *v < 0 || *v > kOsVersionMax || osv.find_first_not_of("0123456789") != std::string::npos) {
        return fail("'" + osv + "' is no system version number (such as 101200)");
      }
      offer.minOsv = static_cast<int32_t>(*v);
    }
    if (words >> extra) return fail("more than three words");
    if (!cleanTextLength(app) || !cleanTextLength(file)) return fail("not valid UTF-8 text");
    c.offers_.push_back(std::move(offer));
  }
  return c;
}

vl::Result<Catalogue> Catalogue::load(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return vl::Status::failure(1, "cannot read " + path);
  std::ostringstream text;
  text << in.rdbuf();
  auto c = parse(text.str());
  if (!c) return vl::Status(c.status()).context(path);
  return c;
}

std::vector<std::string> Catalogue::filesFor(std::string_view app, int32_t osv) const {
  std::vector<std::string> files;
  for (const auto& o : offers_) {
    if (o.app == app && osv >= o.minOsv) files.push_back(o.file);
  }
  return files;
}

Service::Service(Storage& storage, Catalogue catalogue, Clock now, RankingCacheOptions cache)
    : storage_(storage),
      catalogue_(std::move(catalogue)),
      now_(std::move(now)),
      cache_(cache.maxEntries, cache.maxAgeMillis) {}

Answer Service::handle(std::string_view method, std::string_view path, std::string_view rawQuery) const {
  if (path != kUploadPath && path != kRankingPath && path != kVersionsPath) return plain(404, "no such path");
  if (method != "GET" && method != "HEAD") return plain(405, "only GET and HEAD");
  if (path == kRankingPath) {
    // A ranking asked before, with no upload of its model since: the answer as it was sent.
    if (auto body = cache_.find(rawQuery, now_())) {
      Answer a;
      a.contentType = "application/xml";
      a.body = *body;
      return a;
    }
  }
  QueryFields q;
  if (vl::Status parsed = parseQuery(rawQuery, &q); !parsed) return plain(400, parsed.detail());
  if (path == kUploadPath) return upload(q);
  if (path == kRankingPath) return rank(q, rawQuery);
  return versions(q);
}

Answer Service::upload(const QueryFields& q) const {
  UploadRow row;
  if (vl::Status parsed = parseUpload(q, &row); !parsed) return plain(400, parsed.detail());
  row.receivedAt = now_();
  Status st = storage_.upsertUpload(row);
  if (st.code == StatusCode::InvalidArgument) return plain(400, st.message);
  if (!st.ok()) return storageFailure(st);
  // Committed: no ranking answered from here on may leave it out.
  cache_.invalidate(row.model);
  return plain(200, "stored");
}

Answer Service::rank(const QueryFields& q, std::string_view rawQuery) const {
  RankingQuery query;
  if (vl::Status parsed = parseRanking(q, &query); !parsed) return plain(400, parsed.detail());
  uint64_t generation = cache_.generation(query.model);
  RankingResult result;
  Status st = storage_.ranking(query, &result);
  if (st.code == StatusCode::InvalidArgument) return plain(400, st.message);
  if (!st.ok()) return storageFailure(st);
  Answer a;
  a.contentType = "application/xml";
  a.body = rankingPlist(result);
  cache_.store(rawQuery, query.model, generation, a.body, now_());
  return a;
}

Answer Service::versions(const QueryFields& q) const {
  std::string app, error;
  int64_t osv;
  if (!textField(q, "app", kCatalogueAppMaxBytes, true, true, &app, &error) ||
      !integerField(q, "osv", 0, kOsVersionMax, &osv, &error)) {
    return plain(400, error);
  }
  pl::Array files;
  for (auto& f : catalogue_.filesFor(app, static_cast<int32_t>(osv))) files.emplace_back(std::move(f));
  Answer a;
  a.contentType = "application/xml";
  a.body = pl::writeXml(pl::Value(std::move(files)));
  return a;
}

std::string logLine(int64_t nowMillis, std::string_view peer, std::string_view method, std::string_view path,
                    int status, size_t bytes, double durationMillis) {
  std::time_t seconds = static_cast<std::time_t>(nowMillis / 1000);
  std::tm tm{};
  gmtime_r(&seconds, &tm);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", &tm);
  std::string millis = std::to_string(nowMillis % 1000);
  millis.insert(0, 3 - millis.size(), '0');
  // The path is the client's text: keep the line one line and printable.
  auto clean = [](std::string_view s) {
    std::string out;
    for (char c : s.substr(0, 200)) out += (static_cast<unsigned char>(c) <= 0x20 || c == 0x7F) ? '?' : c;
    return out;
  };
  return std::string(stamp) + "." + millis + "Z " + std::string(peer) + " " + clean(method) + " " + clean(path) +
         " " + std::to_string(status) + " " + std::to_string(bytes) + " " + pl::formatFixed(durationMillis, 1) + "ms";
}

}  // namespace svc

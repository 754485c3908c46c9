// Fuzz target: the web service's request handling on outside bytes (the first byte picks the
// path, the rest is the raw query), with its promises: only rows within the storage's bounds
// reach the storage, every refusal is a 400 with a one-line reason, and a ranking answer reads
// back as a property-list array.
#include <cstdint>
#include <string_view>

#include "core/plist/codec.h"
#include "tools/service/requests.h"

namespace {

void require(bool ok) {
  if (!ok) __builtin_trap();
}

// Takes whatever the service passes after checking that it is acceptable, and ranks one entry.
class CheckingStorage final : public svc::Storage {
 public:
  svc::Status upsertUpload(const svc::UploadRow& row) override {
    require(svc::checkUploadRow(row).empty());
    return svc::Status::success();
  }
  svc::Status ranking(const svc::RankingQuery& q, svc::RankingResult* r) override {
    require(svc::checkRankingQuery(q).empty());
    r->entries = {{q.model.vid, svc::kSenMinMillionths, 1}};
    r->total = 1;
    return svc::Status::success();
  }
  svc::Status bulkInsert(std::span<const svc::UploadRow>) override { return svc::Status::success(); }
  svc::Status rowCount(int64_t* n) override {
    *n = 0;
    return svc::Status::success();
  }
  svc::Status clearAll() override { return svc::Status::success(); }
  std::string describe() const override { return "checking"; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static CheckingStorage storage;
  static svc::Service service(storage, *svc::Catalogue::parse("vl Velmora2.2.3.dmg\n"), [] { return int64_t{0}; });
  if (size == 0) return 0;
  static const std::string_view paths[] = {svc::kUploadPath, svc::kRankingPath, svc::kVersionsPath};
  std::string_view query(reinterpret_cast<const char*>(data) + 1, size - 1);
  svc::Answer a = service.handle("GET", paths[data[0] % 3], query);
  require(a.status == 200 || a.status == 400);
  if (a.status == 400) {
    require(!a.body.empty() && a.body.find('\n') == a.body.size() - 1);
  } else if (data[0] % 3 != 0) {
    auto read = pl::read(a.body);
    require(read && read.value->isArray());
  }
  return 0;
}

// Settings store speed: opening a large store read-only and fetching every device, against a
// plain SQLite SELECT of the same rows; the favourites of every device; saving one changed
// favourite.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "core/store/records.h"

namespace {

using namespace vl;

constexpr int kDevices = 1000;
constexpr int kApplications = 200;

// A store of 1,000 devices (5,000 favourites) and 200 applications, made once per run.
const std::string& storePath() {
  static const std::string path = [] {
    std::string tmpl = (std::filesystem::temp_directory_path() / "velmora-bench-XXXXXX").string();
    char* dir = mkdtemp(tmpl.data());
    std::string p = std::string(dir ? dir : "/tmp") + "/Device.dvsetting";
    ManagedObjectContext::Options o;
    ErrorInfo err;
    auto ctx = ManagedObjectContext::open(p, o, &err);
    for (int i = 0; i < kDevices; ++i) {
      QS802DeviceClass* d = QS814insertDevice(ctx->errorStack(), ctx.get());
      d->setVid(0x400 + static_cast<uint32_t>(i));
      d->setPid(0xc52b);
      d->setMid(static_cast<uint32_t>(i % 7));
      d->setTransport(i % 2 ? std::string("USB") : std::string("Bluetooth"));
      d->setRegistryName(std::string("Mouse ") + std::to_string(i));
      d->setPointerResolution(std::string("400"));
      d->setViewScaleX(std::string("3.0"));
      d->setCursorSpeedSelectedIndex(i % 5);
      d->insert5CursorSpeedsWithSens(-1, -1);
    }
    for (int i = 0; i < kApplications; ++i)
      QS803AppClass::insertSnappingAppWithObject(
          ctx->errorStack(),
          AppObject(pl::Dict{{"matchingKey", pl::Value("App" + std::to_string(i) + ".app")},
                             {"name", pl::Value("App " + std::to_string(i))}}),
          ctx.get());
    ctx->save(&err);
    std::atexit([] { std::filesystem::remove_all(std::filesystem::path(storePath()).parent_path()); });
    return p;
  }();
  return path;
}

void BM_StoreOpenReadOnlyFetchDevices(benchmark::State& state) {
  ErrorStack errors;
  const std::string& path = storePath();
  for (auto _ : state) {
    StoreContextRef ctx;
    ErrorInfo err;
    if (QS814createMOC(Platform{}, errors, path, nullptr, true, &ctx, &err) != 0) state.SkipWithError("open failed");
    auto devices = QS814allDevices(ctx.get());
    uint64_t sum = 0;
    for (QS802DeviceClass* d : devices) sum += d->vid() + d->registryName()->size();
    benchmark::DoNotOptimize(sum);
    if (devices.size() != kDevices) state.SkipWithError("wrong device count");
  }
}
BENCHMARK(BM_StoreOpenReadOnlyFetchDevices)->Unit(benchmark::kMicrosecond);

// The same rows read with nothing but SQLite: open, one SELECT, every column of every row.
void BM_PlainSqliteSelectDevices(benchmark::State& state) {
  const std::string& path = storePath();
  for (auto _ : state) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(db, "SELECT * FROM \"Device\"", -1, &s, nullptr);
    uint64_t sum = 0;
    int rows = 0;
    while (sqlite3_step(s) == SQLITE_ROW) {
      ++rows;
      int n = sqlite3_column_count(s);
      for (int c = 0; c < n; ++c) {
        switch (sqlite3_column_type(s, c)) {
          case SQLITE_INTEGER: sum += static_cast<uint64_t>(sqlite3_column_int64(s, c)); break;
          case SQLITE_FLOAT: sum += static_cast<uint64_t>(sqlite3_column_double(s, c)); break;
          case SQLITE_TEXT:
          case SQLITE_BLOB:
            sqlite3_column_blob(s, c);
            sum += static_cast<uint64_t>(sqlite3_column_bytes(s, c));
            break;
          default: break;
        }
      }
    }
    sqlite3_finalize(s);
    sqlite3_close(db);
    benchmark::DoNotOptimize(sum);
    if (rows != kDevices) state.SkipWithError("wrong row count");
  }
}
BENCHMARK(BM_PlainSqliteSelectDevices)->Unit(benchmark::kMicrosecond);

// For scale: every device with its favourites, as the agent reads them after a reopen.
void BM_StoreOpenReadOnlyFetchDevicesAndFavourites(benchmark::State& state) {
  ErrorStack errors;
  const std::string& path = storePath();
  for (auto _ : state) {
    StoreContextRef ctx;
    if (QS814createMOC(Platform{}, errors, path, nullptr, true, &ctx, nullptr) != 0) state.SkipWithError("open failed");
    size_t n = 0;
    for (QS802DeviceClass* d : QS814allDevices(ctx.get())) n += d->selectedCursorSpeed() != nullptr;
    benchmark::DoNotOptimize(n);
  }
}
BENCHMARK(BM_StoreOpenReadOnlyFetchDevicesAndFavourites)->Unit(benchmark::kMicrosecond);

void BM_StoreSaveOneChangedFavourite(benchmark::State& state) {
  ErrorStack errors;
  const std::string& path = storePath();
  StoreContextRef ctx;
  if (QS814createMOC(Platform{}, errors, path, nullptr, false, &ctx, nullptr) != 0) state.SkipWithError("open failed");
  QS802DeviceClass* d = QS814fetchDevice(errors, 0x400 + 500, 0xc52b, 500 % 7, "Bluetooth", ctx.get());
  if (!d) {
    state.SkipWithError("device missing");
    return;
  }
  QS805CursorSpeedClass* cs = d->selectedCursorSpeed();
  int i = 0;
  for (auto _ : state) {
    cs->setSensitivity(std::to_string(500 + (++i % 100)));
    d->updateCursorSpeedDate();
    ErrorInfo err;
    if (QS814saveMOC(ctx.get(), &err) != 0) state.SkipWithError("save failed");
  }
}
BENCHMARK(BM_StoreSaveOneChangedFavourite)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();

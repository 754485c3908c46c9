// The load tool's made-up data: models by Zipf-like popularity, settings and system versions
// drawn as users pick them, deterministic for a given seed and row number.
#include "tools/service/load/workload.h"

#include <algorithm>
#include <cmath>

#include "core/plist/ascii_text.h"
#include "core/plist/number_text.h"
#include "core/system/upload_schema.h"

namespace load {
namespace {

uint64_t mix(uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

// A cheap random stream per row, so that a row is the same whoever asks for it and in any order.
class RowRandom {
 public:
  explicit RowRandom(uint64_t seed) : state_(mix(seed)) {}
  uint64_t next() { return state_ = mix(state_); }
  double uniform() { return static_cast<double>(next() >> 11) * (1.0 / 9007199254740992.0); }
  double normal() {
    double u1 = std::max(uniform(), 1e-12), u2 = uniform();
    return std::sqrt(-2.0 * std::log(u1)) * std::cos(6.283185307179586 * u2);
  }

 private:
  uint64_t state_;
};

std::vector<double> zipfCumulative() {
  std::vector<double> c(kModels);
  double sum = 0;
  for (int i = 0; i < kModels; ++i) c[i] = sum += 1.0 / std::pow(i + 1, 1.05);
  for (auto& v : c) v /= sum;
  return c;
}

int pick(const std::vector<double>& cumulative, double u) {
  auto it = std::lower_bound(cumulative.begin(), cumulative.end(), u);
  return static_cast<int>(std::min<ptrdiff_t>(it - cumulative.begin(), kModels - 1));
}

// Tracking speeds on the 0.0625 grid, mostly a little above the system default 0.6875.
int64_t accFrom(RowRandom& r) {
  long step = std::lround(14 + 6 * r.normal());
  step = std::clamp(step, 0L, 48L);
  return step * svc::kSettingScale / 16;
}

// Displayed sensitivities: most users keep a round figure of their mouse's resolution.
int64_t senFrom(RowRandom& r) {
  static const int common[] = {800, 400, 1000, 1200, 1600, 500, 750, 1800};
  double u = r.uniform();
  if (u < 0.8) {
    int k = static_cast<int>(r.next() % 16);  // the first three are as common as all others
    return common[k < 8 ? k % 3 : k - 8] * svc::kSettingScale;
  }
  return static_cast<int64_t>(5 + 5 * (r.next() % 397)) * svc::kSettingScale;
}

int32_t osFrom(RowRandom& r) {
  static const int32_t versions[] = {101206, 101307, 101404, 101507, 110701, 120703, 130604, 140501, 150100};
  static const double weights[] = {0.02, 0.03, 0.05, 0.12, 0.10, 0.15, 0.20, 0.25, 0.08};
  double u = r.uniform();
  for (int i = 0; i < 9; ++i) {
    if (u < weights[i]) return versions[i];
    u -= weights[i];
  }
  return versions[8];
}

const std::vector<double>& cumulative() {
  static const std::vector<double> c = zipfCumulative();
  return c;
}

}  // namespace

svc::DeviceModel modelAt(int rank) {
  static const uint32_t vendors[] = {0x46D, 0x4C, 0x47D, 0x56E, 0x1532, 0x1B1C, 0x93A};
  uint64_t h = mix(static_cast<uint64_t>(rank) + 77);
  svc::DeviceModel m;
  m.vid = vendors[rank % 7];
  m.pid = static_cast<uint32_t>(0x8000 + (h & 0x3FFF));
  m.mid = m.vid == 0x46D ? static_cast<uint32_t>(0x4000 + ((h >> 16) & 0xFF)) : 0;
  m.transport = (h >> 32) % 3 == 0 ? "Bluetooth" : "USB";
  // The table's key keeps models apart even if two hashes agree on the product.
  m.pid = (m.pid & ~0x3FFu) | static_cast<uint32_t>(rank);
  return m;
}

std::string machineId(uint64_t stream, uint64_t index) {
  static const char hex[] = "0123456789abcdef";
  std::string id;
  uint64_t h = mix(stream * 0x100000001B3ull ^ mix(index));
  for (int part = 0; part < 4; ++part) {
    h = mix(h + static_cast<uint64_t>(part));
    for (int i = 0; i < 16; ++i) id += hex[(h >> (4 * i)) & 0xF];
  }
  return id;
}

// The client's own escaping, so that the load is the traffic the service really sees.
std::string percentEscape(const std::string& text) { return pl::percentEscape(text); }

Workload::Workload(uint64_t seed) : random_(seed), cumulative_(cumulative()), seed_(seed) {}

int Workload::drawModel() { return pick(cumulative_, std::uniform_real_distribution<double>(0, 1)(random_)); }

int64_t Workload::drawAccMillionths() {
  RowRandom r(random_());
  return accFrom(r);
}

int64_t Workload::drawSenMillionths() {
  RowRandom r(random_());
  return senFrom(r);
}

int32_t Workload::drawOsVersion() {
  RowRandom r(random_());
  return osFrom(r);
}

svc::UploadRow Workload::seedRow(int64_t index) {
  // Two devices per machine: the second one is never the first one's model.
  auto modelOf = [&](int64_t i) { return pick(cumulative_, RowRandom(static_cast<uint64_t>(i) * 2 + 1).uniform()); };
  int model = modelOf(index);
  if (index % 2 == 1 && model == modelOf(index - 1)) model = (model + 1) % kModels;
  RowRandom r(static_cast<uint64_t>(index) * 2 + 2);
  svc::UploadRow row;
  row.model = modelAt(model);
  row.deviceName = "Pointer model " + std::to_string(model);
  row.machine = machineId(0, static_cast<uint64_t>(index / 2));
  row.osVersion = osFrom(r);
  row.accMillionths = accFrom(r);
  row.senMillionths = senFrom(r);
  row.receivedAt = 1700000000000 + index;
  return row;
}

std::string Workload::uploadPath(int64_t index) {
  RowRandom r(random_());
  svc::DeviceModel m = modelAt(drawModel());
  const std::string values[] = {std::to_string(m.vid),
                                std::to_string(m.pid),
                                std::to_string(m.mid),
                                percentEscape(m.transport),
                                percentEscape("Load test mouse"),
                                machineId(seed_ + 1, static_cast<uint64_t>(index)),
                                std::to_string(osFrom(r)),
                                "",
                                pl::formatG(svc::settingFromMillionths(accFrom(r))),
                                pl::formatG(svc::settingFromMillionths(senFrom(r)))};
  static_assert(std::size(values) == vl::upload::kUploadFields.size());
  std::string path = std::string(vl::upload::kUploadPath);
  for (size_t i = 0; i < std::size(values); ++i) {
    path += (i ? "&" : "?") + std::string(vl::upload::kUploadFields[i].key) + "=" + values[i];
  }
  return path;
}

std::string Workload::rankingPath() { return rankingPathFor(modelAt(drawModel())); }

svc::DeviceModel spreadModel() { return {0x1209, 0x5EED, 0, "USB"}; }

svc::UploadRow spreadRow(int64_t index) {
  svc::UploadRow row;
  row.model = spreadModel();
  row.deviceName = "Spread model";
  row.machine = machineId(7, static_cast<uint64_t>(index));
  row.osVersion = 101507;
  // 200 tracking speeds (0 to 19.9) times sensitivities from 5 up: every row its own setting.
  row.accMillionths = (index % 200) * (svc::kSettingScale / 10);
  row.senMillionths = (5 + (index / 200) % 1985) * svc::kSettingScale;
  row.receivedAt = 1700000000000 + index;
  return row;
}

std::string rankingPathFor(const svc::DeviceModel& m) {
  namespace u = vl::upload;
  auto key = [](const u::Field& f) { return std::string(f.key) + "="; };
  return std::string(u::kRankingPath) + "?" + key(u::kVid) + std::to_string(m.vid) + "&" + key(u::kPid) +
         std::to_string(m.pid) + "&" + key(u::kMid) + std::to_string(m.mid) + "&" + key(u::kTra) +
         percentEscape(m.transport) + "&" + key(u::kOs0) + "101200&" + key(u::kOs1) + "0&" + key(u::kCnt) + "20";
}

}  // namespace load

// The load tool's made-up but realistic data: a few hundred device models with a Zipf-like
// popularity, machines with one to three devices, system versions and settings as users pick them.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "tools/service/storage.h"

namespace load {

// The same models, in the same popularity order, for every Workload: the seeded rows and the
// requests of a later run speak about the same devices.
constexpr int kModels = 300;
svc::DeviceModel modelAt(int rank);

class Workload {
 public:
  explicit Workload(uint64_t seed);

  // Row `index` of a seeded storage: machines hold one to three devices of different models, so
  // (machine, model) never repeats and a seed of N rows stores exactly N.
  svc::UploadRow seedRow(int64_t index);

  // An upload request path from a machine no seeded row uses (its `index`-th of this workload).
  std::string uploadPath(int64_t index);
  // A ranking request path for a model drawn by popularity, for macOS 10.12 and later.
  std::string rankingPath();

  // Drawn pieces, exposed for the tests of the distributions.
  int drawModel();
  int64_t drawAccMillionths();
  int64_t drawSenMillionths();
  int32_t drawOsVersion();

 private:
  std::mt19937_64 random_;
  std::vector<double> cumulative_;  // Zipf weights of the models, summed
  uint64_t seed_;
};

// A model whose uploads spread over many distinct settings (the costliest ranking to count):
// row `index` of it holds setting number `index`; 50,000 rows give 50,000 distinct settings.
svc::DeviceModel spreadModel();
svc::UploadRow spreadRow(int64_t index);
// The ranking request path of a model, for macOS 10.12 and later, 20 entries.
std::string rankingPathFor(const svc::DeviceModel& model);

// "%2F"-style escaping of everything outside letters, digits and -._~.
std::string percentEscape(const std::string& text);
// A 64-character hexadecimal machine identifier from a number, as the client's digest looks.
std::string machineId(uint64_t stream, uint64_t index);

}  // namespace load

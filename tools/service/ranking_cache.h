// Encoded ranking answers kept per request, dropped for a model as soon as an upload of that
// model is committed, so a ranking asked after an upload's answer always counts that upload.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "tools/service/storage.h"

namespace svc {

class RankingCache {
 public:
  // maxEntries bounds the memory (past it everything is dropped and filled again);
  // maxAgeMillis bounds how long an answer may miss uploads stored by another service process
  // on the same database, which this cache never hears of (0: kept until dropped).
  RankingCache(size_t maxEntries, int64_t maxAgeMillis);

  // The answer stored for this request text, when there is one younger than the age bound.
  std::shared_ptr<const std::string> find(std::string_view request, int64_t nowMillis);

  // Read before the storage is asked; store() keeps the answer only when no upload of the
  // model was committed since (else the answer may predate it).
  uint64_t generation(const DeviceModel& model);
  void store(std::string_view request, const DeviceModel& model, uint64_t generation, std::string body,
             int64_t nowMillis);

  // After an upload of the model is committed and before it is answered.
  void invalidate(const DeviceModel& model);

  size_t size();

 private:
  struct Entry {
    std::string model;
    std::shared_ptr<const std::string> body;
    int64_t storedAt = 0;
  };
  static std::string key(const DeviceModel& model);
  uint64_t generationLocked(const std::string& model) const;

  size_t maxEntries_;
  int64_t maxAgeMillis_;
  std::mutex mutex_;
  std::unordered_map<std::string, Entry> entries_;                     // by request text
  std::unordered_map<std::string, std::vector<std::string>> byModel_;  // request texts per model
  // Generations only grow: a model's is the counter's value at its last invalidation, or the
  // floor when its own has been forgotten (the table is emptied when it grows too large).
  std::unordered_map<std::string, uint64_t> generations_;
  uint64_t counter_ = 0;
  uint64_t floor_ = 0;
};

}  // namespace svc

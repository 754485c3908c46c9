// The ranking answer cache: lookup by request text, invalidation by model, generations that
// keep an answer computed before an upload's commit out of the cache.
#include "tools/service/ranking_cache.h"

namespace svc {

RankingCache::RankingCache(size_t maxEntries, int64_t maxAgeMillis)
    : maxEntries_(maxEntries < 1 ? 1 : maxEntries), maxAgeMillis_(maxAgeMillis) {}

std::string RankingCache::key(const DeviceModel& m) {
  return std::to_string(m.vid) + ":" + std::to_string(m.pid) + ":" + std::to_string(m.mid) + ":" + m.transport;
}

std::shared_ptr<const std::string> RankingCache::find(std::string_view request, int64_t nowMillis) {
  std::lock_guard lock(mutex_);
  auto it = entries_.find(std::string(request));
  if (it == entries_.end()) return nullptr;
  if (maxAgeMillis_ > 0 && nowMillis - it->second.storedAt >= maxAgeMillis_) return nullptr;
  return it->second.body;
}

uint64_t RankingCache::generationLocked(const std::string& model) const {
  auto it = generations_.find(model);
  return it == generations_.end() ? floor_ : it->second;
}

uint64_t RankingCache::generation(const DeviceModel& model) {
  std::string k = key(model);
  std::lock_guard lock(mutex_);
  return generationLocked(k);
}

void RankingCache::store(std::string_view request, const DeviceModel& model, uint64_t generation, std::string body,
                         int64_t nowMillis) {
  std::string k = key(model);
  std::lock_guard lock(mutex_);
  if (generationLocked(k) != generation) return;
  if (entries_.size() >= maxEntries_) {
    entries_.clear();
    byModel_.clear();
  }
  std::string text(request);
  auto [it, added] = entries_.insert_or_assign(text, Entry{k, std::make_shared<const std::string>(std::move(body)), nowMillis});
  if (added) byModel_[k].push_back(std::move(text));
}

void RankingCache::invalidate(const DeviceModel& model) {
  std::string k = key(model);
  std::lock_guard lock(mutex_);
  if (generations_.size() >= maxEntries_) {
    generations_.clear();
    floor_ = counter_;
  }
  generations_[k] = ++counter_;
  if (auto it = byModel_.find(k); it != byModel_.end()) {
    for (const auto& request : it->second) entries_.erase(request);
    byModel_.erase(it);
  }
}

size_t RankingCache::size() {
  std::lock_guard lock(mutex_);
  return entries_.size();
}

}  // namespace svc

// WorldFileAttributes: the world's quarantined paths in one property list, changed under a lock
// of its own so that processes sharing the world do not lose each other's changes.
#include "platform/sim/world_file_attributes.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <set>
#include <span>

#include "core/plist/value.h"
#include "core/plist/codec.h"

namespace vl::sim {

namespace fs = std::filesystem;

namespace {

std::string normal(const std::string& path) {
  std::error_code ec;
  fs::path abs = fs::absolute(path, ec);
  std::string s = (ec ? fs::path(path) : abs).lexically_normal().string();
  while (s.size() > 1 && s.back() == '/') s.pop_back();
  return s;
}

// path itself, or something below it.
bool within(const std::string& candidate, const std::string& top) {
  if (candidate == top) return true;
  std::string prefix = top.empty() || top.back() == '/' ? top : top + "/";
  return candidate.compare(0, prefix.size(), prefix) == 0;
}

// Runs change on the set under the file's lock; writes it back when change returns true.
template <class Change>
bool withSet(const std::string& folder, Change change, std::string* error) {
  std::string path = folder + "/" + kWorldQuarantineFile;
  int fd = ::open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    if (error) *error = path + ".lock: " + std::strerror(errno);
    return false;
  }
  while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
  }
  std::set<std::string> set;
  if (auto r = pl::readFile(path); r && r.value->isArray())
    for (const auto& v : *r.value->asArray())
      if (const std::string* s = v.asString()) set.insert(*s);
  bool ok = true;
  if (change(set)) {
    pl::Array a;
    for (const auto& s : set) a.emplace_back(s);
    std::string text = pl::writeXml(pl::Value(std::move(a)));
    ok = pl::writeFileAtomic(path, std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size()), error);
  }
  ::close(fd);
  return ok;
}

}  // namespace

WorldFileAttributes::WorldFileAttributes(std::string folder) : folder_(std::move(folder)) {}

bool WorldFileAttributes::hasQuarantine(const std::string& path) const {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return false;
  auto all = quarantined();
  return std::binary_search(all.begin(), all.end(), normal(path));
}

Status WorldFileAttributes::removeQuarantine(const std::string& path, bool recursive) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return Status::failure(errno, path + ": " + std::strerror(errno));
  std::string top = normal(path);
  std::string error;
  bool ok = withSet(folder_, [&](std::set<std::string>& set) {
    size_t before = set.size();
    std::erase_if(set, [&](const std::string& p) { return recursive ? within(p, top) : p == top; });
    return set.size() != before;
  }, &error);
  if (!ok) return Status::failure(1, error);
  return Status::success();
}

Status WorldFileAttributes::setQuarantine(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return Status::failure(errno, path + ": " + std::strerror(errno));
  std::string p = normal(path);
  std::string error;
  if (!withSet(folder_, [&](std::set<std::string>& set) { return set.insert(p).second; }, &error))
    return Status::failure(1, error);
  return Status::success();
}

std::vector<std::string> WorldFileAttributes::quarantined() const {
  std::vector<std::string> out;
  withSet(folder_, [&](std::set<std::string>& set) {
    out.assign(set.begin(), set.end());
    return false;
  }, nullptr);
  return out;
}

}  // namespace vl::sim

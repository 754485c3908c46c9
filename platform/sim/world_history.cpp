// World's history of service writes: chunked files under the history folder, appended on
// every write of this process and read back for 'velmora-sim writes'.
#include "platform/sim/world.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>

#include "core/plist/codec.h"
#include "platform/sim/host_process.h"
#include "platform/sim/world_files.h"

#include "platform/sim/world_private.h"

namespace vl::sim {

using namespace world;
namespace fs = std::filesystem;

namespace {

// History chunks: a write rewrites only the newest chunk, so its cost stays flat however
// long the history is.
constexpr size_t kHistoryChunk = 250;

// The history chunk files, by number, oldest first.
std::vector<std::pair<uint64_t, std::string>> historyChunks(const std::string& dir) {
  std::vector<std::pair<uint64_t, std::string>> out;
  std::error_code ec;
  // increment(ec): the range-for form throws when reading the folder fails midway.
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    const fs::directory_entry& e = *it;
    std::string name = e.path().filename().string();
    if (name.size() < 14 || name.rfind("writes-", 0) != 0 || name.substr(name.size() - 6) != ".plist") continue;
    std::string digits = name.substr(7, name.size() - 13);
    if (digits.empty() || digits.size() > 12 || !std::all_of(digits.begin(), digits.end(), ::isdigit)) continue;
    out.emplace_back(std::stoull(digits), e.path().string());
  }
  std::sort(out.begin(), out.end());
  return out;
}

std::string chunkPath(const std::string& dir, uint64_t n) {
  char b[40];
  std::snprintf(b, sizeof b, "/writes-%06llu.plist", static_cast<unsigned long long>(n));
  return dir + b;
}

}  // namespace

Status World::Private::appendHistory(const PropertyWrite& w) {
  std::error_code ec;
  fs::create_directories(historyDir(), ec);
  if (ec) return fail(historyDir() + ": cannot create: " + ec.message());
  size_t chunkSize = std::max<size_t>(1, std::min(kHistoryChunk, options.historyLimit));
  auto chunks = historyChunks(historyDir());
  uint64_t n = chunks.empty() ? 1 : chunks.back().first;
  HistoryChunk chunk;
  if (!chunks.empty()) {
    auto bytes = readBytes(chunks.back().second);
    if (!bytes) return bytes.status();
    if (Status s = parseBytes(chunks.back().second, *bytes, &chunk); !s) return s;
    if (chunk.writes.size() >= chunkSize) {
      chunk.writes.clear();
      ++n;
    }
  }
  chunk.writes.push_back(w);
  if (auto written = writeModel(chunkPath(historyDir(), n), toValue(chunk)); !written) return written.status();
  // Keep enough whole chunks to cover the limit; history() trims the rest.
  uint64_t keep = (options.historyLimit + chunkSize - 1) / chunkSize + 1;
  for (const auto& [k, p] : chunks)
    if (k + keep <= n) fs::remove(p, ec);
  return Status::success();
}

// A service write of this process, made through the event system: share it at once.
void World::Private::persistWrite(const PropertyWrite& write) {
  PropertyWrite w = write;
  w.time = now();
  FileLock lock(lockFd, true);
  if (!lock.held()) {
    report(folder + ": cannot lock the world: " + errnoText(errno));
    return;
  }
  if (w.accepted) {
    PropertiesFile props;
    bool foreign = false;
    if (Status s = load(kWorldPropertiesFile, &props, &foreign); !s) {
      report(s.detail());
      return;
    }
    props.services[w.service][w.key] = w.value;
    if (Status s = store(kWorldPropertiesFile, props, foreign); !s) {
      report(s.detail());
      return;
    }
    properties[w.service][w.key] = w.value;
  }
  if (Status s = appendHistory(w); !s) report(s.detail());
}

Result<std::vector<PropertyWrite>> World::history(double since) const {
  Private& p = *p_;
  std::vector<PropertyWrite> out;
  FileLock lock(p.lockFd, false);
  if (!lock.held()) return fail(p.folder + ": cannot lock the world: " + errnoText(errno));
  for (const auto& [n, path] : historyChunks(p.historyDir())) {
    HistoryChunk chunk;
    auto bytes = readBytes(path);
    if (!bytes) return bytes.status();
    if (Status s = parseBytes(path, *bytes, &chunk); !s) return s;
    out.insert(out.end(), std::make_move_iterator(chunk.writes.begin()), std::make_move_iterator(chunk.writes.end()));
  }
  if (out.size() > p.options.historyLimit)
    out.erase(out.begin(), out.end() - static_cast<std::ptrdiff_t>(p.options.historyLimit));
  out.erase(std::remove_if(out.begin(), out.end(), [&](const PropertyWrite& w) { return w.time < since; }), out.end());
  return out;
}

}  // namespace vl::sim

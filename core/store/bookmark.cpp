// File bookmarks as small binary property lists of path, inode and device.
#include "core/store/bookmark.h"

#include <sys/stat.h>

#include <filesystem>

#include "core/plist/codec.h"
#include "core/store/object_context.h"

namespace vl {

namespace fs = std::filesystem;

namespace {
constexpr const char* kKind = "quillon.bookmark";
constexpr int64_t kFileNoSuchFileError = 260;
// Folders are searched for a renamed file only up to this many entries.
constexpr size_t kMaxSearchedEntries = 4096;
}  // namespace

std::optional<pl::Data> createMinimalBookmark(const std::string& path, ErrorInfo* error) {
  struct stat st {};
  if (path.empty() || ::stat(path.c_str(), &st) != 0) {
    if (error) {
      *error = ErrorInfo{kCocoaErrorDomain, kFileNoSuchFileError, {}};
      error->userInfo[kDescriptionKey] = pl::Value("The file \"" + path + "\" couldn't be found.");
    }
    return std::nullopt;
  }
  pl::Dict d;
  d["kind"] = pl::Value(kKind);
  d["path"] = pl::Value(fs::path(path).lexically_normal().string());
  d["inode"] = pl::Value::uint64(st.st_ino);
  d["device"] = pl::Value::uint64(st.st_dev);
  return pl::writeBinary(pl::Value(std::move(d)));
}

std::optional<std::string> resolveBookmark(const pl::Data& bookmark, bool* stale) {
  if (stale) *stale = false;
  pl::ReadResult r = pl::readBinary(bookmark);
  if (!r || !r.value->isDict() || r.value->stringFor("kind") != std::optional<std::string>(kKind))
    return std::nullopt;
  auto path = r.value->stringFor("path");
  const pl::Value* ino = r.value->find("inode");
  const pl::Value* dev = r.value->find("device");
  if (!path || path->empty() || !ino || !dev) return std::nullopt;
  uint64_t wantIno = ino->unsignedLongLongValue(), wantDev = dev->unsignedLongLongValue();

  struct stat st {};
  if (::stat(path->c_str(), &st) == 0) {
    // Replaced in place (an application update): the path still names the application.
    if (stale) *stale = st.st_ino != wantIno || st.st_dev != wantDev;
    return path;
  }
  // Renamed within its folder: look for the same file by its identity.
  fs::path parent = fs::path(*path).parent_path();
  std::error_code ec;
  size_t n = 0;
  for (fs::directory_iterator it(parent, ec), end; !ec && it != end && n < kMaxSearchedEntries; it.increment(ec), ++n) {
    struct stat cs {};
    if (::lstat(it->path().c_str(), &cs) != 0) continue;
    if (cs.st_ino == wantIno && cs.st_dev == wantDev) {
      if (stale) *stale = true;
      return it->path().string();
    }
  }
  return std::nullopt;
}

}  // namespace vl

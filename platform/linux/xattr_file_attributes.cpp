// XattrFileAttributes: the download attributes read with llistxattr and removed with
// lremovexattr, walking folders with openat/fstatat so that no link is ever followed.
#include "platform/linux/xattr_file_attributes.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace vl::linux_ {

namespace {

bool isDownloadAttribute(const char* name) {
  return std::strcmp(name, kOriginUrlAttribute) == 0 || std::strcmp(name, kReferrerUrlAttribute) == 0;
}

// The names of path's extended attributes (of the link itself); empty when none or unreadable.
std::vector<std::string> attributeNames(const std::string& path) {
  std::vector<std::string> names;
  ssize_t size = ::llistxattr(path.c_str(), nullptr, 0);
  if (size <= 0) return names;
  std::vector<char> buf(static_cast<size_t>(size));
  size = ::llistxattr(path.c_str(), buf.data(), buf.size());
  if (size <= 0) return names;
  for (size_t i = 0; i < static_cast<size_t>(size);) {
    std::string name(buf.data() + i);
    i += name.size() + 1;
    if (!name.empty()) names.push_back(std::move(name));
  }
  return names;
}

void note(std::string* error, bool* ok, const std::string& text) {
  if (*ok && error) *error = text;
  *ok = false;
}

void clearOne(const std::string& path, std::string* error, bool* ok) {
  for (const auto& name : attributeNames(path)) {
    if (!isDownloadAttribute(name.c_str())) continue;
    if (::lremovexattr(path.c_str(), name.c_str()) != 0 && errno != ENODATA)
      note(error, ok, path + ": " + name + ": " + std::strerror(errno));
  }
}

void clearTree(const std::string& path, std::string* error, bool* ok, int depth) {
  clearOne(path, error, ok);
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return;
  // Deeper than any real bundle: a loop of bind mounts, not a folder to walk.
  if (depth > 256) return note(error, ok, path + ": too deep");
  int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return note(error, ok, path + ": " + std::strerror(errno));
  DIR* dir = ::fdopendir(fd);
  if (!dir) {
    ::close(fd);
    return note(error, ok, path + ": " + std::strerror(errno));
  }
  std::vector<std::string> children;
  while (dirent* e = ::readdir(dir)) {
    if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
    children.emplace_back(e->d_name);
  }
  ::closedir(dir);
  for (const auto& c : children) clearTree(path + "/" + c, error, ok, depth + 1);
}

}  // namespace

bool XattrFileAttributes::hasQuarantine(const std::string& path) const {
  for (const auto& name : attributeNames(path))
    if (isDownloadAttribute(name.c_str())) return true;
  return false;
}

Status XattrFileAttributes::removeQuarantine(const std::string& path, bool recursive) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return Status::failure(errno, path + ": " + std::strerror(errno));
  bool ok = true;
  std::string error;
  if (recursive)
    clearTree(path, &error, &ok, 0);
  else
    clearOne(path, &error, &ok);
  if (!ok) return Status::failure(1, error);
  return Status::success();
}

}  // namespace vl::linux_

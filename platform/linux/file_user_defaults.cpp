// FileUserDefaults: domains as property-list files, read-modify-write under the folder's lock.
#include "platform/linux/file_user_defaults.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "core/plist/codec.h"

namespace vl::linux_ {

bool isValidDomainName(const std::string& d) {
  if (d.empty() || d.size() > 200 || d[0] == '.') return false;
  for (unsigned char c : d)
    if (c < 0x20 || c == '/' || c == 0x7F) return false;
  return true;
}

FileUserDefaults::FileUserDefaults(std::string folder) : folder_(std::move(folder)) {}

pl::Dict FileUserDefaults::load(const std::string& domain) const {
  if (!isValidDomainName(domain)) return {};
  auto r = pl::readFile(fileOf(domain));
  if (!r || !r.value->isDict()) return {};
  return *r.value->asDict();
}

const pl::Dict& FileUserDefaults::cached(const std::string& domain) const {
  auto it = cache_.find(domain);
  if (it == cache_.end()) it = cache_.emplace(domain, load(domain)).first;
  return it->second;
}

void FileUserDefaults::synchronize(const std::string& domain) { cache_[domain] = load(domain); }

std::optional<pl::Value> FileUserDefaults::value(const std::string& domain, const std::string& key) const {
  const pl::Dict& d = cached(domain);
  auto it = d.find(key);
  if (it == d.end()) return std::nullopt;
  return it->second;
}

bool FileUserDefaults::change(const std::string& domain, const std::string& key, const pl::Value* v) {
  if (!isValidDomainName(domain)) {
    lastError_ = "'" + domain + "' is no user-defaults domain name";
    return false;
  }
  std::error_code ec;
  std::filesystem::create_directories(folder_, ec);
  if (ec) {
    lastError_ = folder_ + ": cannot create: " + ec.message();
    return false;
  }
  int fd = ::open((folder_ + "/.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) {
    lastError_ = folder_ + "/.lock: " + std::strerror(errno);
    return false;
  }
  while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
  }
  pl::Dict d = load(domain);
  if (v) d[key] = *v;
  else d.erase(key);
  std::string xml = pl::writeXml(pl::Value(d));
  bool ok = pl::writeFileAtomic(fileOf(domain), {reinterpret_cast<const uint8_t*>(xml.data()), xml.size()}, &lastError_);
  ::close(fd);  // releases the lock
  if (ok) cache_[domain] = std::move(d);
  return ok;
}

Status FileUserDefaults::setValue(const std::string& domain, const std::string& key, const pl::Value& v) {
  if (!change(domain, key, &v)) return Status::failure(1, lastError_);
  return Status::success();
}

Status FileUserDefaults::removeValue(const std::string& domain, const std::string& key) {
  if (!change(domain, key, nullptr)) return Status::failure(1, lastError_);
  return Status::success();
}

Status FileUserDefaults::removeDomain(const std::string& domain) {
  if (!isValidDomainName(domain)) {
    lastError_ = "'" + domain + "' is no user-defaults domain name";
    return Status::failure(1, lastError_);
  }
  cache_[domain] = {};
  int fd = ::open((folder_ + "/.lock").c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) {
    // No lock file: nothing was ever written here, so there is no domain to delete.
    if (errno == ENOENT) return Status::success();
    lastError_ = folder_ + "/.lock: " + std::strerror(errno);
    return Status::failure(1, lastError_);
  }
  while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
  }
  bool ok = ::unlink(fileOf(domain).c_str()) == 0 || errno == ENOENT;
  if (!ok) lastError_ = fileOf(domain) + ": " + std::strerror(errno);
  ::close(fd);
  if (!ok) return Status::failure(1, lastError_);
  return Status::success();
}

}  // namespace vl::linux_

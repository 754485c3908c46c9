// Whole-file reading with a regular-file check and a size limit.
#include "core/plist/file_input.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace pl {

namespace {

FileReadResult failure(const std::string& path, FileReadStatus status, int err, const std::string& why) {
  FileReadResult r;
  r.status = status;
  r.errorNumber = err;
  r.error = path + ": " + why;
  return r;
}

FileReadResult fromErrno(const std::string& path, int err) {
  FileReadStatus status = FileReadStatus::Failed;
  if (err == ENOENT || err == ENOTDIR) status = FileReadStatus::Missing;
  if (err == EACCES || err == EPERM) status = FileReadStatus::PermissionDenied;
  return failure(path, status, err, pathErrorText(err));
}

std::string kindOf(mode_t mode) {
  if (S_ISDIR(mode)) return "is a folder, not a file";
  if (S_ISFIFO(mode)) return "is a pipe (FIFO), not a regular file";
  if (S_ISSOCK(mode)) return "is a socket, not a regular file";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "is a device, not a regular file";
  return "is not a regular file";
}

template <class Buffer>
FileReadResult readInto(const std::string& path, size_t maxBytes, Buffer* out) {
  out->clear();
  // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer forever.
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return fromErrno(path, errno);
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    int e = errno;
    ::close(fd);
    return fromErrno(path, e);
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    return failure(path, FileReadStatus::NotRegular, 0, kindOf(st.st_mode));
  }
  auto tooLarge = [&] {
    ::close(fd);
    out->clear();
    return failure(path, FileReadStatus::TooLarge, 0,
                   "larger than the limit of " + std::to_string(maxBytes) + " bytes");
  };
  if (static_cast<uint64_t>(st.st_size) > maxBytes) return tooLarge();
  // Reads of a regular file never block; the flag is cleared anyway so nothing depends on it.
  int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  out->reserve(static_cast<size_t>(st.st_size));
  char chunk[65536];
  for (;;) {
    ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      int e = errno;
      ::close(fd);
      out->clear();
      return fromErrno(path, e);
    }
    if (n == 0) break;
    if (out->size() + static_cast<size_t>(n) > maxBytes) return tooLarge();
    out->insert(out->end(), chunk, chunk + n);
  }
  ::close(fd);
  FileReadResult ok;
  ok.status = FileReadStatus::Ok;
  return ok;
}

}  // namespace

int pathStatError(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? 0 : errno;
}

std::string pathErrorText(int err) {
  switch (err) {
    case ENOENT:
    case ENOTDIR: return "no such file or folder";
    case EACCES:
    case EPERM: return "permission denied";
    case ELOOP: return "too many levels of symbolic links";
    case ENAMETOOLONG: return "name too long";
    default: return std::strerror(err);
  }
}

FileReadResult readRegularFile(const std::string& path, size_t maxBytes, std::string* out) {
  return readInto(path, maxBytes, out);
}

FileReadResult readRegularFile(const std::string& path, size_t maxBytes, std::vector<uint8_t>* out) {
  return readInto(path, maxBytes, out);
}

}  // namespace pl

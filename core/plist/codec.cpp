// Format detection, whole-file reading and atomic writing of property lists.
#include "core/plist/codec.h"

#include "core/plist/file_input.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace pl {

namespace {

bool isSpace(uint8_t c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool isHexOrSpace(uint8_t c) {
  return isSpace(c) || (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// '<' starts XML unless it opens OpenStep data ("<0011 aabb>").
bool looksLikeXml(std::span<const uint8_t> b, size_t at) {
  size_t i = at + 1;
  while (i < b.size() && b[i] != '>') {
    if (!isHexOrSpace(b[i])) return true;
    ++i;
  }
  return false;
}

std::string errnoText(int e) { return std::strerror(e); }

}  // namespace

ReadResult read(std::span<const uint8_t> bytes) {
  if (bytes.size() >= 6 && std::memcmp(bytes.data(), "bplist", 6) == 0) return readBinary(bytes);
  size_t i = 0;
  if (bytes.size() >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) i = 3;
  while (i < bytes.size() && isSpace(bytes[i])) ++i;
  if (i < bytes.size() && bytes[i] == '<' && looksLikeXml(bytes, i)) return readXml(bytes);
  return readOpenStep(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

Data write(const Value& v, Format f) {
  switch (f) {
    case Format::Binary: return writeBinary(v);
    case Format::Xml: {
      std::string s = writeXml(v);
      return Data(s.begin(), s.end());
    }
    case Format::OpenStep: {
      std::string s = writeOpenStep(v);
      return Data(s.begin(), s.end());
    }
  }
  return {};
}

ReadResult readFile(const std::string& path) {
  ReadResult r;
  Data buf;
  FileReadResult in = readRegularFile(path, kMaxInputFileBytes, &buf);
  if (!in) {
    r.error = in.error;
    return r;
  }
  r = read(buf);
  if (!r) r.error = path + ": " + r.error;
  return r;
}

bool writeFileAtomic(const std::string& path, std::span<const uint8_t> bytes, std::string* error,
                     int* errorNumber) {
  int lastErrno = 0;
  auto fail = [&](const std::string& what) {
    if (error) *error = path + ": " + what;
    if (errorNumber) *errorNumber = lastErrno ? lastErrno : EINVAL;
    return false;
  };
  size_t slash = path.rfind('/');
  std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  if (base.empty()) return fail("no file name");
  std::string tmp = (dir == "/" ? "" : dir) + "/." + base + ".XXXXXX";
  std::vector<char> name(tmp.begin(), tmp.end());
  name.push_back('\0');
  int fd = ::mkstemp(name.data());
  if (fd < 0) return (lastErrno = errno), fail("cannot create a temporary file: " + errnoText(lastErrno));
  auto abandon = [&](const std::string& what) {
    ::close(fd);
    ::unlink(name.data());
    return fail(what);
  };
  // Keep the mode of a file being replaced; a new file gets the usual rw-r--r--.
  struct stat st {};
  mode_t mode = ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0644;
  if (::fchmod(fd, mode) != 0) return (lastErrno = errno), abandon("cannot set permissions: " + errnoText(lastErrno));
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return (lastErrno = errno), abandon("write failed: " + errnoText(lastErrno));
    done += static_cast<size_t>(n);
  }
  if (::fsync(fd) != 0) return (lastErrno = errno), abandon("fsync failed: " + errnoText(lastErrno));
  if (::close(fd) != 0) {
    lastErrno = errno;
    ::unlink(name.data());
    return fail("close failed: " + errnoText(lastErrno));
  }
  if (::rename(name.data(), path.c_str()) != 0) {
    lastErrno = errno;
    ::unlink(name.data());
    return fail("cannot replace the file: " + errnoText(lastErrno));
  }
  // Make the rename itself durable.
  int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    ::fsync(dfd);
    ::close(dfd);
  }
  return true;
}

bool writeFileAtomic(const std::string& path, std::span<const uint8_t> bytes, std::string* error) {
  return writeFileAtomic(path, bytes, error, nullptr);
}

}  // namespace pl

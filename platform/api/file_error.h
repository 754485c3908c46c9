// The error a port reports when a file or folder cannot be written (the platform's file-write
// error for the errno, with the file's path and the errno as the underlying error), the plain
// POSIX error of any other file operation, and the atomic write that reports the first.
#pragma once

#include <cerrno>
#include <cstring>
#include <string>

#include "core/plist/codec.h"
#include "platform/api/alerts.h"
#include "platform/api/status.h"

namespace vl {

inline constexpr const char* kCocoaFileErrorDomain = "NSCocoaErrorDomain";
inline constexpr const char* kPosixErrorDomain = "NSPOSIXErrorDomain";

// 513 no permission, 642 read-only volume, 640 out of space, else 512 (unknown write error).
inline ErrorInfo fileWriteError(int err, const std::string& path) {
  ErrorInfo e;
  e.domain = kCocoaFileErrorDomain;
  e.code = err == EACCES || err == EPERM ? 513 : err == EROFS ? 642 : err == ENOSPC ? 640 : 512;
  std::string name = path.substr(path.find_last_of('/') == std::string::npos ? 0 : path.find_last_of('/') + 1);
  e.userInfo[kDescriptionKey] =
      pl::Value("The file \xe2\x80\x9c" + name + "\xe2\x80\x9d couldn\xe2\x80\x99t be saved: " + std::strerror(err));
  e.userInfo["NSFilePath"] = pl::Value(path);
  pl::Dict underlying;
  underlying["domain"] = pl::Value(kPosixErrorDomain);
  underlying["code"] = pl::Value::int64(err);
  e.userInfo[kUnderlyingErrorKey] = pl::Value(std::move(underlying));
  return e;
}

// Any other failure on a file or folder, as the POSIX error itself: "<path>: <what>: <reason>".
inline ErrorInfo posixFileError(int err, const std::string& path, const std::string& what) {
  ErrorInfo e;
  e.domain = kPosixErrorDomain;
  e.code = err;
  e.userInfo[kDescriptionKey] = pl::Value(path + ": " + what + ": " + std::strerror(err));
  return e;
}

// A port's file-write failure: the errno as code and the path as detail, which is all the
// platform's error object above is made of (fileWriteError below rebuilds it).
inline Status fileWriteFailure(int err, const std::string& path) {
  // 0 would read as success; a write that failed without saying why is an I/O error.
  return Status::failure(err == 0 ? EIO : err, path);
}
inline ErrorInfo fileWriteError(const Status& failure) {
  return fileWriteError(static_cast<int>(failure.code()), failure.detail());
}

// The description text of a file-write failure's error object.
inline std::string fileWriteDescription(const Status& failure) {
  ErrorInfo e = fileWriteError(failure);
  const std::string* text = e.userInfo[kDescriptionKey].asString();
  return text ? *text : std::string();
}

// Writes bytes atomically (beside the final name, then renamed over it); a file-write failure
// as above when it cannot.
inline Status writeFileAtomicallyOrError(const std::string& path, const std::string& bytes) {
  int err = 0;
  if (pl::writeFileAtomic(path, std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()),
                          nullptr, &err))
    return Status::success();
  return fileWriteFailure(err, path);
}

}  // namespace vl

// The error a port reports when a file or folder cannot be written: the platform's file-write
// error for the errno, with the file's path and the errno as the underlying error.
#pragma once

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/api/alerts.h"

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

}  // namespace vl

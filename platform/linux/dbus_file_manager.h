// DbusFileManager: reveals files through the desktop's file manager on the D-Bus session bus
// (org.freedesktop.FileManager1.ShowItems). Without a file manager on the bus, or one that does
// not answer within the timeout, a reveal does nothing and says so.
#pragma once

#include <string>

#include "platform/api/file_manager.h"

namespace vl::linux_ {

inline constexpr const char* kFileManagerService = "org.freedesktop.FileManager1";
inline constexpr const char* kFileManagerPath = "/org/freedesktop/FileManager1";
inline constexpr const char* kFileManagerInterface = "org.freedesktop.FileManager1";

// "file://" and the absolute path with every byte but unreserved characters and "/"
// percent-encoded, so any file name (spaces, "#", non-UTF-8 bytes) makes a valid URI.
std::string fileUri(const std::string& absolutePath);

class DbusFileManager : public FileManager {
 public:
  // address: the bus to ask ("": the user's session bus). A reveal waits at most timeoutSeconds
  // for the answer: it runs on the way out of a failing program and must not hold it up.
  explicit DbusFileManager(std::string address = "", double timeoutSeconds = 2.0);

  // Connects for each request: reveals are rare, and a connection held open would outlive a
  // bus that restarted in between.
  Status revealFile(const std::string& path) override;

  // Why the last reveal did nothing.
  const std::string& lastError() const { return lastError_; }

 private:
  std::string address_;
  double timeout_;
  std::string lastError_;
};

}  // namespace vl::linux_

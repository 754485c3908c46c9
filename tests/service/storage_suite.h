// The storage semantics every backend must share, as a suite parameterised by backend: each
// backend's test file instantiates StorageSuite with a way to open a fresh, empty storage.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "tools/service/storage.h"

namespace svc::test {

struct StorageBackend {
  std::string name;
  // A fresh, empty storage; null with *skip saying why when the backend cannot run here.
  std::function<std::unique_ptr<Storage>(std::string* skip)> open;
};

inline std::string backendName(const testing::TestParamInfo<StorageBackend>& info) { return info.param.name; }

class StorageSuite : public testing::TestWithParam<StorageBackend> {
 protected:
  void SetUp() override {
    std::string skip;
    storage_ = GetParam().open(&skip);
    if (!storage_) GTEST_SKIP() << skip;
  }
  Storage& storage() { return *storage_; }

 private:
  std::unique_ptr<Storage> storage_;
};

// A temporary folder removed with the object.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace svc::test

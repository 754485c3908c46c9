// A test's way to take the value out of a Result: the value, or (with the failure recorded
// against the test) the type's empty value, so that the assertions after it say what broke.
#pragma once

#include <gtest/gtest.h>

#include <utility>

#include "platform/api/status.h"

namespace vl::test {

template <class T>
T valueOf(Result<T> result) {
  EXPECT_TRUE(result.ok()) << result.status().detail();
  if (!result.ok()) return T{};
  return std::move(result).value();
}

}  // namespace vl::test

// Status and Result<T>: the one way anything in the project reports failure — a code (0 is
// success; the documented error numbers and platform status codes stay what they are) plus a
// detail text for people. Both are [[nodiscard]] by type, so a dropped failure is a compile
// warning; a deliberate drop says why through ignore().
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace vl {

class [[nodiscard]] Status {
 public:
  Status() = default;  // success
  static Status success() { return Status(); }
  // A code of 0 with a detail is still a failure: the generic code 1 is used instead, so a
  // caller never mistakes "failed, reason given" for success.
  static Status failure(int64_t code, std::string detail = {}) {
    return Status(code == 0 ? 1 : code, std::move(detail));
  }

  bool ok() const { return code_ == 0; }
  explicit operator bool() const { return ok(); }
  int64_t code() const { return code_; }
  const std::string& detail() const { return detail_; }

  // Adds context in front of the detail ("writing Device.dvsetting: <detail>").
  Status context(std::string_view what) && {
    if (!ok()) detail_ = detail_.empty() ? std::string(what) : std::string(what) + ": " + detail_;
    return std::move(*this);
  }

  // An explicit, documented drop: why says where the failure goes instead (logged, retried
  // later, harmless here).
  void ignore(std::string_view why) const { (void)why; }

  friend bool operator==(const Status& a, const Status& b) { return a.code_ == b.code_ && a.detail_ == b.detail_; }

 private:
  Status(int64_t code, std::string detail) : code_(code), detail_(std::move(detail)) {}
  int64_t code_ = 0;
  std::string detail_;
};

// A value or the Status that explains why there is none.
template <typename T>
class [[nodiscard]] Result {
 public:
  Result(T value) : value_(std::move(value)) {}  // NOLINT(google-explicit-constructor)
  Result(Status failure) : status_(std::move(failure)) {  // NOLINT(google-explicit-constructor)
    if (status_.ok()) status_ = Status::failure(1, "no value");
  }

  bool ok() const { return value_.has_value(); }
  explicit operator bool() const { return ok(); }
  const Status& status() const { return status_; }
  T& value() & { return *value_; }
  const T& value() const& { return *value_; }
  T&& value() && { return std::move(*value_); }
  T* operator->() { return &*value_; }
  const T* operator->() const { return &*value_; }
  T& operator*() & { return *value_; }
  const T& operator*() const& { return *value_; }
  T valueOr(T fallback) const& { return value_ ? *value_ : std::move(fallback); }

  void ignore(std::string_view why) const { (void)why; }

 private:
  std::optional<T> value_;
  Status status_;
};

}  // namespace vl

// The error stack and its details text.
#include "core/errors/error_stack.h"

#include <cstdio>
#include <cstring>

#include "core/plist/number_text.h"

namespace vl {

namespace {
char* slot(ErrorBuffer& b, int i) { return b.data() + i * kErrorSlotBytes; }
const char* slot(const ErrorBuffer& b, int i) { return b.data() + i * kErrorSlotBytes; }
}  // namespace

ErrorBuffer& ErrorStack::buffer(bool clear) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (clear) buf_.fill(0);
  return buf_;
}

void ErrorStack::clear() { buffer(true); }

void ErrorStack::push(const char* domain, int64_t code) {
  if (code == 0) return;
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  ErrorBuffer& b = buf_;
  for (int n = kErrorSlots - 1; n >= 1; --n) {
    if (slot(b, n)[0] != 0 || slot(b, n - 1)[0] != 0)
      std::memcpy(slot(b, n), slot(b, n - 1), kErrorSlotBytes);
  }
  char entry[kErrorSlotBytes];
  if (domain && domain[0] != 0) {
    std::snprintf(entry, sizeof entry, "%s(%d)", domain, static_cast<int32_t>(code));
  } else if (code < 10000) {
    std::snprintf(entry, sizeof entry, "%ld", static_cast<long>(code));
  } else {
    std::string fixed = pl::formatFixed(static_cast<double>(code) / 10000.0, 4);
    std::snprintf(entry, sizeof entry, "%s", fixed.c_str());
  }
  // snprintf already cut the entry to 99 characters and terminated it.
  std::memset(slot(b, 0), 0, kErrorSlotBytes);
  std::memcpy(slot(b, 0), entry, std::strlen(entry));
}

void ErrorStack::push(const ErrorInfo* error) {
  // Follow the underlying-error chain; a bound guards against a chain that loops.
  if (!error) return;
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  push(error->domain.empty() ? nullptr : error->domain.c_str(), error->code);
  auto it = error->userInfo.find(kUnderlyingErrorKey);
  const pl::Value* next = it == error->userInfo.end() ? nullptr : &it->second;
  for (int depth = 0; next && next->isDict() && depth < 64; ++depth) {
    std::string domain = next->stringFor("domain").value_or("");
    int64_t code = next->integerFor("code").value_or(0);
    push(domain.empty() ? nullptr : domain.c_str(), code);
    const pl::Dict* info = next->dictFor("userInfo");
    if (!info) break;
    auto u = info->find(kUnderlyingErrorKey);
    next = u == info->end() ? nullptr : &u->second;
  }
}

std::string ErrorStack::takeText(const BundleInfo& bundle) {
  std::string text = "Error (" + bundle.executable + " " + bundle.version + ") ";
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  for (int i = 0; i < kErrorSlots; ++i) {
    char* s = slot(buf_, i);
    if (s[0] == 0) continue;
    text += std::string(s, strnlen(s, kErrorSlotBytes - 1));
    text += ", ";
    std::memset(s, 0, kErrorSlotBytes);
  }
  return text;
}

std::vector<std::string> ErrorStack::entries() const {
  std::vector<std::string> out;
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  for (int i = 0; i < kErrorSlots; ++i) {
    const char* s = slot(buf_, i);
    if (s[0] != 0) out.emplace_back(s, strnlen(s, kErrorSlotBytes - 1));
  }
  return out;
}

}  // namespace vl

// Fuzz target: settings exchange files — decryption, unarchiving, the header rules and the
// device and application validators. The first byte picks the path: bit 0 set means the rest
// is a plain archive that is encrypted first, so that mutations reach the archive and the
// validators instead of dying at the padding check; bit 1 picks the application type.
#include <cstdint>
#include <span>

#include "core/devices/exchange_file.h"

namespace {
void require(bool ok) {
  if (!ok) __builtin_trap();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t mode = data[0];
  std::span<const uint8_t> rest(data + 1, size - 1);
  pl::Data sealed;
  if (mode & 1) {
    auto s = vl::buttonWithKey(rest, vl::kExchangeKeyText);
    require(s.has_value() && s->size() % 16 == 0 && s->size() > rest.size());
    require(vl::cellWithKey(*s, vl::kExchangeKeyText) == pl::Data(rest.begin(), rest.end()));
    sealed = std::move(*s);
    rest = sealed;
  }
  const bool app = mode & 2;
  const char* type = app ? vl::kExchangeTypeApplication : vl::kExchangeTypeDevice;
  const pl::Date now{800000000};
  vl::ExchangeReadResult r = vl::readExchangeData(rest, type, now);

  // A result is either content that passed every rule, or a named rule and a reason.
  require(r.content.has_value() == (r.failed == vl::ExchangeRule::Passed));
  require(r.detail.empty() == r.content.has_value());
  if (!r.content) return 0;
  require(!r.content->empty() && r.content->size() <= vl::kMaxExchangeContent);
  require(r.created.seconds <= now.seconds);
  require(r.version > 0 && r.version <= vl::kExchangeVersion);
  if (app) {
    require(vl::QS813validateAppDics(*r.content, false));
  } else {
    require(vl::QS813validateDevDics(*r.content));
    for (const auto& d : *r.content) require(vl::deviceIndexOfDic(d).has_value());
  }
  // Whatever passed can be written again and reads back the same.
  auto again = app ? vl::QS813appSettingDataWithAppDics("fuzz", pl::Value(1), *r.content)
                   : vl::QS813devSettingDataWithDevDics("fuzz", pl::Value(1), *r.content);
  require(again.has_value());
  vl::ExchangeReadResult back = vl::readExchangeData(*again, type, vl::exchangeNow());
  require(back.content.has_value() && *back.content == *r.content);
  return 0;
}

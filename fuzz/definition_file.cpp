// Fuzz target: the device-definition loader and everything read from a definition — typed
// accessors with their limits, localized names, personality scores and the choice between
// two definitions.
#include <cstdint>
#include <span>

#include "core/devices/device_definition.h"
#include "platform/api/platform.h"
#include "platform/api/system_info.h"

namespace {

void require(bool ok) {
  if (!ok) __builtin_trap();
}

// A Japanese user on 10.14.6, so localized keys and the version filter are exercised.
class FuzzSystem : public vl::SystemInfo {
 public:
  vl::OsVersion osVersion() const override { return {10, 14, 6}; }
  std::vector<std::string> preferredLanguages() const override { return {"ja-JP"}; }
  std::string hardwareModel() const override { return {}; }
  std::string marketingNameForModel(const std::string&) const override { return {}; }
  uint32_t userID() const override { return 0; }
  uint32_t groupID() const override { return 0; }
  std::string userName() const override { return {}; }
  std::string processName() const override { return "fuzz"; }
  int32_t processID() const override { return 0; }
};

bool validScore(int s) { return s == 0 || (s >= 1000 && s <= 1111); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static FuzzSystem system;
  vl::Platform platform;
  platform.system = &system;

  auto d = vl::QS834DeviceDefinition::deviceDefinitionWithData({data, size}, "fuzz.xml", size % 2 == 0);
  if (!d) return 0;
  require(d->content().isDict() && !d->content().asDict()->empty());

  d->createDate();
  require(vl::isVersionText(d->osVersion()));
  if (auto r = d->pointerResolution()) require(*r >= 10 && *r <= 2000);
  if (auto b = d->buttonCount()) require(*b >= 1 && *b <= 32);
  if (auto h = d->hScrollOp()) require(!h->empty());
  if (auto p = d->partName()) require(p->size() < 50);
  if (auto o = d->deviceOps()) require(o->size() < 20);
  if (auto o = d->localizedDeviceOps(platform)) require(o->size() < 20);
  if (auto a = d->actDicList()) require(a->size() <= 49);
  if (auto k = d->keyboardInputList()) require(k->size() <= 99);
  if (auto k = d->keyboardInputListDecimalKey()) require(!k->empty() && k->size() <= 99);
  d->needsButtonFixer();
  d->setupImmediately();
  d->isAvailableForCurrentOS(platform);
  d->description();

  // Score every personality against its own identity and a few others.
  if (const pl::Array* list = d->personalities()) {
    require(list->size() < 100);
    for (const auto& p : *list) {
      uint32_t vid = static_cast<uint32_t>(p.integerFor("vid").value_or(0));
      uint32_t pid = static_cast<uint32_t>(p.integerFor("pid").value_or(0));
      uint32_t mid = static_cast<uint32_t>(p.integerFor("mid").value_or(0));
      std::string transport = p.stringFor("transport").value_or("");
      require(validScore(vl::QS834DeviceDefinition::scoreForPersonality(p, vid, pid, mid, transport)));
      require(validScore(vl::QS834DeviceDefinition::scoreForPersonality(p, vid, pid ^ 1, mid, "USB")));
      vl::QS834DeviceDefinition::nameOfPersonality(platform, p);
      int score = -1;
      d->personalityForVID(vid, pid, mid, transport, &score);
      require(validScore(score));
      if (auto name = d->nameForVID(platform, vid, pid, mid, transport)) require(!name->empty() && name->size() <= 400);
    }
  }
  // Choosing between the definition and a copy of it in the other folder: the user's wins.
  auto twin = std::make_shared<const vl::QS834DeviceDefinition>(d->content(), "twin.xml", !d->inUserFolder());
  require(*twin == *d);
  auto chosen = vl::QS834deviceDefFromList({d, twin}, 0x46D, 0xC52B, 0x4082, "USB");
  if (chosen) require(chosen->inUserFolder());
  return 0;
}

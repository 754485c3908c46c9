// Fuzz target: a settings store file of arbitrary bytes opened read-only, with every record,
// relationship and dictionary form read, as the agent and the command line read a store.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "core/store/records.h"

namespace {

const std::string& folder() {
  static const std::string dir = [] {
    std::string tmpl = (std::filesystem::temp_directory_path() / "velmora-fuzz-store-XXXXXX").string();
    char* made = mkdtemp(tmpl.data());
    return std::string(made ? made : "/tmp");
  }();
  return dir;
}

void removeStore(const std::string& path) {
  for (const char* suffix : {"", "-wal", "-shm", "-journal"}) std::remove((path + suffix).c_str());
}

void readEverything(vl::ManagedObjectContext* ctx) {
  using namespace vl;
  size_t sink = 0;
  for (QS802DeviceClass* d : QS814allDevices(ctx)) {
    sink += d->index().size() + d->displayName().size() + d->devDic().size();
    if (QS805CursorSpeedClass* cs = d->selectedCursorSpeed()) sink += cs->VL705label().size();
    for (QS805CursorSpeedClass* cs : d->cursorSpeeds()) {
      sink += cs->sensitivityDisplay().size() + cs->csDic().size();
      if (auto c = cs->color()) sink += static_cast<size_t>(c->red * 255);
    }
    for (QS803AppClass* a : d->applications()) {
      sink += a->appDic().size() + a->actions().size();
      if (a->defApplication()) ++sink;
    }
    d->setVL702cursorSpeedSelectedIndexes(d->VL702cursorSpeedSelectedIndexes());
  }
  for (QS804ActionClass* a : QS814allActions(ctx)) sink += a->actDic().size() + (a->application() != nullptr);
  if (auto apps = QS803AppClass::fetchAllSnappingApps(ctx->errorStack(), ctx))
    for (QS803AppClass* a : *apps) sink += a->actualSnapping().size() + a->snappingMenuIX() + a->displayName().size();
  if (QS809UserInfoClass* u = QS814fetchUserInfo(ctx->errorStack(), ctx)) sink += u->vlDeviceSelectedIndex().value_or("").size();
  // A read-only context never writes, whatever it read.
  if (ctx->save(nullptr) && ctx->hasChanges()) __builtin_trap();
  if (sink == 0xdeadbeef) std::puts("");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = folder() + "/Device.dvsetting";
  removeStore(path);
  {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  vl::storeFileState(path);
  vl::ErrorStack errors;
  vl::StoreContextRef ctx;
  vl::ErrorInfo err;
  if (vl::QS814createMOC(vl::Platform{}, errors, path, nullptr, true, &ctx, &err) == 0) readEverything(ctx.get());
  ctx.reset();
  removeStore(path);
  return 0;
}

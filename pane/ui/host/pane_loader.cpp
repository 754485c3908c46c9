// Opens the pane's shared library and checks its entry table before the host trusts it.
#include "pane/ui/host/pane_loader.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include "core/plist/codec.h"

namespace vl::host {

std::string paneExecutablePath(const std::string& bundlePath) {
  std::string name = "Velmora";
  auto info = pl::readFile(bundlePath + "/Contents/Info.plist");
  if (info && info.value->isDict()) {
    // A name that would leave the MacOS folder is not an executable name.
    if (auto named = info.value->stringFor("CFBundleExecutable");
        named && !named->empty() && named->find('/') == std::string::npos && *named != "." && *named != "..")
      name = *named;
  }
  return bundlePath + "/Contents/MacOS/" + name;
}

std::unique_ptr<LoadedPane> LoadedPane::load(const std::string& bundlePath, std::string* error) {
  auto fail = [&](const std::string& why) {
    if (error) *error = why;
    return nullptr;
  };
  std::string exe = paneExecutablePath(bundlePath);
  struct stat st {};
  if (::stat(exe.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
    return fail(bundlePath + " is not a pane: it has no " + exe.substr(bundlePath.size() + 1));
  // The pane's widgets and Qt's registrations outlive any point where unloading would be safe,
  // so a pane that was accepted stays mapped for the life of the process.
  void* handle = ::dlopen(exe.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* why = ::dlerror();
    return fail("cannot load the pane " + exe + ": " + (why ? why : "unknown error"));
  }
  auto refuse = [&](const std::string& why) {
    ::dlclose(handle);
    return fail(why);
  };
  ::dlerror();
  void* symbol = ::dlsym(handle, "velmora_pane_entry");
  if (!symbol) return refuse(exe + " is not a Velmora pane: it has no entry point velmora_pane_entry");
  auto entryFunction = reinterpret_cast<VelmoraPaneEntryFunction>(symbol);
  const VelmoraPaneEntry* entry = entryFunction();
  if (!entry) return refuse(exe + ": velmora_pane_entry gave no entry table");
  if (entry->abiVersion != kVelmoraPaneAbiVersion)
    return refuse(exe + " is made for pane ABI version " + std::to_string(entry->abiVersion) +
                  "; this velmora-settings loads version " + std::to_string(kVelmoraPaneAbiVersion) +
                  ": rebuild the pane and the host together");
  const std::pair<const char*, bool> functions[] = {
      {"create", entry->create != nullptr},
      {"mainNibName", entry->mainNibName != nullptr},
      {"loadMainView", entry->loadMainView != nullptr},
      {"willSelect", entry->willSelect != nullptr},
      {"didSelect", entry->didSelect != nullptr},
      {"shouldUnselect", entry->shouldUnselect != nullptr},
      {"willUnselect", entry->willUnselect != nullptr},
      {"selectTab", entry->selectTab != nullptr},
      {"destroy", entry->destroy != nullptr},
  };
  for (const auto& [name, present] : functions)
    if (!present) return refuse(exe + ": the entry table leaves out " + name);

  std::unique_ptr<LoadedPane> pane(new LoadedPane);
  pane->handle_ = handle;
  pane->entry_ = entry;
  pane->bundlePath_ = bundlePath;
  pane->executablePath_ = exe;
  return pane;
}

LoadedPane::~LoadedPane() = default;  // stays mapped: see load

}  // namespace vl::host

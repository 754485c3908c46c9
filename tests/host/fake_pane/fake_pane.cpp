// A stand-in pane for the settings host's tests, built in several kinds (FAKE_PANE_<KIND>): a
// good one that records every life-cycle call, and broken ones the host must refuse.
#include <QLabel>
#include <QWidget>
#include <cstdlib>
#include <string>
#include <vector>

#include "pane/ui/pane_plugin.h"

namespace {

std::vector<std::string>& calls() {
  static std::vector<std::string> c;
  return c;
}

struct FakeState {
  std::string bundle, world, hostName, hostID;
};

int vetoes = 0;  // how many shouldUnselect calls still answer false

FakeState* state(VelmoraPane* p) { return reinterpret_cast<FakeState*>(p); }

VelmoraPane* create(const VelmoraPaneHostInfo* host) {
#if defined(FAKE_PANE_NO_CREATE)
  (void)host;
  calls().push_back("create-failed");
  return nullptr;
#else
  auto* s = new FakeState{host->paneBundlePath ? host->paneBundlePath : "", host->worldFolder ? host->worldFolder : "",
                          host->hostName ? host->hostName : "", host->hostBundleID ? host->hostBundleID : ""};
  calls().push_back("create " + s->bundle + " world=" + s->world + " host=" + s->hostID);
  return reinterpret_cast<VelmoraPane*>(s);
#endif
}

const char* mainNibName(VelmoraPane*) {
  calls().push_back("mainNibName");
#if defined(FAKE_PANE_ERROR_VIEW)
  return "ErrorWin";
#else
  return "";
#endif
}

QWidget* loadMainView(VelmoraPane*, QWidget* parent) {
  calls().push_back("loadMainView");
  auto* view = new QWidget(parent);
  view->setObjectName("fakePaneView");
  view->setMinimumSize(320, 200);
  view->setAutoFillBackground(true);
  QPalette pal = view->palette();
  pal.setColor(QPalette::Window, QColor(0x20, 0x80, 0xd0));
  view->setPalette(pal);
  auto* label = new QLabel("fake pane", view);
  label->setAccessibleName("fake pane");
  return view;
}

void willSelect(VelmoraPane*) { calls().push_back("willSelect"); }
void didSelect(VelmoraPane*) { calls().push_back("didSelect"); }
bool shouldUnselect(VelmoraPane*) {
  bool allow = vetoes == 0;
  if (!allow) --vetoes;
  calls().push_back(allow ? "shouldUnselect yes" : "shouldUnselect no");
  return allow;
}
void willUnselect(VelmoraPane*) { calls().push_back("willUnselect"); }
bool selectTab(VelmoraPane*, const char* name) {
  calls().push_back(std::string("selectTab ") + name);
  return std::string(name) == "speed";
}
void destroy(VelmoraPane* p) {
  calls().push_back("destroy");
  delete state(p);
}

#if defined(FAKE_PANE_WRONG_ABI)
constexpr int32_t kAbi = kVelmoraPaneAbiVersion + 1;
#else
constexpr int32_t kAbi = kVelmoraPaneAbiVersion;
#endif

const VelmoraPaneEntry kEntry = {kAbi,      create,         mainNibName,  loadMainView, willSelect,
                                 didSelect, shouldUnselect, willUnselect, selectTab,    destroy};

}  // namespace

extern "C" {

#if !defined(FAKE_PANE_NO_ENTRY)
__attribute__((visibility("default"))) const VelmoraPaneEntry* velmora_pane_entry(void) {
#if defined(FAKE_PANE_NO_TABLE)
  return nullptr;
#else
  return &kEntry;
#endif
}
#endif

// For the tests: the calls so far, and the number of vetoes to answer next.
__attribute__((visibility("default"))) const std::vector<std::string>* fake_pane_calls(void) { return &calls(); }
__attribute__((visibility("default"))) void fake_pane_clear(void) { calls().clear(); }
__attribute__((visibility("default"))) void fake_pane_veto(int count) { vetoes = count; }

}  // extern "C"

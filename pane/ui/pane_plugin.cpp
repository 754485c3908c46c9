// The pane's plug-in: the one exported entry point, which makes the pane on the host's world and
// hands its life cycle to the host.
#include "pane/ui/pane_plugin.h"

#include <QGuiApplication>
#include <cstdio>
#include <memory>
#include <string>

#include "core/system/alerts.h"
#include "core/system/drovana.h"
#include "pane/ui/pane_process.h"
#include "pane/ui/pane_ui.h"

struct VelmoraPane {
  // Who this pane is and where its failures go: made here, outliving the pane's objects.
  vl::ErrorStack errors;
  vl::ProcessIdentity identity;
  std::unique_ptr<vl::ui::PaneProcess> process;
  vl::ui::QtInputState input;
  std::unique_ptr<vl::ui::PaneUi> ui;
  std::string nib;
};

namespace {

std::string text(const char* s) { return s ? s : ""; }

VelmoraPane* create(const VelmoraPaneHostInfo* host) {
  if (!host || !QGuiApplication::instance()) {
    std::fprintf(stderr, "Velmora: the pane needs a host and its QApplication\n");
    return nullptr;
  }
  vl::ui::PaneProcessOptions options;
  options.paneBundlePath = text(host->paneBundlePath);
  options.worldFolder = text(host->worldFolder);
  // No world named: the pane runs on this machine's own devices and session.
  options.desktop = options.worldFolder.empty();
  options.hostBundleID = text(host->hostBundleID);
  // Without a screen nobody can dismiss a message box: the texts go to standard error only.
  options.interactive = QGuiApplication::platformName() != QStringLiteral("offscreen");
  std::string error;
  auto pane = std::make_unique<VelmoraPane>();
  pane->process = vl::ui::PaneProcess::create(options, &error);
  if (!pane->process) {
    std::fprintf(stderr, "Velmora: %s\n", error.c_str());
    return nullptr;
  }
  const vl::BundleInfo& bundle = pane->process->bundle();
  pane->identity = {vl::ProcessRole::Pane,
                    {options.hostBundleID, text(host->hostName), VELMORA_VERSION_TEXT, ""},
                    bundle};
  vl::PaneSettings settings;
  settings.bundlePath = options.paneBundlePath;
  settings.bundle = bundle;
  settings.desktop = pane->process->desktopLimits();
  pane->ui = std::make_unique<vl::ui::PaneUi>(pane->process->platform(), vl::ErrorContext{pane->errors, pane->identity},
                                               settings, pane->input);
  pane->process->alerts().setMainWindow(&pane->ui->view());
  vl::ui::PaneUi* ui = pane->ui.get();
  pane->process->setMessageSink([ui](const std::string& m) { ui->paneLog().put(m); });
  return pane.release();
}

const char* mainNibName(VelmoraPane* pane) {
  pane->nib = pane->ui->mainNibName();
  return pane->nib == vl::kErrorNibName ? vl::kErrorNibName : "";
}

QWidget* loadMainView(VelmoraPane* pane, QWidget* parent) { return pane->ui->loadMainView(parent); }
void willSelect(VelmoraPane* pane) { pane->ui->willSelect(); }
void didSelect(VelmoraPane* pane) { pane->ui->didSelect(); }
bool shouldUnselect(VelmoraPane* pane) { return pane->ui->shouldUnselect(); }
void willUnselect(VelmoraPane* pane) { pane->ui->willUnselect(); }
bool selectTab(VelmoraPane* pane, const char* name) { return name && pane->ui->selectTab(name); }

void destroy(VelmoraPane* pane) {
  if (!pane) return;
  // The controller and its view go before the ports they use.
  pane->process->setMessageSink({});
  pane->ui.reset();
  delete pane;
}

constexpr VelmoraPaneEntry kEntry{kVelmoraPaneAbiVersion, create, mainNibName, loadMainView, willSelect,
                                  didSelect, shouldUnselect, willUnselect, selectTab, destroy};

}  // namespace

extern "C" __attribute__((visibility("default"))) const VelmoraPaneEntry* velmora_pane_entry(void) { return &kEntry; }

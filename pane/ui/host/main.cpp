// velmora-settings: the settings host. It stands where System Preferences stands: finds the
// Velmora pane, loads its plug-in and shows it in a window with a "Show All" control, driving
// the pane through its select and unselect cycle. --screenshot renders the pane into a PNG.
#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QPixmap>
#include <QSocketNotifier>
#include <QTimer>
#include <csignal>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>

#include "pane/ui/host/host_window.h"
#include "pane/ui/host/pane_loader.h"
#include "pane/ui/host/pane_lookup.h"
#include "pane/ui/host/pane_session.h"
#include "pane/ui/pane_tab_names.h"
#include "platform/linux/xdg_paths.h"
#include "platform/sim/world.h"
#include "tools/common/system_choice.h"
#include "platform/sim/world_paths.h"
#include "tools/common/cli_args.h"
#include "tools/common/suggest.h"

namespace {

constexpr int kExitCannotShow = 1;
constexpr int kExitUsage = 2;
// Fits a 1366x768 laptop screen with its panel and the window's title bar.
constexpr int kDefaultWidth = 1100, kDefaultHeight = 700;

const char* kHelp =
    "usage: velmora-settings [--system desktop|world] [--world DIR] [--pane PATH] [--tab NAME] [--size WxH]\n"
    "                        [--screenshot FILE.png [--delay S]]\n\n"
    "Opens the Velmora settings window: finds the Velmora pane, loads it and shows it. The pane\n"
    "starts Velmora Manager (the agent) when it is not running from a bundle at least as new;\n"
    "closing the window leaves the agent running.\n\n"
    "  --system desktop     this machine's own mice and trackpads, its session bus and desktop, with\n"
    "                       the agent as a systemd user service (the default without --world or\n"
    "                       $VELMORA_WORLD)\n"
    "  --world DIR          a simulated Mac to run on instead ($VELMORA_WORLD gives one too);\n"
    "                       create one with 'velmora-sim init'\n"
    "  --system world       the simulated Mac of $VELMORA_WORLD, else $XDG_DATA_HOME/velmora/world\n"
    "  --pane PATH          load this Velmora.prefPane instead of looking for one; otherwise the\n"
    "                       first found of: the world's Library/PreferencePanes (on a world), the user's\n"
    "                       $XDG_DATA_HOME/velmora/PreferencePanes, the data dirs' velmora/\n"
    "                       PreferencePanes, then the bundle the build left beside this program\n"
    "  --tab NAME           open the pane on this tab: speed, apps or other\n"
    "  --size WIDTHxHEIGHT  the window's size in pixels (default 1100x700); 1366x768 is a\n"
    "                       laptop's whole screen\n"
    "  --screenshot FILE    render the window with the pane selected into FILE (PNG) after its\n"
    "                       first paint and quit; works without a display (offscreen)\n"
    "  --delay SECONDS      with --screenshot: wait this long after the first paint (0 to 60;\n"
    "                       the pane lists new devices after its standby time, about 2.5 s)\n"
    "  --help, --version\n\n"
    "\"Show All\" (Ctrl+L) leaves the pane for the overview, Quit (Ctrl+Q) or closing the window\n"
    "quits; the pane may refuse either while an edit cannot be committed. SIGTERM, SIGINT and\n"
    "SIGHUP close the window the same way.\n\n"
    "Exit status: 0 when the window was closed (or the screenshot saved), 1 when the pane cannot\n"
    "be found, loaded or shown, 2 for usage errors, 70 after a fatal error of the pane.\n";

int usage(const std::string& message) {
  std::cerr << "velmora-settings: " << message << "\nTry 'velmora-settings --help'.\n";
  return kExitUsage;
}

int cannotShow(const std::string& message) {
  std::cerr << "velmora-settings: " << message << "\n";
  return kExitCannotShow;
}

bool haveDisplay() {
  const char* x = std::getenv("DISPLAY");
  const char* w = std::getenv("WAYLAND_DISPLAY");
  return (x && *x) || (w && *w);
}

int signalPipe[2] = {-1, -1};
void onSignal(int sig) {
  char c = static_cast<char>(sig);
  (void)!::write(signalPipe[1], &c, 1);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace vl;
  std::string worldOption, paneOption, screenshot, tab, delayText, sizeText, systemOption;
  bool worldGiven = false, version = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&](const std::string& name, std::string& out) {
      if (a == name) {
        if (i + 1 >= argc) return false;
        out = argv[++i];
        return true;
      }
      if (a.rfind(name + "=", 0) == 0) {
        out = a.substr(name.size() + 1);
        return true;
      }
      return false;
    };
    if (a == "--help" || a == "-h") {
      std::cout << kHelp;
      return 0;
    }
    if (a == "--version") {
      version = true;
      continue;
    }
    if (value("--world", worldOption)) {
      worldGiven = true;
      continue;
    }
    if (value("--system", systemOption) || value("--pane", paneOption) || value("--screenshot", screenshot) ||
        value("--tab", tab) || value("--delay", delayText) || value("--size", sizeText))
      continue;
    if (a == "--world" || a == "--pane" || a == "--screenshot" || a == "--tab" || a == "--delay" || a == "--size" ||
        a == "--system")
      return usage(a + " needs a value");
    return usage("unexpected argument '" + a + "'" +
                 cli::didYouMean(a, {"--world", "--system", "--pane", "--screenshot", "--tab", "--delay", "--size",
                                     "--help", "--version"}));
  }
  auto choice = cli::chooseSystem(systemOption, worldGiven, std::getenv("VELMORA_WORLD"));
  if (!choice) return usage(choice.status().detail());
  const bool desktop = choice->system == cli::System::Desktop;
  if (version) {
    std::cout << "velmora-settings " << VELMORA_VERSION_TEXT << "\n" << cli::systemLine(*choice) << "\n";
    return 0;
  }
  double width = kDefaultWidth, height = kDefaultHeight;
  if (!sizeText.empty()) {
    const size_t x = sizeText.find('x');
    if (x == std::string::npos) return usage("--size takes WIDTHxHEIGHT, for example 1366x768");
    Result<double> w = cli::parseNumberIn("--size width", sizeText.substr(0, x), 320, 8192);
    if (!w) return usage(w.status().detail());
    Result<double> h = cli::parseNumberIn("--size height", sizeText.substr(x + 1), 240, 8192);
    if (!h) return usage(h.status().detail());
    width = *w;
    height = *h;
  }
  double delay = 0;
  if (!delayText.empty()) {
    Result<double> d = cli::parseNumberIn("--delay", delayText, 0, 60);
    if (!d) return usage(d.status().detail());
    delay = *d;
    if (screenshot.empty()) return usage("--delay goes with --screenshot");
  }
  // On this machine the pane is given no world and builds the real machine's ports itself.
  std::string folder;
  if (!desktop) {
    folder = sim::worldFolderFor(worldOption);
    if (!sim::World::exists(folder))
      return cannotShow("no simulated Mac at " + folder + "\nCreate one with 'velmora-sim init'.");
  }

  std::string error;
  auto xdg = linux_::XdgPaths::create(linux_::XdgEnvironment::fromProcess(), "");
  if (!xdg) return cannotShow(xdg.status().detail());
  std::optional<sim::WorldPaths> worldPaths;
  if (!desktop) worldPaths.emplace(*xdg, folder);
  const Paths* paths = worldPaths ? static_cast<const Paths*>(&*worldPaths) : &*xdg;
  host::PaneLookup lookup{paneOption, paths, host::runningProgramFolder()};
  auto found = host::findPane(lookup, &error);
  if (!found) return cannotShow(error);
  auto loaded = host::LoadedPane::load(found->path, &error);
  if (!loaded) return cannotShow(error);

  if (!haveDisplay() && !std::getenv("QT_QPA_PLATFORM")) {
    if (screenshot.empty())
      return cannotShow("no display (DISPLAY and WAYLAND_DISPLAY are unset): open the window under a virtual one with\n"
                        "  xvfb-run -a " + std::string(argv[0]) + "\nor render it with --screenshot FILE.png");
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  }

  QApplication app(argc, argv);
  QApplication::setApplicationName("velmora-settings");
  QApplication::setApplicationVersion(VELMORA_VERSION_TEXT);

  host::PaneSession session(*loaded, folder);
  if (!session.create(&error)) return cannotShow(error);
  int status = 0;
  {
    host::HostWindow window(session);
    window.resize(static_cast<int>(width), static_cast<int>(height));
    if (!window.selectPane()) return cannotShow("the pane gave no view to show");
    if (!tab.empty() && !session.selectTab(tab)) {
      window.hide();
      session.destroy();
      return usage("the pane has no tab '" + tab + "'" + cli::didYouMean(tab, vl::ui::paneTabNames()));
    }

    if (!screenshot.empty()) {
      auto takeShot = [&] {
        QPixmap shot = window.grab();
        if (shot.isNull() || !shot.save(QString::fromStdString(screenshot), "PNG")) {
          std::cerr << "velmora-settings: cannot write the screenshot to " << screenshot << "\n";
          app.exit(kExitCannotShow);
          return;
        }
        if (session.showsErrorView()) {
          std::cerr << "velmora-settings: the pane could not be shown: it shows its error view (saved in "
                    << screenshot << ")\n";
          app.exit(kExitCannotShow);
          return;
        }
        app.exit(0);
      };
      window.onFirstPanePaint([&, takeShot] { QTimer::singleShot(static_cast<int>(delay * 1000), &window, takeShot); });
    }

    // Signals close the window as the user would; handled on the event loop, not in the handler.
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) == 0) {
      auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &window);
      QObject::connect(notifier, &QSocketNotifier::activated, &window, [&] {
        char c;
        while (::read(signalPipe[0], &c, 1) > 0) {
        }
        window.close();
      });
      struct sigaction sa {};
      sa.sa_handler = onSignal;
      sigemptyset(&sa.sa_mask);
      for (int sig : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(sig, &sa, nullptr);
    }

    status = app.exec();
    // The pane goes while its view's window still exists.
    session.destroy();
  }
  return status;
}

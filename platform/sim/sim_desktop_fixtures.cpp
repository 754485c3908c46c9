// Desktop fixtures: element trees read from property lists, and fixture files put on the desktop.
#include <functional>

#include "platform/sim/sim_desktop_model.h"

namespace vl::sim {

using namespace desktop_detail;

Result<ElementSpec> elementSpecFromPlist(const pl::Value& v) {
  std::function<Result<ElementSpec>(const pl::Value&, int)> parse = [&](const pl::Value& e,
                                                                       int depth) -> Result<ElementSpec> {
    auto fail = [](const std::string& why) { return Status::failure(1, why); };
    if (!e.isDict()) return fail("element is not a dictionary");
    if (depth > 48) return fail("elements nested too deeply");
    ElementSpec s;
    s.role = e.stringFor("role").value_or(kAXButtonRole);
    s.subrole = e.stringFor("subrole");
    s.title = e.stringFor("title");
    if (const pl::Value* f = e.find("frame")) {
      s.frame = rectFrom(f);
      if (!s.frame) return fail("frame must be [x, y, width, height]");
    }
    s.enabled = e.boolFor("enabled");
    if (!s.enabled && s.role == kAXButtonRole && !e.find("enabled")) s.enabled = true;
    s.name = e.stringFor("name").value_or("");
    if (const pl::Dict* links = e.dictFor("links"))
      for (const auto& [k, t] : *links)
        if (t.isString()) s.links[k] = *t.asString();
    s.failures = failuresFrom(e.find("failures"));
    if (const pl::Array* kids = e.arrayFor("children")) {
      for (const auto& k : *kids) {
        auto c = parse(k, depth + 1);
        if (!c) return c.status();
        s.children.push_back(std::move(*c));
      }
    }
    return s;
  };
  return parse(v, 0);
}

Result<uint64_t> loadDesktopFixture(SimDesktop& desktop, const pl::Value& fixture) {
  const pl::Value* appV = fixture.find("application");
  const pl::Value* winV = fixture.find("window");
  if (!appV || !appV->isDict() || !winV) return Status::failure(1, "fixture needs an application and a window");
  auto spec = elementSpecFromPlist(*winV);
  if (!spec) return spec.status();
  RunningApplication app;
  app.localizedName = appV->stringFor("name").value_or("App");
  app.bundleIdentifier = appV->stringFor("bundleIdentifier").value_or("sim." + app.localizedName);
  app.bundleURL = "/Applications/" + app.localizedName + ".app";
  app.executableURL = app.bundleURL + "/Contents/MacOS/" + app.localizedName;
  auto pid = desktop.pidOf(app.bundleIdentifier);
  int32_t p = pid ? *pid
                  : desktop.launch(app, static_cast<int32_t>(appV->integerFor("activationPolicy").value_or(0)), false);
  uint64_t parent = 0;
  if (const pl::Value* host = fixture.find("host")) {
    auto hostSpec = elementSpecFromPlist(*host);
    if (!hostSpec) return hostSpec.status();
    parent = desktop.openWindow(p, *hostSpec);
  }
  desktop.activate(p);
  return desktop.openWindow(p, *spec, parent);
}

}  // namespace vl::sim

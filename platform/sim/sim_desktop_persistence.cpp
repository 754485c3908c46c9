// The simulated desktop as a property list (what the world keeps), back again, and as text.
#include <functional>
#include <mutex>
#include <sstream>

#include "platform/sim/sim_desktop_model.h"

namespace vl::sim {

using namespace desktop_detail;

namespace {

pl::Value idList(const std::vector<uint64_t>& ids) {
  pl::Array a;
  for (uint64_t id : ids) a.push_back(pl::Value::uint64(id));
  return a;
}
std::vector<uint64_t> idsFrom(const pl::Value* v) {
  std::vector<uint64_t> out;
  if (const pl::Array* a = v ? v->asArray() : nullptr)
    for (const auto& e : *a)
      if (e.isNumber()) out.push_back(e.unsignedLongLongValue());
  return out;
}
pl::Value failureDict(const std::map<std::string, int32_t>& f) {
  pl::Dict d;
  for (const auto& [k, v] : f) d[k] = pl::Value::int32(v);
  return d;
}

}  // namespace

pl::Value SimDesktop::save() const {
  std::lock_guard<std::mutex> l(model_->m);
  const Model& m = *model_;
  pl::Dict root;
  pl::Array apps;
  for (const auto& [pid, a] : m.apps) {
    pl::Dict d;
    d["pid"] = pl::Value::int32(pid);
    d["bundleIdentifier"] = a.info.bundleIdentifier;
    d["bundleURL"] = a.info.bundleURL;
    d["executableURL"] = a.info.executableURL;
    d["name"] = a.info.localizedName;
    d["activationPolicy"] = pl::Value::int32(a.policy);
    d["hidden"] = a.hidden;
    d["element"] = pl::Value::uint64(a.element);
    d["windows"] = idList(a.windows);
    d["focused"] = pl::Value::uint64(a.focused);
    if (!a.failures.empty()) d["failures"] = failureDict(a.failures);
    apps.emplace_back(std::move(d));
  }
  root["applications"] = std::move(apps);
  pl::Array nodes;
  for (const auto& [id, n] : m.nodes) {
    bool isApp = false;
    for (const auto& [pid, a] : m.apps) isApp = isApp || a.element == id;
    if (isApp) continue;
    pl::Dict d;
    d["id"] = pl::Value::uint64(id);
    d["pid"] = pl::Value::int32(n.pid);
    d["parent"] = pl::Value::uint64(n.parent);
    d["role"] = n.role;
    if (n.subrole) d["subrole"] = *n.subrole;
    if (n.title) d["title"] = *n.title;
    if (n.frame) d["frame"] = rectValue(*n.frame);
    if (n.enabled) d["enabled"] = *n.enabled;
    if (n.minimized) d["minimized"] = true;
    if (!n.name.empty()) d["name"] = n.name;
    d["children"] = idList(n.children);
    if (!n.links.empty()) {
      pl::Dict links;
      for (const auto& [k, v] : n.links) links[k] = pl::Value::uint64(v);
      d["links"] = std::move(links);
    }
    if (!n.failures.empty()) d["failures"] = failureDict(n.failures);
    nodes.emplace_back(std::move(d));
  }
  root["elements"] = std::move(nodes);
  root["zOrder"] = idList(m.zOrder);
  root["frontmost"] = pl::Value::int32(m.frontmost);
  root["focusPid"] = pl::Value::int32(m.axFocusPid);
  root["nextId"] = pl::Value::uint64(m.nextId);
  root["nextPid"] = pl::Value::int32(m.nextPid);
  root["cursor"] = pl::Array{m.cursor.x, m.cursor.y};
  root["buttons"] = pl::Value::uint32(m.buttons);
  root["modifierFlags"] = pl::Value::uint64(m.flags);
  root["trusted"] = m.trusted;
  root["prompts"] = pl::Value::int32(m.prompts);
  pl::Array own;
  for (const auto& w : m.ownWindows) {
    pl::Dict d;
    d["number"] = pl::Value::uint32(w.number);
    d["pid"] = pl::Value::int32(w.ownerPid);
    d["frame"] = rectValue(w.frame);
    own.emplace_back(std::move(d));
  }
  root["processWindows"] = std::move(own);
  return root;
}

Status SimDesktop::load(const pl::Value& saved, bool keepLocal) {
  auto fail = [](const std::string& why) { return Status::failure(1, why); };
  if (!saved.isDict()) return fail("desktop is not a dictionary");
  Model fresh;
  for (const auto& a : saved.arrayFor("applications") ? *saved.arrayFor("applications") : pl::Array{}) {
    App app;
    auto pid = a.integerFor("pid");
    auto element = a.integerFor("element");
    if (!pid || !element) return fail("application without pid or element");
    app.info.processIdentifier = static_cast<int32_t>(*pid);
    app.info.bundleIdentifier = a.stringFor("bundleIdentifier").value_or("");
    app.info.bundleURL = a.stringFor("bundleURL").value_or("");
    app.info.executableURL = a.stringFor("executableURL").value_or("");
    app.info.localizedName = a.stringFor("name").value_or("");
    app.policy = static_cast<int32_t>(a.integerFor("activationPolicy").value_or(0));
    app.hidden = a.boolFor("hidden").value_or(false);
    app.element = static_cast<uint64_t>(*element);
    app.windows = idsFrom(a.find("windows"));
    app.focused = static_cast<uint64_t>(a.integerFor("focused").value_or(0));
    app.failures = failuresFrom(a.find("failures"));
    Node e;
    e.id = app.element;
    e.pid = app.info.processIdentifier;
    e.role = kAXApplicationRole;
    e.title = app.info.localizedName;
    fresh.nodes[e.id] = e;
    fresh.apps[app.info.processIdentifier] = std::move(app);
  }
  for (const auto& v : saved.arrayFor("elements") ? *saved.arrayFor("elements") : pl::Array{}) {
    Node n;
    auto id = v.integerFor("id");
    if (!id) return fail("element without id");
    n.id = static_cast<uint64_t>(*id);
    n.pid = static_cast<int32_t>(v.integerFor("pid").value_or(0));
    n.parent = static_cast<uint64_t>(v.integerFor("parent").value_or(0));
    n.role = v.stringFor("role").value_or("");
    n.subrole = v.stringFor("subrole");
    n.title = v.stringFor("title");
    n.frame = rectFrom(v.find("frame"));
    n.enabled = v.boolFor("enabled");
    n.minimized = v.boolFor("minimized").value_or(false);
    n.name = v.stringFor("name").value_or("");
    n.children = idsFrom(v.find("children"));
    if (const pl::Dict* links = v.dictFor("links"))
      for (const auto& [k, t] : *links)
        if (t.isNumber()) n.links[k] = t.unsignedLongLongValue();
    n.failures = failuresFrom(v.find("failures"));
    if (!n.name.empty()) fresh.names[n.name] = n.id;
    fresh.nodes[n.id] = std::move(n);
  }
  fresh.zOrder = idsFrom(saved.find("zOrder"));
  fresh.frontmost = static_cast<int32_t>(saved.integerFor("frontmost").value_or(0));
  fresh.axFocusPid = static_cast<int32_t>(saved.integerFor("focusPid").value_or(0));
  fresh.nextId = static_cast<uint64_t>(saved.integerFor("nextId").value_or(1000));
  fresh.nextPid = static_cast<int32_t>(saved.integerFor("nextPid").value_or(700));
  if (const pl::Array* c = saved.arrayFor("cursor"); c && c->size() == 2)
    fresh.cursor = Point{(*c)[0].doubleValue(), (*c)[1].doubleValue()};
  fresh.buttons = static_cast<uint32_t>(saved.integerFor("buttons").value_or(0));
  fresh.flags = static_cast<uint64_t>(saved.integerFor("modifierFlags").value_or(0));
  fresh.trusted = saved.boolFor("trusted").value_or(true);
  fresh.prompts = static_cast<int>(saved.integerFor("prompts").value_or(0));
  for (const auto& w : saved.arrayFor("processWindows") ? *saved.arrayFor("processWindows") : pl::Array{}) {
    auto frame = rectFrom(w.find("frame"));
    if (!frame) return fail("process window without frame");
    fresh.ownWindows.push_back({static_cast<uint32_t>(w.integerFor("number").value_or(0)),
                                static_cast<int32_t>(w.integerFor("pid").value_or(0)), *frame});
  }
  // Every id a list names must exist, so that no later step follows a dangling one.
  for (const auto& [id, n] : fresh.nodes)
    for (uint64_t c : n.children)
      if (!fresh.nodes.count(c)) return fail("element " + std::to_string(id) + " names a missing child");
  for (const auto& [pid, a] : fresh.apps)
    for (uint64_t w : a.windows)
      if (!fresh.nodes.count(w)) return fail("application " + std::to_string(pid) + " names a missing window");
  std::erase_if(fresh.zOrder, [&](uint64_t w) { return !fresh.nodes.count(w); });

  bool trustChanged;
  std::optional<RunningApplication> activated;
  {
    std::lock_guard<std::mutex> l(model_->m);
    Model& m = *model_;
    trustChanged = m.trusted != fresh.trusted;
    // Another process activated an application: this one hears of it as from the workspace.
    if (fresh.frontmost != m.frontmost && fresh.frontmost != 0)
      if (const App* a = fresh.app(fresh.frontmost)) activated = fresh.info(*a);
    m.nodes = std::move(fresh.nodes);
    m.apps = std::move(fresh.apps);
    m.names = std::move(fresh.names);
    m.zOrder = std::move(fresh.zOrder);
    m.frontmost = fresh.frontmost;
    m.axFocusPid = fresh.axFocusPid;
    m.nextId = std::max(m.nextId, fresh.nextId);
    m.nextPid = std::max(m.nextPid, fresh.nextPid);
    m.buttons = fresh.buttons;
    m.flags = fresh.flags;
    m.trusted = fresh.trusted;
    m.prompts = std::max(m.prompts, fresh.prompts);
    if (keepLocal) {
      std::erase_if(fresh.ownWindows, [&](const OwnWindow& w) { return w.ownerPid == m.ownPid; });
      for (const auto& w : m.ownWindows)
        if (w.ownerPid == m.ownPid) fresh.ownWindows.push_back(w);
    } else {
      m.cursor = fresh.cursor;
    }
    m.ownWindows = std::move(fresh.ownWindows);
  }
  if (activated) ports_->announceActivation(*activated);
  if (trustChanged && ports_->notifications)
    ports_->notifications->post(kAXApiChangedNotification, "", {}).ignore(kTrustAnnouncementIsAHint);
  return Status::success();
}

std::string SimDesktop::describe() const {
  std::lock_guard<std::mutex> l(model_->m);
  const Model& m = *model_;
  std::ostringstream out;
  auto rectText = [](const std::optional<Rect>& r) {
    if (!r) return std::string("(no frame)");
    std::ostringstream s;
    s << "(" << r->x << ", " << r->y << ", " << r->width << " x " << r->height << ")";
    return s.str();
  };
  std::function<void(uint64_t, int)> tree = [&](uint64_t id, int depth) {
    const Node* n = m.node(id);
    if (!n || depth > 32) return;
    if (depth > 0) out << std::string(2 * depth + 3, ' ');
    out << n->role;
    if (n->subrole) out << "/" << *n->subrole;
    if (n->title) out << " \"" << *n->title << "\"";
    out << " " << rectText(n->frame);
    if (n->enabled && !*n->enabled) out << " disabled";
    if (n->minimized) out << " minimized";
    for (const auto& [attr, to] : n->links) {
      const Node* t = m.node(to);
      if (t && attr != kAXCloseButtonAttribute && attr != kAXMinimizeButtonAttribute && attr != kAXZoomButtonAttribute)
        out << " " << attr << "=" << (t->title ? "\"" + *t->title + "\"" : std::to_string(to));
    }
    out << "  [" << id << "]\n";
    for (uint64_t c : n->children) tree(c, depth + 1);
  };
  for (const auto& [pid, a] : m.apps) {
    out << (pid == m.frontmost ? "* " : "  ") << a.info.localizedName << " (" << a.info.bundleIdentifier << ", pid " << pid
        << ", policy " << a.policy << (a.hidden ? ", hidden" : "") << (pid == m.axFocusPid ? ", has focus" : "") << ")\n";
    for (uint64_t w : a.windows) {
      if (a.focused && m.topWindowOf(a.focused) == w) out << "  >";
      else out << "   ";
      tree(w, 0);
    }
  }
  out << "cursor (" << m.cursor.x << ", " << m.cursor.y << ")";
  if (m.buttons) out << " buttons " << m.buttons;
  if (m.flags & kCGEventFlagMaskShift) out << " shift";
  out << "\naccessibility " << (m.trusted ? "trusted" : "not trusted") << "\n";
  for (const auto& w : m.ownWindows)
    out << "process window " << w.number << " of pid " << w.ownerPid << " " << rectText(w.frame) << "\n";
  return out.str();
}

}  // namespace vl::sim

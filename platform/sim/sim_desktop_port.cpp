// The simulated desktop's Desktop port: running applications, activations and the window list.
#include "platform/sim/sim_desktop_model.h"

namespace vl::sim::desktop_detail {

namespace {

class SimDesktopPort : public Desktop {
 public:
  SimDesktopPort(std::shared_ptr<SimDesktop::Model> m, SimDesktop::Ports& p) : m_(std::move(m)), p_(p) {}
  std::optional<RunningApplication> frontmostApplication() const override {
    std::lock_guard<std::mutex> l(m_->m);
    const App* a = m_->app(m_->frontmost);
    if (!a) return std::nullopt;
    return m_->info(*a);
  }
  std::optional<RunningApplication> runningApplication(int32_t pid) const override {
    std::lock_guard<std::mutex> l(m_->m);
    const App* a = m_->app(pid);
    if (!a) return std::nullopt;
    return m_->info(*a);
  }
  std::vector<RunningApplication> runningApplications(const std::string& bundleID) const override {
    std::lock_guard<std::mutex> l(m_->m);
    std::vector<RunningApplication> out;
    for (const auto& [pid, a] : m_->apps)
      if (!bundleID.empty() && a.info.bundleIdentifier == bundleID) out.push_back(m_->info(a));
    return out;
  }
  int32_t activationPolicy(int32_t pid) const override {
    std::lock_guard<std::mutex> l(m_->m);
    const App* a = m_->app(pid);
    return a ? a->policy : -1;
  }
  Token observeActivation(ActivationHandler handler) override {
    Token t = p_.nextToken++;
    p_.activationObservers[t] = std::move(handler);
    return t;
  }
  void unobserveActivation(Token token) override { p_.activationObservers.erase(token); }

  std::vector<WindowInfo> windowList(bool excludeDesktopElements) const override {
    std::lock_guard<std::mutex> l(m_->m);
    std::vector<WindowInfo> out;
    for (uint64_t w : m_->zOrder) {
      const Node* n = m_->node(w);
      const App* a = n ? m_->app(n->pid) : nullptr;
      if (!n || !a) continue;
      WindowInfo i;
      i.number = static_cast<uint32_t>(w);
      i.ownerPid = n->pid;
      i.ownerName = a->info.localizedName;
      i.bounds = n->frame.value_or(Rect{});
      i.onScreen = m_->visible(w);
      out.push_back(std::move(i));
    }
    for (const auto& w : m_->ownWindows) {
      WindowInfo i;
      i.number = w.number;
      i.ownerPid = w.ownerPid;
      if (const App* a = m_->app(w.ownerPid)) i.ownerName = a->info.localizedName;
      i.bounds = w.frame;
      out.push_back(std::move(i));
    }
    return out;
  }
  uint32_t createWindow(Rect contentRect, bool borderless, bool buffered, bool defer) override {
    uint32_t number = 0;
    {
      std::lock_guard<std::mutex> l(m_->m);
      if (m_->windowCreationFails) return 0;
      number = static_cast<uint32_t>(m_->nextId++);
      // A titled window's frame would add the title bar; a borderless one is its content.
      Rect frame = contentRect;
      if (!borderless) frame.height += 22;
      m_->ownWindows.push_back({number, m_->ownPid, frame});
    }
    p_.notifyChanged();
    return number;
  }
  Status setWindowFrame(uint32_t window, Rect frame) override {
    {
      std::lock_guard<std::mutex> l(m_->m);
      auto it = std::find_if(m_->ownWindows.begin(), m_->ownWindows.end(), [&](const OwnWindow& w) {
        return w.number == window && w.ownerPid == m_->ownPid;
      });
      if (it == m_->ownWindows.end()) return Status::failure(1, "window " + std::to_string(window) + " is not this process's");
      if (it->frame == frame) return Status::success();
      it->frame = frame;
    }
    p_.notifyChanged();
    return Status::success();
  }

 private:
  std::shared_ptr<SimDesktop::Model> m_;
  SimDesktop::Ports& p_;
};

}  // namespace

std::unique_ptr<Desktop> makeDesktopPort(std::shared_ptr<SimDesktop::Model> m, SimDesktop::Ports& p) {
  return std::make_unique<SimDesktopPort>(std::move(m), p);
}

}  // namespace vl::sim::desktop_detail

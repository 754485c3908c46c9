// The simulated desktop's Accessibility port: element attributes, hit tests, pids and trust.
#include "platform/sim/sim_desktop_model.h"

namespace vl::sim::desktop_detail {

namespace {

class SimAccessibility : public Accessibility {
 public:
  SimAccessibility(std::shared_ptr<SimDesktop::Model> m, std::function<void()> onReset)
      : m_(std::move(m)), onReset_(std::move(onReset)) {
    system_ = std::make_shared<SimAX>(m_.get(), AXKind::SystemWide, 0, 0);
  }
  AXElementRef systemWideElement() override { return system_; }
  AXElementRef createApplication(int32_t pid) override {
    std::lock_guard<std::mutex> l(m_->m);
    const App* a = m_->app(pid);
    return std::make_shared<SimAX>(m_.get(), AXKind::Application, pid, a ? a->element : 0);
  }

  int32_t copyAttributeValue(const AXElementRef& element, std::string_view attr, AXValue* out) override {
    auto* e = element ? dynamic_cast<const SimAX*>(element.get()) : nullptr;
    if (!e || e->model != m_.get() || !out) return kAXErrorIllegalArgument;
    std::lock_guard<std::mutex> l(m_->m);
    SimDesktop::Model& m = *m_;
    if (!m.trusted) return kAXErrorAPIDisabled;
    if (e->kind == AXKind::SystemWide) {
      if (attr != kAXFocusedApplicationAttribute) return kAXErrorAttributeUnsupported;
      if (m.systemFocusFailure) return m.systemFocusFailure;
      const App* a = m.app(m.focusPid());
      if (!a) return kAXErrorNoValue;
      *out = appRef(*a);
      return kAXErrorSuccess;
    }
    if (e->kind == AXKind::Application) {
      const App* a = m.app(e->pid);
      if (!a || a->element != e->id) return kAXErrorCannotComplete;
      if (auto f = a->failures.find(std::string(attr)); f != a->failures.end()) return f->second;
      if (attr == kAXRoleAttribute) return set(out, std::string(kAXApplicationRole));
      if (attr == kAXTitleAttribute) return set(out, a->info.localizedName);
      if (attr == kAXHiddenAttribute) return set(out, a->hidden);
      if (attr == kAXFocusedWindowAttribute) {
        if (!a->focused || !m.node(a->focused)) return kAXErrorNoValue;
        return set(out, ref(a->focused, a->info.processIdentifier));
      }
      if (attr == kAXWindowsAttribute || attr == kAXChildrenAttribute) {
        std::vector<AXElementRef> v;
        for (uint64_t w : a->windows) v.push_back(ref(w, a->info.processIdentifier));
        *out = std::move(v);
        return kAXErrorSuccess;
      }
      return kAXErrorAttributeUnsupported;
    }
    const Node* n = m.node(e->id);
    if (!n) return kAXErrorInvalidUIElement;
    if (auto f = n->failures.find(std::string(attr)); f != n->failures.end()) return f->second;
    if (attr == kAXRoleAttribute) return set(out, n->role);
    if (attr == kAXSubroleAttribute) return n->subrole ? set(out, *n->subrole) : kAXErrorNoValue;
    if (attr == kAXTitleAttribute) return n->title ? set(out, *n->title) : kAXErrorNoValue;
    if (attr == kAXPositionAttribute)
      return n->frame ? set(out, Point{n->frame->x, n->frame->y}) : kAXErrorNoValue;
    if (attr == kAXSizeAttribute)
      return n->frame ? set(out, Size{n->frame->width, n->frame->height}) : kAXErrorNoValue;
    if (attr == kAXEnabledAttribute) return n->enabled ? set(out, *n->enabled) : kAXErrorAttributeUnsupported;
    if (attr == kAXChildrenAttribute) {
      std::vector<AXElementRef> v;
      v.reserve(n->children.size());
      for (uint64_t c : n->children) v.push_back(ref(c, n->pid));
      *out = std::move(v);
      return kAXErrorSuccess;
    }
    if (attr == kAXParentAttribute) {
      if (n->parent) return set(out, ref(n->parent, n->pid));
      const App* a = m.app(n->pid);
      if (!a) return kAXErrorNoValue;
      return set(out, appRef(*a));
    }
    bool isWindow = n->role == kAXWindowRole || n->role == kAXSheetRole;
    if (attr == kAXMinimizedAttribute) return isWindow ? set(out, n->minimized) : kAXErrorAttributeUnsupported;
    if (auto lk = n->links.find(std::string(attr)); lk != n->links.end()) {
      if (!m.node(lk->second)) return kAXErrorNoValue;
      return set(out, ref(lk->second, n->pid));
    }
    if (isWindow && (attr == kAXDefaultButtonAttribute || attr == kAXCancelButtonAttribute ||
                     attr == kAXCloseButtonAttribute || attr == kAXMinimizeButtonAttribute ||
                     attr == kAXZoomButtonAttribute))
      return kAXErrorNoValue;
    return kAXErrorAttributeUnsupported;
  }

  int32_t copyElementAtPosition(const AXElementRef& element, float x, float y, AXElementRef* out) override {
    auto* e = element ? dynamic_cast<const SimAX*>(element.get()) : nullptr;
    if (!e || e->model != m_.get() || !out) return kAXErrorIllegalArgument;
    std::lock_guard<std::mutex> l(m_->m);
    SimDesktop::Model& m = *m_;
    if (!m.trusted) return kAXErrorAPIDisabled;
    if (m.hitTestFailure) return m.hitTestFailure;
    Point p{x, y};
    for (uint64_t w : m.zOrder) {
      if (!m.visible(w)) continue;
      const Node* n = m.node(w);
      if (e->kind == AXKind::Application && n->pid != e->pid) continue;
      if (uint64_t h = m.hit(w, p)) {
        *out = ref(h, n->pid);
        return kAXErrorSuccess;
      }
    }
    return kAXErrorNoValue;
  }

  int32_t getPid(const AXElementRef& element, int32_t* pid) override {
    auto* e = element ? dynamic_cast<const SimAX*>(element.get()) : nullptr;
    if (!e || e->model != m_.get() || !pid) return kAXErrorIllegalArgument;
    std::lock_guard<std::mutex> l(m_->m);
    if (e->kind == AXKind::SystemWide) {
      *pid = 0;
      return kAXErrorSuccess;
    }
    if (e->kind == AXKind::Element && !m_->node(e->id)) return kAXErrorInvalidUIElement;
    *pid = e->pid;
    return kAXErrorSuccess;
  }

  bool isProcessTrusted() override {
    std::lock_guard<std::mutex> l(m_->m);
    return m_->trusted;
  }
  // The simulated Mac keeps one permission for every process: resetting takes it back.
  Status resetPermissions(const std::string& service) override {
    {
      std::lock_guard<std::mutex> l(m_->m);
      if (!m_->trusted) return Status::success();
      m_->trusted = false;
    }
    if (onReset_) onReset_();
    return Status::success();
  }
  bool isProcessTrustedWithOptions(bool prompt) override {
    std::lock_guard<std::mutex> l(m_->m);
    if (prompt && !m_->trusted) ++m_->prompts;
    return m_->trusted;
  }

 private:
  template <class T>
  static int32_t set(AXValue* out, T v) {
    *out = std::move(v);
    return kAXErrorSuccess;
  }
  AXElementRef ref(uint64_t id, int32_t pid) const { return std::make_shared<SimAX>(m_.get(), AXKind::Element, pid, id); }
  AXElementRef appRef(const App& a) const {
    return std::make_shared<SimAX>(m_.get(), AXKind::Application, a.info.processIdentifier, a.element);
  }

  std::shared_ptr<SimDesktop::Model> m_;
  AXElementRef system_;
  std::function<void()> onReset_;
};

}  // namespace

std::unique_ptr<Accessibility> makeAccessibility(std::shared_ptr<SimDesktop::Model> m, std::function<void()> onReset) {
  return std::make_unique<SimAccessibility>(std::move(m), std::move(onReset));
}

}  // namespace vl::sim::desktop_detail

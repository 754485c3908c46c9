// The simulated desktop's Cursor port: warps, posted mouse events, buttons and modifier flags.
#include "platform/sim/sim_desktop_model.h"

namespace vl::sim::desktop_detail {

namespace {

class SimCursor : public Cursor {
 public:
  SimCursor(std::shared_ptr<SimDesktop::Model> m, SimDesktop::Ports& p) : m_(std::move(m)), p_(p) {}
  int32_t warpMouseCursorPosition(Point to) override {
    double t = p_.now();
    {
      std::lock_guard<std::mutex> l(m_->m);
      if (m_->warpFails) return kCGErrorFailure;
      m_->cursor = to;
      m_->log_(CursorEvent::Warp, to, t);
    }
    p_.notifyChanged();
    return kCGErrorSuccess;
  }
  Point location() const override {
    std::lock_guard<std::mutex> l(m_->m);
    return m_->cursor;
  }
  uint32_t currentButtonState() const override {
    std::lock_guard<std::mutex> l(m_->m);
    return m_->buttons;
  }
  uint64_t hidModifierFlags() const override {
    std::lock_guard<std::mutex> l(m_->m);
    return m_->flags;
  }
  std::optional<MouseEvent> createMouseEvent(int type, Point location, int button) override {
    std::lock_guard<std::mutex> l(m_->m);
    if (m_->eventCreationFails) return std::nullopt;
    MouseEvent e;
    e.type = type;
    e.button = button;
    e.location = location;
    return e;
  }
  void postEvent(int tap, const MouseEvent& e) override {
    double t = p_.now();
    {
      std::lock_guard<std::mutex> l(m_->m);
      m_->posted.push_back(e);
      if (e.type == kCGEventMouseMoved) {
        m_->cursor = e.location;
        m_->log_(CursorEvent::Posted, e.location, t);
      }
    }
    p_.notifyChanged();
  }
  void setLocalEventsSuppressionInterval(double seconds) override {
    std::lock_guard<std::mutex> l(m_->m);
    m_->suppression = seconds;
  }

 private:
  std::shared_ptr<SimDesktop::Model> m_;
  SimDesktop::Ports& p_;
};

}  // namespace

std::unique_ptr<Cursor> makeCursor(std::shared_ptr<SimDesktop::Model> m, SimDesktop::Ports& p) {
  return std::make_unique<SimCursor>(std::move(m), p);
}

}  // namespace vl::sim::desktop_detail

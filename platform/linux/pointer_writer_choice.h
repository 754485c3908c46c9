// Which writer sets the real devices' speeds in this session: the X server's device properties
// in an X11 session, KWin's input interface in a KDE Plasma Wayland session, velmora-inputd's
// exact filter wherever its service is installed, and otherwise a writer that refuses, saying why.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/linux/mapped_pointer_writer.h"

namespace vl::linux_ {
class SdEventRunLoop;
}

namespace vl::linux_input {

// What the session's environment says about the desktop.
struct SessionFacts {
  std::string sessionType;     // $XDG_SESSION_TYPE: "x11", "wayland", "tty", …
  std::string currentDesktop;  // $XDG_CURRENT_DESKTOP, a colon-separated list
  std::string display;         // $DISPLAY
  std::string waylandDisplay;  // $WAYLAND_DISPLAY
  // From an environment lookup (getenv in the programs).
  static SessionFacts from(const std::function<const char*(const char*)>& getenv);
};

enum class WriterKind { X11, KWin, Inputd };

// The writers to try, best first. An X11 session takes the X server's properties; a KDE
// Wayland session KWin's; any session can use velmora-inputd. A Wayland session's X display
// (XWayland) is never used: its devices are not the compositor's.
std::vector<WriterKind> writerPreference(const SessionFacts& facts);

// The writer that sets nothing: every write fails with the reason.
class RefusingPointerWriter : public PointerWriter {
 public:
  explicit RefusingPointerWriter(std::string reason) : reason_(std::move(reason)) {}
  std::string name() const override { return "none"; }
  bool handles(const InputDeviceInfo&) const override { return false; }
  Status setProperty(const InputDeviceInfo&, std::string_view, const pl::Value&) override {
    return Status::failure(writer_error::kUnavailable, reason_);
  }
  std::optional<pl::Value> property(const InputDeviceInfo&, std::string_view) const override { return std::nullopt; }
  Status restore(const InputDeviceInfo&) override { return Status::success(); }
  void onChangedBehindBack(ChangedCallback) override {}
  const std::string& reason() const { return reason_; }

 private:
  std::string reason_;
};

// How each kind of writer is opened; the defaults open the real ones.
struct WriterOpeners {
  std::function<Result<std::unique_ptr<PointerWriter>>()> x11, kwin, inputd;
  static WriterOpeners real(const SessionFacts& facts, GainMapping mapping, WriterRestoreFile* restoreFile,
                            linux_::SdEventRunLoop* loop);
};

// Opens the first writer of the preference that can run, else the refusing one; log gets one
// line saying which and why.
std::unique_ptr<PointerWriter> choosePointerWriter(const SessionFacts& facts, const WriterOpeners& openers,
                                                   const std::function<void(const std::string&)>& log);

}  // namespace vl::linux_input

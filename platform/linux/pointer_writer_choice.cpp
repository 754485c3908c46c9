// The session's writer choice and the real writers' openers.
#include "platform/linux/pointer_writer_choice.h"

#include "platform/linux/inputd_pointer_writer.h"
#include "platform/linux/kwin_pointer_writer.h"
#include "platform/linux/x11_pointer_writer.h"

namespace vl::linux_input {

namespace {
bool listHas(const std::string& list, std::string_view item) {
  size_t start = 0;
  while (start <= list.size()) {
    size_t end = list.find(':', start);
    if (end == std::string::npos) end = list.size();
    if (std::string_view(list).substr(start, end - start) == item) return true;
    start = end + 1;
  }
  return false;
}

const char* kindName(WriterKind k) {
  switch (k) {
    case WriterKind::X11: return "x11";
    case WriterKind::KWin: return "kwin";
    case WriterKind::Inputd: return "inputd";
  }
  return "?";
}
}  // namespace

SessionFacts SessionFacts::from(const std::function<const char*(const char*)>& getenv) {
  auto get = [&](const char* k) {
    const char* v = getenv(k);
    return std::string(v ? v : "");
  };
  return {get("XDG_SESSION_TYPE"), get("XDG_CURRENT_DESKTOP"), get("DISPLAY"), get("WAYLAND_DISPLAY")};
}

std::vector<WriterKind> writerPreference(const SessionFacts& f) {
  std::vector<WriterKind> out;
  const bool wayland = f.sessionType == "wayland" || (f.sessionType.empty() && !f.waylandDisplay.empty());
  const bool x11 = f.sessionType == "x11" || (f.sessionType.empty() && !wayland && !f.display.empty());
  if (x11) out.push_back(WriterKind::X11);
  if (wayland && listHas(f.currentDesktop, "KDE")) out.push_back(WriterKind::KWin);
  out.push_back(WriterKind::Inputd);
  return out;
}

WriterOpeners WriterOpeners::real(const SessionFacts& facts, GainMapping mapping, WriterRestoreFile* restoreFile,
                                  linux_::SdEventRunLoop* loop) {
  WriterOpeners o;
  o.x11 = [=]() -> Result<std::unique_ptr<PointerWriter>> {
    auto w = X11PointerWriter::open(facts.display.empty() ? nullptr : facts.display.c_str(), mapping, restoreFile, loop);
    if (!w) return w.status();
    return std::unique_ptr<PointerWriter>(std::move(*w));
  };
  o.kwin = [=]() -> Result<std::unique_ptr<PointerWriter>> {
    auto w = KWinPointerWriter::open("", mapping, restoreFile, loop);
    if (!w) return w.status();
    return std::unique_ptr<PointerWriter>(std::move(*w));
  };
  o.inputd = [=]() -> Result<std::unique_ptr<PointerWriter>> {
    auto w = InputdPointerWriter::open("", restoreFile, loop);
    if (!w) return w.status();
    return std::unique_ptr<PointerWriter>(std::move(*w));
  };
  return o;
}

std::unique_ptr<PointerWriter> choosePointerWriter(const SessionFacts& facts, const WriterOpeners& openers,
                                                   const std::function<void(const std::string&)>& log) {
  std::string why;
  for (WriterKind k : writerPreference(facts)) {
    const auto& open = k == WriterKind::X11 ? openers.x11 : k == WriterKind::KWin ? openers.kwin : openers.inputd;
    if (!open) continue;
    auto w = open();
    if (w) {
      if (log) log("pointer speeds: writer " + std::string(kindName(k)) + (why.empty() ? "" : " (" + why + ")"));
      return std::move(*w);
    }
    why += (why.empty() ? "" : "; ") + std::string(kindName(k)) + ": " + w.status().detail();
  }
  std::string reason = "no writer can set pointer speeds in this session (" + why +
                       "); install velmora-inputd for the exact curve on any desktop";
  if (log) log("pointer speeds: writer none: " + reason);
  return std::make_unique<RefusingPointerWriter>(reason);
}

}  // namespace vl::linux_input

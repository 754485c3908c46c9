// Opens the session's writer with its restore file and gives back a previous run's leftovers.
#include "tools/inputd/core/session_pointer_writer.h"

#include "tools/inputd/core/cursor_curve.h"

namespace vl::inputd {

linux_input::GainMapping modelGainMapping() {
  return [](double resolution, double acceleration) { return flatSpeedFor(resolution, acceleration); };
}

SessionPointerWriter openSessionPointerWriter(const linux_input::SessionFacts& facts, const std::string& runtimeDir,
                                              linux_::SdEventRunLoop* loop,
                                              const std::function<void(const std::string&)>& log,
                                              const linux_input::WriterOpeners* openers, bool leftoversNow) {
  SessionPointerWriter s;
  s.restoreFile = std::make_unique<linux_input::WriterRestoreFile>(linux_input::WriterRestoreFile::defaultPath(runtimeDir));
  if (Status st = s.restoreFile->load(); !st.ok() && log)
    log("pointer speeds: the restore file cannot be read, starting a new one: " + st.detail());
  const linux_input::WriterOpeners real =
      openers ? *openers : linux_input::WriterOpeners::real(facts, modelGainMapping(), s.restoreFile.get(), loop);
  s.writer = linux_input::choosePointerWriter(facts, real, log);
  if (leftoversNow) giveLeftoversBack(s, log);
  return s;
}

void giveLeftoversBack(SessionPointerWriter& s, const std::function<void(const std::string&)>& log) {
  // A run that ended without restoring left the desktop's own values: give them back first.
  if (auto* mapped = dynamic_cast<linux_input::MappedPointerWriter*>(s.writer.get())) {
    if (Status st = mapped->restoreLeftovers(); !st.ok() && log)
      log("pointer speeds: a previous run's settings could not all be given back: " + st.detail());
  }
}

}  // namespace vl::inputd

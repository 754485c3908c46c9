// The writer a program on the real desktop uses: the session's choice with the model's
// constant-gain mapping and the restore file under the runtime folder, after giving back what
// a previous run left there. One call for the agent's entry point.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/linux/pointer_writer_choice.h"
#include "platform/linux/writer_restore_file.h"

namespace vl::inputd {

struct SessionPointerWriter {
  std::unique_ptr<linux_input::WriterRestoreFile> restoreFile;  // outlives the writer
  std::unique_ptr<linux_input::PointerWriter> writer;
};

// runtimeDir: $XDG_RUNTIME_DIR (the restore file's folder). log gets the choice and any
// trouble with the restore file, one line each. leftoversNow false: the caller gives a previous
// run's leftovers back itself (giveLeftoversBack) once it knows no other agent of this user is
// running, whose own settings those entries are.
SessionPointerWriter openSessionPointerWriter(const linux_input::SessionFacts& facts, const std::string& runtimeDir,
                                              linux_::SdEventRunLoop* loop,
                                              const std::function<void(const std::string&)>& log,
                                              const linux_input::WriterOpeners* openers = nullptr,
                                              bool leftoversNow = true);

// Gives the devices what a run that ended without restoring left in the restore file.
void giveLeftoversBack(SessionPointerWriter& s, const std::function<void(const std::string&)>& log);

// The mapping the approximate writers use (the model's best constant gain).
linux_input::GainMapping modelGainMapping();

}  // namespace vl::inputd

// Who this process is and where its failures go: the process identity and the error stack a
// program's composition root owns, handed as one small reference pair to what reports failures.
#pragma once

#include "core/errors/error_stack.h"

namespace vl {

enum class ProcessRole { Agent, Pane, Tool };

// Who this process is: its main bundle (agent or tool) and the pane's bundle (the pane runs
// inside the settings host, whose main bundle is not ours). It decides what a fatal end does.
struct ProcessIdentity {
  ProcessRole role = ProcessRole::Tool;
  BundleInfo mainBundle;
  BundleInfo paneBundle;
};

// Both refer to objects the composition root owns and outlives everything it hands this to.
// Code that only pushes numbers takes the ErrorStack alone; the alerts and the fatal ends take
// the pair, since the identity decides whose bundle the details name and how the process ends.
struct ErrorContext {
  ErrorStack& stack;
  const ProcessIdentity& identity;
};

}  // namespace vl

// What the secondary windows need to save their text: a save panel shown as a sheet, and the
// atomic UTF-8 write that follows the user's OK.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "platform/api/status.h"

namespace vl {

class SavePanelHost {
 public:
  virtual ~SavePanelHost() = default;
  // Shows a save panel proposing proposedName; completion runs once with the chosen path, or
  // nullopt when the user cancelled.
  virtual void runSavePanel(const std::string& proposedName,
                            std::function<void(const std::optional<std::string>& path)> completion) = 0;
  // The chosen file was not written (the message says why: a device or folder in the way, a
  // folder that is missing or not writable).
  virtual void showSaveFailure(const std::string& message) = 0;
};

// Writes text to path atomically (a temporary file renamed over it), only to a new or regular
// file. A failure when it could not be written; what was there is untouched.
Status saveTextAtomically(const std::string& path, const std::string& text);

}  // namespace vl

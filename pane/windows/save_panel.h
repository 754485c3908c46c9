// What the secondary windows need to save their text: a save panel shown as a sheet, and the
// atomic UTF-8 write that follows the user's OK.
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace vl {

class SavePanelHost {
 public:
  virtual ~SavePanelHost() = default;
  // Shows a save panel proposing proposedName; completion runs once with the chosen path, or
  // nullopt when the user cancelled.
  virtual void runSavePanel(const std::string& proposedName,
                            std::function<void(const std::optional<std::string>& path)> completion) = 0;
};

// Writes text to path atomically (a temporary file renamed over it). False, with *error set,
// when it could not be written; the old file is then untouched.
bool saveTextAtomically(const std::string& path, const std::string& text, std::string* error = nullptr);

}  // namespace vl

// The atomic text write behind the secondary windows' Save buttons.
#include "pane/windows/save_panel.h"

#include <cstdint>
#include <span>

#include "core/system/file_output.h"

namespace vl {

bool saveTextAtomically(const std::string& path, const std::string& text, std::string* error) {
  vl::Status written = pl::writeUserFile(path, text);
  if (!written && error) *error = written.detail();
  return written.ok();
}

}  // namespace vl

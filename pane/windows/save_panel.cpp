// The atomic text write behind the secondary windows' Save buttons.
#include "pane/windows/save_panel.h"

#include <cstdint>
#include <span>

#include "core/system/file_output.h"

namespace vl {

Status saveTextAtomically(const std::string& path, const std::string& text) { return pl::writeUserFile(path, text); }

}  // namespace vl

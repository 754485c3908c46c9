// The atomic text write behind the secondary windows' Save buttons.
#include "pane/windows/save_panel.h"

#include <cstdint>
#include <span>

#include "core/plist/codec.h"

namespace vl {

bool saveTextAtomically(const std::string& path, const std::string& text, std::string* error) {
  std::string ignored;
  return pl::writeFileAtomic(path, std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size()),
                             error ? error : &ignored);
}

}  // namespace vl

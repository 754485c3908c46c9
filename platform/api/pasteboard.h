// Pasteboard port: the general pasteboard's plain text, as copy and paste of a favourite use it.
#pragma once

#include <optional>
#include <string>

namespace vl {

// The sim adapter keeps the text in memory; the settings window supplies one over its toolkit's
// clipboard (Linux has no clipboard below a toolkit or display server).
class Pasteboard {
 public:
  virtual ~Pasteboard() = default;
  // [[NSPasteboard generalPasteboard] stringForType:NSPasteboardTypeString]: the plain text on
  // the pasteboard, nullopt when it holds none. The text comes from any program: untrusted.
  virtual std::optional<std::string> string() const = 0;
  // clearContents, then setString:forType:NSPasteboardTypeString.
  virtual void setString(const std::string& text) = 0;
};

}  // namespace vl

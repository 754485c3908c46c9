// The texts the pane shares with its Mac sibling, told in this system's words: the places a
// text names ("System Preferences", "Finder") and the Command key ("⌘Z" reads "Ctrl+Z").
#pragma once

#include <QString>

namespace vl::ui {

// text with the Mac's places and keys named as this system names them; other texts unchanged.
QString onThisSystem(const QString& text);
// Only the keys: "⌘Z" and "⌘cmd + I" read "Ctrl+Z" and "Ctrl+I".
QString platformShortcutText(const QString& text);

}  // namespace vl::ui

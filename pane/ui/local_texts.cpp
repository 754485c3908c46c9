// The Mac's places and keys in the pane's texts, named as this system names them.
#include "pane/ui/local_texts.h"

#include <array>
#include <utility>

namespace vl::ui {

QString platformShortcutText(const QString& text) {
  QString out = text;
  out.replace(QStringLiteral("\u2318cmd + "), QStringLiteral("Ctrl+"));
  out.replace(QChar(0x2318), QStringLiteral("Ctrl+"));
  return out;
}

QString onThisSystem(const QString& text) {
  // Longest first, so a phrase is replaced whole before its parts are.
  static const std::array<std::pair<const char*, const char*>, 7> kPlaces{{
      {"System Preferences.app", "Settings"},
      // Quoted, the host program is meant: this system's settings window for Velmora.
      {"\u201CSystem Preferences\u201D", "\u201CVelmora Settings\u201D"},
      {"Velmora in System Preferences", "Velmora Settings"},
      {"System Preferences", "Settings"},
      {"Show Settings File in Finder", "Show Settings File in the File Manager"},
      {"In Finder,", "In the file manager,"},
      {"Finder", "the file manager"},
  }};
  QString out = platformShortcutText(text);
  for (const auto& [mac, here] : kPlaces) out.replace(QString::fromUtf8(mac), QString::fromUtf8(here));
  return out;
}

}  // namespace vl::ui

// Desktop entries (freedesktop ".desktop" files): on Linux an application is also named by
// such a file. A strict reader of the main group: the keys the application list needs, and
// refusal of anything that is not a well-formed application entry.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace vl {

struct DesktopEntry {
  std::string type;        // "Application", "Link", "Directory"
  std::string name;        // Name
  std::string exec;        // Exec
  std::string icon;        // Icon (a theme name or an absolute path)
  bool noDisplay = false;  // NoDisplay
  bool hidden = false;     // Hidden
};

// Files larger than this are no desktop entries.
inline constexpr size_t kMaxDesktopEntryBytes = 64 * 1024;

// Parses the bytes of a desktop entry. nullopt (and *error says why, with the line number)
// for anything malformed: no "[Desktop Entry]" group first, a line that is neither a comment,
// a group header nor key=value, a duplicate key in the main group, bytes that are not UTF-8,
// a missing Type or Name, or more than kMaxDesktopEntryBytes.
std::optional<DesktopEntry> parseDesktopEntry(std::string_view bytes, std::string* error = nullptr);

// The entry of a ".desktop" file when it is a well-formed entry of Type=Application that
// names a program (Exec or DBusActivatable) and is not Hidden; nullopt for any other path.
std::optional<DesktopEntry> readApplicationEntry(const std::string& path);

// The desktop file ID of a path ("org.example.App" for ".../org.example.App.desktop").
std::string desktopFileID(const std::string& path);

// Whether path names an application the user can add: an executable file, an application
// bundle (QS812isExecutableFileAtURL) or an application's desktop entry.
bool isApplicationAtURL(const std::string& path);

}  // namespace vl

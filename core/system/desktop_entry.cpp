// A strict reader of freedesktop desktop entries, for applications named by a ".desktop" file.
#include "core/system/desktop_entry.h"

#include <fstream>
#include <iterator>
#include <map>
#include <sys/stat.h>

#include "core/system/launch_agent.h"

namespace vl {

namespace {

bool fail(std::string* error, size_t line, const std::string& why) {
  if (error) *error = (line ? "line " + std::to_string(line) + ": " : std::string()) + why;
  return false;
}

// Well-formed UTF-8 without overlong forms or surrogates.
bool isUtf8(std::string_view s) {
  size_t i = 0;
  while (i < s.size()) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    size_t n = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
    if (n == 0 || i + n > s.size()) return false;
    uint32_t cp = n == 1 ? c : n == 2 ? (c & 0x1F) : n == 3 ? (c & 0x0F) : (c & 0x07);
    for (size_t k = 1; k < n; ++k) {
      unsigned char cc = static_cast<unsigned char>(s[i + k]);
      if ((cc >> 6) != 0x2) return false;
      cp = (cp << 6) | (cc & 0x3F);
    }
    if ((n == 2 && cp < 0x80) || (n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF))
      return false;
    i += n;
  }
  return true;
}

bool isKeyChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
}

// Key, or Key[locale] with a locale of letters, digits, '_', '@', '.' and '-'.
bool isKey(std::string_view k) {
  size_t open = k.find('[');
  std::string_view base = k.substr(0, open);
  if (base.empty()) return false;
  for (char c : base)
    if (!isKeyChar(c)) return false;
  if (open == std::string_view::npos) return true;
  if (k.back() != ']' || open + 2 >= k.size()) return false;
  for (char c : k.substr(open + 1, k.size() - open - 2))
    if (!isKeyChar(c) && c != '_' && c != '@' && c != '.') return false;
  return true;
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// The escapes of string values: \s \n \t \r \\ (others are refused).
bool unescape(std::string_view v, std::string* out) {
  out->clear();
  for (size_t i = 0; i < v.size(); ++i) {
    if (v[i] != '\\') {
      out->push_back(v[i]);
      continue;
    }
    if (++i == v.size()) return false;
    switch (v[i]) {
      case 's': out->push_back(' '); break;
      case 'n': out->push_back('\n'); break;
      case 't': out->push_back('\t'); break;
      case 'r': out->push_back('\r'); break;
      case '\\': out->push_back('\\'); break;
      // Exec's own quoting keeps these.
      case '"': case '`': case '$': out->append({'\\', v[i]}); break;
      default: return false;
    }
  }
  return true;
}

bool parseBool(const std::string& v, bool* out) {
  if (v == "true") *out = true;
  else if (v == "false") *out = false;
  else return false;
  return true;
}

}  // namespace

std::optional<DesktopEntry> parseDesktopEntry(std::string_view bytes, std::string* error) {
  if (bytes.size() > kMaxDesktopEntryBytes) return fail(error, 0, "larger than a desktop entry can be"), std::nullopt;
  if (!isUtf8(bytes)) return fail(error, 0, "not UTF-8 text"), std::nullopt;
  std::map<std::string, std::string> main;
  bool inMain = false, seenGroup = false;
  size_t lineNo = 0, pos = 0;
  while (pos < bytes.size()) {
    size_t end = bytes.find('\n', pos);
    std::string_view line = bytes.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos);
    pos = end == std::string_view::npos ? bytes.size() : end + 1;
    ++lineNo;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    for (char c : line)
      if (static_cast<unsigned char>(c) < 0x20 && c != '\t')
        return fail(error, lineNo, "control character"), std::nullopt;
    if (trim(line).empty() || line.front() == '#') continue;
    if (line.front() == '[') {
      if (line.back() != ']' || line.size() < 3) return fail(error, lineNo, "malformed group header"), std::nullopt;
      std::string_view group = line.substr(1, line.size() - 2);
      if (group.find_first_of("[]") != std::string_view::npos)
        return fail(error, lineNo, "malformed group header"), std::nullopt;
      if (!seenGroup && group != "Desktop Entry")
        return fail(error, lineNo, "the first group must be [Desktop Entry]"), std::nullopt;
      if (seenGroup && group == "Desktop Entry")
        return fail(error, lineNo, "a second [Desktop Entry] group"), std::nullopt;
      seenGroup = true;
      inMain = group == "Desktop Entry";
      continue;
    }
    size_t eq = line.find('=');
    if (eq == std::string_view::npos) return fail(error, lineNo, "neither key=value nor a group"), std::nullopt;
    if (!seenGroup) return fail(error, lineNo, "an entry before [Desktop Entry]"), std::nullopt;
    std::string_view key = trim(line.substr(0, eq));
    if (!isKey(key)) return fail(error, lineNo, "malformed key"), std::nullopt;
    if (!inMain) continue;  // other groups (actions) are checked for form only
    std::string value;
    if (!unescape(trim(line.substr(eq + 1)), &value)) return fail(error, lineNo, "malformed escape"), std::nullopt;
    if (!main.emplace(std::string(key), std::move(value)).second)
      return fail(error, lineNo, "duplicate key " + std::string(key)), std::nullopt;
  }
  if (!seenGroup) return fail(error, 0, "no [Desktop Entry] group"), std::nullopt;
  DesktopEntry e;
  auto take = [&](const char* key, std::string* out) {
    auto it = main.find(key);
    if (it == main.end()) return false;
    *out = it->second;
    return true;
  };
  if (!take("Type", &e.type) || e.type.empty()) return fail(error, 0, "no Type"), std::nullopt;
  if (!take("Name", &e.name) || e.name.empty()) return fail(error, 0, "no Name"), std::nullopt;
  take("Exec", &e.exec);
  take("Icon", &e.icon);
  for (auto [key, flag] : {std::pair{"NoDisplay", &e.noDisplay}, std::pair{"Hidden", &e.hidden}}) {
    std::string v;
    if (take(key, &v) && !parseBool(v, flag)) return fail(error, 0, std::string(key) + " is not true or false"), std::nullopt;
  }
  std::string dbus;
  bool activatable = false;
  if (take("DBusActivatable", &dbus) && !parseBool(dbus, &activatable))
    return fail(error, 0, "DBusActivatable is not true or false"), std::nullopt;
  if (e.type == "Application" && e.exec.empty() && !activatable)
    return fail(error, 0, "an application without Exec"), std::nullopt;
  return e;
}

std::string desktopFileID(const std::string& path) {
  size_t slash = path.find_last_of('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  constexpr std::string_view ext = ".desktop";
  if (name.size() > ext.size() && name.compare(name.size() - ext.size(), ext.size(), ext) == 0)
    name.resize(name.size() - ext.size());
  return name;
}

std::optional<DesktopEntry> readApplicationEntry(const std::string& path) {
  constexpr std::string_view ext = ".desktop";
  if (path.size() <= ext.size() || path.compare(path.size() - ext.size(), ext.size(), ext) != 0) return std::nullopt;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > static_cast<off_t>(kMaxDesktopEntryBytes))
    return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  auto entry = parseDesktopEntry(bytes);
  if (!entry || entry->type != "Application" || entry->hidden) return std::nullopt;
  return entry;
}

bool isApplicationAtURL(const std::string& path) {
  return QS812isExecutableFileAtURL(path) || readApplicationEntry(path).has_value();
}

}  // namespace vl

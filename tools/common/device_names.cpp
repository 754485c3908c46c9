#include "tools/common/device_names.h"

#include <cctype>
#include <charconv>
#include <sstream>
#include <vector>

namespace vl::cli {

namespace {

bool hexNumber(std::string text, uint32_t* out) {
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text = text.substr(2);
  if (text.empty()) return false;
  uint32_t v = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v, 16);
  if (ec != std::errc() || end != text.data() + text.size()) return false;
  *out = v;
  return true;
}

std::string trim(const std::string& s) {
  size_t a = s.find_first_not_of(" \t"), b = s.find_last_not_of(" \t");
  return a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
}

bool validTransport(const std::string& t) { return !t.empty() && t.find('\n') == std::string::npos; }

// "VID 0x004C PID 0x0269 MID - Bluetooth"
std::optional<DeviceName> fromLabelled(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> words;
  for (std::string w; in >> w;) words.push_back(w);
  if (words.size() < 7) return std::nullopt;
  const char* labels[] = {"VID", "PID", "MID"};
  DeviceName d;
  uint32_t* values[] = {&d.vid, &d.pid, &d.mid};
  for (int i = 0; i < 3; ++i) {
    std::string label = words[2 * i];
    for (char& c : label) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (label != labels[i]) return std::nullopt;
    const std::string& v = words[2 * i + 1];
    if (i == 2 && v == "-") *values[i] = 0;
    else if (!hexNumber(v, values[i])) return std::nullopt;
  }
  // The transport is the rest, as written (it may hold spaces).
  size_t at = 0;
  for (int i = 0; i < 6; ++i) {
    at = text.find_first_not_of(" \t", at);
    at = text.find_first_of(" \t", at);
  }
  d.transport = trim(at == std::string::npos ? std::string() : text.substr(at));
  if (!validTransport(d.transport)) return std::nullopt;
  return d;
}

// "004c:0269:0 Bluetooth"
std::optional<DeviceName> fromColons(const std::string& text) {
  size_t space = text.find_first_of(" \t");
  if (space == std::string::npos) return std::nullopt;
  std::string ids = text.substr(0, space);
  DeviceName d;
  uint32_t* values[] = {&d.vid, &d.pid, &d.mid};
  size_t at = 0;
  for (int i = 0; i < 3; ++i) {
    size_t colon = i < 2 ? ids.find(':', at) : ids.size();
    if (colon == std::string::npos || !hexNumber(ids.substr(at, colon - at), values[i])) return std::nullopt;
    at = colon + 1;
  }
  d.transport = trim(text.substr(space));
  if (!validTransport(d.transport)) return std::nullopt;
  return d;
}

// "4c-269-0-Bluetooth"
std::optional<DeviceName> fromIndex(const std::string& text) {
  DeviceName d;
  uint32_t* values[] = {&d.vid, &d.pid, &d.mid};
  size_t at = 0;
  for (uint32_t* v : values) {
    size_t dash = text.find('-', at);
    if (dash == std::string::npos || text.compare(at, 2, "0x") == 0 || !hexNumber(text.substr(at, dash - at), v))
      return std::nullopt;
    at = dash + 1;
  }
  d.transport = text.substr(at);
  if (!validTransport(d.transport)) return std::nullopt;
  return d;
}

}  // namespace

std::optional<DeviceName> parseDeviceName(const std::string& raw) {
  std::string text = trim(raw);
  if (text.empty()) return std::nullopt;
  if (auto d = fromLabelled(text)) return d;
  if (text.find(':') != std::string::npos && text.find(':') < text.find_first_of(" \t")) return fromColons(text);
  return fromIndex(text);
}

std::string deviceNameText(uint32_t vid, uint32_t pid, uint32_t mid, const std::string& transport) {
  std::string out;
  char buf[16];
  for (uint32_t v : {vid, pid, mid}) {
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v, 16);
    (void)ec;
    out.append(buf, end);
    out += '-';
  }
  return out + transport;
}

}  // namespace vl::cli

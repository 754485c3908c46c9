// The registry viewer: a tree dump of the HID devices in the service plane, built from the
// registry port itself (no external tool, no shell), and the sheet that shows and saves it.
#include "pane/windows/registry_viewer.h"

#include <algorithm>
#include <functional>
#include <map>
#include <set>
#include <vector>

#include "core/plist/ascii_text.h"
#include "core/plist/number_text.h"

namespace vl {

namespace {

using pl::hexText;

// A property value in the registry tool's notation.
std::string valueText(const pl::Value& v) {
  if (v.isBool()) return v.boolValue() ? "Yes" : "No";
  if (v.isInteger()) return v.isUnsignedInteger() ? std::to_string(v.unsignedLongLongValue()) : std::to_string(v.longLongValue());
  if (v.isReal()) return pl::formatG(v.doubleValue());
  if (const std::string* s = v.asString()) return "\"" + *s + "\"";
  if (const pl::Data* d = v.asData()) {
    std::string out = "<";
    static const char* digits = "0123456789abcdef";
    for (uint8_t b : *d) {
      out += digits[b >> 4];
      out += digits[b & 0xF];
    }
    return out + ">";
  }
  if (const pl::Array* a = v.asArray()) {
    std::string out = "(";
    for (size_t i = 0; i < a->size(); ++i) out += (i ? "," : "") + valueText((*a)[i]);
    return out + ")";
  }
  if (const pl::Dict* d = v.asDict()) {
    std::string out = "{";
    bool first = true;
    for (const auto& [k, x] : *d) {
      out += (first ? "" : ",") + ("\"" + k + "\"=") + valueText(x);
      first = false;
    }
    return out + "}";
  }
  return "<>";
}

}  // namespace

std::string registryTreeDump(const IoRegistry& registry, const std::string& className) {
  pl::Dict matching{{"IOProviderClass", pl::Value(className)}};
  IoRegistry::Iteration found = registry.matchingServices(matching);
  if (found.status != 0 || found.entries.empty()) return {};

  // Every entry on a path from the root to a matching entry.
  std::set<RegistryId> matched(found.entries.begin(), found.entries.end());
  std::set<RegistryId> shown(matched);
  std::set<RegistryId> roots;
  for (RegistryId e : found.entries) {
    IoRegistry::Iteration up = registry.parents(e, true);
    if (up.status != 0) continue;
    shown.insert(up.entries.begin(), up.entries.end());
    roots.insert(up.entries.empty() ? e : up.entries.back());
  }

  std::string out;
  // prefix: the bars of the ancestors; last: whether this entry is its parent's last shown child.
  std::function<void(RegistryId, const std::string&, bool)> walk = [&](RegistryId id, const std::string& prefix, bool last) {
    out += prefix + "+-o " + registry.name(id) + "  <class " + registry.className(id) + ", id 0x" + hexText(id) + ">\n";
    std::vector<RegistryId> children;
    IoRegistry::Iteration down = registry.children(id, false);
    if (down.status == 0)
      for (RegistryId c : down.entries)
        if (shown.count(c)) children.push_back(c);
    const std::string inner = prefix + (last ? "  " : "| ");
    if (matched.count(id)) {
      const std::string bar = inner + (children.empty() ? "  " : "| ");
      out += bar + "{\n";
      for (const auto& [key, value] : registry.properties(id)) out += bar + "  \"" + key + "\" = " + valueText(value) + "\n";
      out += bar + "}\n" + bar + "\n";
    }
    for (size_t i = 0; i < children.size(); ++i) walk(children[i], inner, i + 1 == children.size());
  };
  for (RegistryId root : roots) walk(root, "", true);
  return out;
}

void VL229IORegWinDelegate::showIORegWindow() {
  view_.showSheet();
  // The dump blocks the main thread, as the tool it stands for did; the registry is in memory.
  text_ = registry_ ? registryTreeDump(*registry_, "IOHIDDevice") : std::string();
  if (text_.empty()) text_ = kRegistryError;
  view_.setText(text_);
}

void VL229IORegWinDelegate::closeIORegWindow() {
  view_.closeSheet();
  text_ = kRegistryPleaseWait;
  view_.setText(text_);
}

bool VL229IORegWinDelegate::cancelByPrefPane() {
  closeIORegWindow();
  return true;
}

void VL229IORegWinDelegate::save() {
  std::string text = text_;
  RegistryWindowView& view = view_;
  view_.runSavePanel(kRegistryFileName, [text, &view](const std::optional<std::string>& path) {
    if (!path) return;
    if (Status saved = saveTextAtomically(*path, text); !saved) view.showSaveFailure(saved.detail());
  });
}

}  // namespace vl

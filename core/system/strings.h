// Localized texts: strings tables ("vl", "dvvl", …) in the resources folder, one
// <language>.lproj/<table>.strings file each, keyed by the English text.
#pragma once

#include <string>

#include "platform/api/platform.h"

namespace vl {

// Where localized texts come from: the resources folder and the user's preferred languages.
// Without a Paths port every text is its key.
struct TextSource {
  Paths* paths = nullptr;
  SystemInfo* system = nullptr;
};
inline TextSource textSourceOf(const Platform& p) { return TextSource{p.paths, p.system}; }

// The text for key in table, in the user's most preferred language that has the table,
// else English, else the key itself.
std::string localized(const TextSource& texts, const std::string& key, const std::string& table);
inline std::string localized(const Platform& p, const std::string& key, const std::string& table) {
  return localized(textSourceOf(p), key, table);
}

// Drops cached tables (after the resources folder or the languages changed).
void resetLocalizedCache();

}  // namespace vl

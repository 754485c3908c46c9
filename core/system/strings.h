// Localized texts: strings tables ("vl", "dvvl", …) in the resources folder, one
// <language>.lproj/<table>.strings file each, keyed by the English text.
#pragma once

#include <string>

namespace vl {

// The text for key in table, in the user's most preferred language that has the table,
// else English, else the key itself.
std::string localized(const std::string& key, const std::string& table);

// Drops cached tables (after the resources folder or the languages changed).
void resetLocalizedCache();

}  // namespace vl

// Localized texts: strings tables ("vl", "dvvl", …) in the resources folder, one
// <language>.lproj/<table>.strings file each, keyed by the English text.
#pragma once

#include <string>

#include "platform/api/platform.h"

namespace vl {

// The text for key in table, in the user's most preferred language that has the table,
// else English, else the key itself. The resources folder and the languages come from p.
std::string localized(const Platform& p, const std::string& key, const std::string& table);
// The same from the two ports it reads: the resources folder (paths) and the languages (system).
std::string localized(Paths* paths, SystemInfo* system, const std::string& key, const std::string& table);

// Drops cached tables (after the resources folder or the languages changed).
void resetLocalizedCache();

}  // namespace vl

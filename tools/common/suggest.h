// The nearest known word to a mistyped one, for "unknown command" messages.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace vl::cli {

// The choice closest to word by edits (insert, delete, replace, swap of neighbours), or one
// that word begins; nullopt when nothing is near enough to be a likely typo.
std::optional<std::string> nearest(const std::string& word, const std::vector<std::string>& choices);

// "; did you mean 'x'?" for the nearest choice, or an empty text.
std::string didYouMean(const std::string& word, const std::vector<std::string>& choices);

}  // namespace vl::cli

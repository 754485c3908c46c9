#include "core/plist/ascii_text.h"
#include "tools/common/suggest.h"

#include <algorithm>
#include <cctype>

namespace vl::cli {

namespace {

// Optimal string alignment distance.
size_t distance(const std::string& a, const std::string& b) {
  std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
  for (size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    for (size_t j = 1; j <= b.size(); ++j) {
      size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
    }
  }
  return d[a.size()][b.size()];
}

}  // namespace

std::optional<std::string> nearest(const std::string& word, const std::vector<std::string>& choices) {
  if (word.empty()) return std::nullopt;
  const std::string w = pl::asciiLower(word);
  std::optional<std::string> best;
  size_t bestDistance = 0;
  for (const auto& c : choices) {
    const std::string lc = pl::asciiLower(c);
    size_t dist = distance(w, lc);
    // A word that is the start of exactly one kind of choice ("prof" for "profiles") counts
    // as one edit away.
    if (w.size() >= 3 && lc.rfind(w, 0) == 0) dist = std::min<size_t>(dist, 1);
    if (!best || dist < bestDistance) {
      best = c;
      bestDistance = dist;
    }
  }
  // Allow about one edit in three letters: "atach" finds "attach", "xyz" finds nothing.
  size_t allowed = std::max<size_t>(1, w.size() / 3);
  if (!best || bestDistance > allowed || bestDistance >= w.size()) return std::nullopt;
  return best;
}

std::string didYouMean(const std::string& word, const std::vector<std::string>& choices) {
  auto n = nearest(word, choices);
  return n ? "; did you mean '" + *n + "'?" : std::string();
}

}  // namespace vl::cli

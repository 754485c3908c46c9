// The colours of the five favourites (blue, red, green, magenta, orange), shared by the
// cursor-speed records and the curve graph so both always agree. No two are alike in hue, so
// the curves are told apart also when faint.
#pragma once

#include <cstdint>

namespace vl {

// Components out of 255, by favourite index modulo 5.
inline constexpr int kFavouriteColourTable[5][3] = {
    {0, 64, 255}, {255, 0, 0}, {0, 128, 0}, {255, 0, 255}, {255, 140, 0}};

inline constexpr const int* favouriteColourComponents(int64_t index) {
  return kFavouriteColourTable[((index % 5) + 5) % 5];
}

}  // namespace vl

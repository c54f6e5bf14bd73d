// Rounding to the nearest integer with halves going to the even neighbour (2.5 -> 2, 3.5 -> 4),
// the rule every computed pixel, level and frequency of the program follows.
#pragma once
#include <cmath>

namespace sonabi {

inline long long Round(double x) {
    // Below 2^51, adding and taking away 1.5 * 2^52 rounds as llrint does, in two additions
    // instead of a library call: a refresh rounds two coordinates for each of its 2048 points.
    if (std::fabs(x) < 0x1p51) return static_cast<long long>((x + 0x1.8p52) - 0x1.8p52);
    return std::llrint(x);
}

}  // namespace sonabi

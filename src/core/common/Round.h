// Rounding to the nearest integer with halves going to the even neighbour (2.5 -> 2, 3.5 -> 4),
// the rule every computed pixel, level and frequency of the program follows.
#pragma once
#include <cfloat>
#include <cmath>

namespace sonabi {

inline long long Round(double x) {
#if FLT_EVAL_METHOD == 0 || defined(__SSE2_MATH__)
    // Below 2^51, adding and taking away 1.5 * 2^52 rounds as llrint does, in two additions
    // instead of a library call: a refresh rounds two coordinates for each of its 2048 points.
    // Only where sums are rounded to double: x87 arithmetic keeps 64-bit mantissas and would
    // truncate instead (2.7 gives 2).
    if (std::fabs(x) < 0x1p51) return static_cast<long long>((x + 0x1.8p52) - 0x1.8p52);
#endif
    return std::llrint(x);
}

}  // namespace sonabi

// Rounding to the nearest integer with halves going to the even neighbour (2.5 -> 2, 3.5 -> 4),
// the rule every computed pixel, level and frequency of the program follows.
#pragma once
#include <cmath>

namespace sonabi {

inline long long Round(double x) { return std::llrint(x); }

}  // namespace sonabi

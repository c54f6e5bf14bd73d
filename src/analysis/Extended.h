// Extended-precision helpers: intermediate results of the analysis are held in long double
// until they are stored, as the reference arithmetic does.
#pragma once
#include <cmath>

namespace sonabi {

constexpr long double kPiExtended = 3.141592653589793238462643383279502884L;

// Round (halves to even) of a value still in extended precision, without rounding it to double
// first.
inline long long RoundExtended(long double x) { return std::llrint(x); }

}  // namespace sonabi

// Extended-precision helpers: intermediate results of the analysis are held in long double
// until they are stored, as the reference arithmetic does.
#pragma once
#include <cmath>
#include <limits>

// The Hamming weights, the twiddle arguments and the tone generator's bound are exact because
// their intermediates carry at least the x87's 64-bit significand. Where long double is only a
// double (MSVC, some ARM ABIs) they would silently round more: refuse to build there. Wider
// formats (arm64's 113-bit quad, ppc64el's double-double) keep more bits, which rounds the same
// except in ties closer than 2^-64 that no real input reaches.
static_assert(std::numeric_limits<long double>::digits >= 64,
              "Sonabi's extended-precision arithmetic needs a long double of at least 64 bits of "
              "significand (x87 extended or wider); this compiler's long double is narrower");

namespace sonabi {

constexpr long double kPiExtended = 3.141592653589793238462643383279502884L;

// Round (halves to even) of a value still in extended precision, without rounding it to double
// first.
inline long long RoundExtended(long double x) { return std::llrint(x); }

}  // namespace sonabi

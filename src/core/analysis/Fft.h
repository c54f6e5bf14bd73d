// The radix-2 transform of one analysis window: positive exponent, scaled by 1/N, stage by stage
// between a work and an output array, magnitudes of the lower half of the bins.
// X[k] = (1/N) * sum over n of x[n] * e^(+2*pi*i*n*k/N).
#pragma once
#include <cstdint>

namespace sonabi {

struct Complex {
    double re;
    double im;
};

constexpr unsigned kMinFftSize = 2;
constexpr unsigned kMaxFftSize = 8192;

// v = j >> (b - f); returns the lowest f bits of v in reverse order (bit 0 of v becomes bit f - 1).
// Domain 0 <= f <= b <= 31; outside it, and for v = 0, the result is 0.
// BitReverse(3, 3, 1) = 4, BitReverse(3, 3, 6) = 3, BitReverse(3, 1, 5) = 1.
unsigned BitReverse(int b, int f, unsigned j);

// The twiddle factor of index t (0 .. n - 1) for size n: (cos a, sin a) with a = t * theta and
// theta = 2*pi/n rounded to double. a and its cosine and sine are evaluated in extended
// precision and each rounded to double. Both transforms below take their factors from here.
Complex FftTwiddle(unsigned t, unsigned n);

// Transforms input[0 .. n - 1] (real samples) into output[0 .. n - 1] (natural bin order, / n)
// and writes magnitudes[0 .. n/2 - 1] = |output[k]|. work and output hold n values each; work
// is scratch, its contents afterwards differ between the code paths. Returns false, touching
// nothing, unless n is a power of two in 2 .. 8192.
// Twiddle factors come from a table built once per size (the first call of a size allocates it;
// later calls allocate nothing). Thread-safe.
bool ComputeFft(unsigned n, const double* input, Complex* work, Complex* output,
                double* magnitudes);

// The same transform computing every twiddle factor on the spot, one cosine and one sine per
// butterfly. Gives bit-identical results; kept as the reference for ComputeFft.
bool ComputeFftDirect(unsigned n, const double* input, Complex* work, Complex* output,
                      double* magnitudes);

// The code path ComputeFft takes in this build on this machine: "avx", "sse2" or "scalar".
// Defining SONABI_FFT_NO_AVX or SONABI_FFT_SCALAR when compiling Fft.cpp forces the narrower
// ones, so that a machine with AVX can test all three. Every path gives the same bits.
const char* FftPath();

}  // namespace sonabi

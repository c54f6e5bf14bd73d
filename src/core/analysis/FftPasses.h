// The pieces ComputeFft is made of, for Fft.cpp only: the butterfly, the factor tables of one
// size, and the SSE2 passes that run the stages in place in work (the AVX passes are in
// FftPassesAvx.h).
#pragma once
#include <cstdint>
#include <memory>

#include "analysis/Fft.h"

// SONABI_FFT_SCALAR builds the portable paths only, to check them against the vector ones.
#if (defined(__x86_64__) || defined(__SSE2__)) && !defined(SONABI_FFT_SCALAR)
#define SONABI_FFT_X86 1
#include "common/Simd.h"
#endif

// Every butterfly rounds its products and sums to double one by one. The general rule would keep
// the intermediates of a butterfly in extended precision; measured against an independent 80-bit
// reference, doing so changed no frequency, level, peak or harmonic level on any of 15,595
// windows of a real corpus, and it would rule out the vector paths below. So each operation is
// rounded in double, identically on every path; a fused multiply-add would change the last bits
// of the spectrum (the build turns contraction off everywhere; the pragmas keep these files right
// when they are built on their own).
#if defined(__clang__)
#pragma clang fp contract(off)
#elif defined(__GNUC__)
#pragma GCC optimize("fp-contract=off")
#endif

namespace sonabi {

// out = lo + w * hi, each product and sum rounded to double in this order:
// re = hi.re * cos + lo.re - hi.im * sin, im = hi.re * sin + lo.im + hi.im * cos.
inline Complex Butterfly(Complex lo, Complex hi, Complex w) {
    return {hi.re * w.re + lo.re - hi.im * w.im, hi.re * w.im + lo.im + hi.im * w.re};
}

// A factor (cos, sin) beside (-sin, cos), so that a vector butterfly multiplies by both without
// shuffling the factor. Adding the product with -sin equals subtracting the one with sin exactly.
struct Twiddle {
    Complex w;
    Complex turned;
};

// The twiddle factors of one size in the order the stages use them.
struct FftPlan {
    // Stage f (1 .. b - 1) uses 2^f factors, one per block of 2^(b - f) outputs, stored from
    // offset 2^f - 2: factor q is FftTwiddle(BitReverse(b, f, q << (b - f)) << (b - f)).
    std::unique_ptr<Twiddle[]> stageTwiddles;
    // Last stage: output j goes to lastTargets[j] = BitReverse(b, b, j), with that index's factor
    // (lastTurned[j] is its (-sin, cos)).
    std::unique_ptr<Complex[]> lastTwiddles;
    std::unique_ptr<Complex[]> lastTurned;
    std::unique_ptr<uint32_t[]> lastTargets;
    // For b >= 4, the factors of stages 3 .. b as the AVX passes' rows read them: stage f has
    // 2^(f - 2) rows of four cosines and four sines, from row 2^(f - 2) - 2 on; lane l of row u
    // is the factor of block (l << (f - 2)) | u (see BuildRowFactors).
    std::unique_ptr<double[]> rowFactors;

    const Twiddle* Stage(int f) const { return stageTwiddles.get() + ((1u << f) - 2); }
    const double* RowFactors(int f) const {
        return rowFactors.get() + 8 * (size_t{1u << (f - 2)} - 2);
    }
};

// Needs b >= 4 and the rest of the plan: the last stage's factors are those of its outputs.
inline void BuildRowFactors(FftPlan& plan, int b) {
    const unsigned n = 1u << b;
    plan.rowFactors.reset(new double[8 * (n / 2 - 2)]);
    for (int f = 3; f <= b; ++f) {
        double* row = plan.rowFactors.get() + 8 * ((1u << (f - 2)) - 2);
        for (unsigned u = 0; u < (1u << (f - 2)); ++u, row += 8) {
            for (unsigned l = 0; l < 4; ++l) {
                const unsigned q = (l << (f - 2)) | u;
                const Complex w = f < b ? plan.Stage(f)[q].w : plan.lastTwiddles[q];
                row[l] = w.re;
                row[4 + l] = w.im;
            }
        }
    }
}

#if defined(SONABI_FFT_X86)
namespace {

// ---- SSE2: one complex value per register [re, im] ----

// The same arithmetic as Butterfly; w is [cos, sin] and turned [-sin, cos].
inline __m128d ButterflySse(__m128d lo, __m128d hiRe, __m128d hiIm, __m128d w, __m128d turned) {
    return _mm_add_pd(_mm_add_pd(_mm_mul_pd(hiRe, w), lo), _mm_mul_pd(hiIm, turned));
}

inline __m128d LoadSse(const Complex& c) { return _mm_loadu_pd(&c.re); }

void FillWorkSse(unsigned n, const double* input, Complex* work) {
    const __m128d zero = _mm_setzero_pd();
    for (unsigned k = 0; k < n; k += 2) {
        const __m128d x = _mm_loadu_pd(input + k);
        _mm_storeu_pd(&work[k].re, _mm_unpacklo_pd(x, zero));
        _mm_storeu_pd(&work[k + 1].re, _mm_unpackhi_pd(x, zero));
    }
}

// Stages 1 .. b - 1 in place: blocks q and q + 1 of a stage share their inputs (lo from block q,
// hi from block q + 1) and differ only in the factor.
void RunStagesSse(unsigned n, int b, const FftPlan& plan, Complex* work) {
    double* d = &work[0].re;
    for (int f = 1; f < b; ++f) {
        const unsigned m = n >> f;
        const Twiddle* t = plan.Stage(f);
        for (unsigned q = 0; q < n / m; q += 2) {
            const __m128d w0 = LoadSse(t[q].w), w0t = LoadSse(t[q].turned);
            const __m128d w1 = LoadSse(t[q + 1].w), w1t = LoadSse(t[q + 1].turned);
            double* lo = d + size_t{q} * m * 2;
            double* hi = lo + size_t{m} * 2;
            for (unsigned r = 0; r < 2 * m; r += 2) {
                const __m128d l = _mm_loadu_pd(lo + r), h = _mm_loadu_pd(hi + r);
                const __m128d hRe = _mm_unpacklo_pd(h, h), hIm = _mm_unpackhi_pd(h, h);
                _mm_storeu_pd(lo + r, ButterflySse(l, hRe, hIm, w0, w0t));
                _mm_storeu_pd(hi + r, ButterflySse(l, hRe, hIm, w1, w1t));
            }
        }
    }
}

// The last stage: outputs j and j + 1 share their inputs and go to bit-reversed places.
void RunLastStageSse(unsigned n, const FftPlan& plan, const Complex* work, Complex* output) {
    const __m128d scale = _mm_set1_pd(1.0 / n);  // exact: n is a power of two
    for (unsigned j = 0; j < n; j += 2) {
        const __m128d l = LoadSse(work[j]), h = LoadSse(work[j + 1]);
        const __m128d hRe = _mm_unpacklo_pd(h, h), hIm = _mm_unpackhi_pd(h, h);
        for (unsigned e = j; e < j + 2; ++e) {
            const __m128d v = ButterflySse(l, hRe, hIm, LoadSse(plan.lastTwiddles[e]),
                                           LoadSse(plan.lastTurned[e]));
            _mm_storeu_pd(&output[plan.lastTargets[e]].re, _mm_mul_pd(v, scale));
        }
    }
}

// sqrt(re * re + im * im) for two bins at a time; n is at least 4.
void FillMagnitudesSse(unsigned n, const Complex* output, double* magnitudes) {
    for (unsigned k = 0; k < n / 2; k += 2) {
        const __m128d a = LoadSse(output[k]), b = LoadSse(output[k + 1]);
        const __m128d a2 = _mm_mul_pd(a, a), b2 = _mm_mul_pd(b, b);
        const __m128d sum = _mm_add_pd(_mm_unpacklo_pd(a2, b2), _mm_unpackhi_pd(a2, b2));
        _mm_storeu_pd(magnitudes + k, _mm_sqrt_pd(sum));
    }
}

}  // namespace
#endif

}  // namespace sonabi

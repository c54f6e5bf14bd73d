// The AVX passes of ComputeFft, for Fft.cpp only. Here work holds rows of four values: row r
// (0 .. n/4 - 1) is the values j = r + l n/4, l = 0 .. 3, their four real parts then their four
// imaginary parts. From stage 3 on a butterfly pairs two rows lane by lane, so nothing is
// shuffled there and each factor is a row of four read as it is stored (FftPlan::RowFactors).
// The first pass makes the rows from the input and the last one puts them back in bin order.
#pragma once
#include "analysis/FftPasses.h"  // also turns off contraction for what follows

#if defined(SONABI_FFT_X86)
namespace sonabi {
namespace {

#define SONABI_AVX __attribute__((target("avx")))

// Four values, or four factors (re = cosines, im = sines).
struct Row {
    __m256d re, im;
};

SONABI_AVX inline Row LoadRow(const double* p) {
    return {_mm256_loadu_pd(p), _mm256_loadu_pd(p + 4)};
}

SONABI_AVX inline void StoreRow(double* p, Row v) {
    _mm256_storeu_pd(p, v.re);
    _mm256_storeu_pd(p + 4, v.im);
}

// Butterfly lane by lane, rounded as it is:
// re = hi.re * cos + lo.re - hi.im * sin, im = hi.re * sin + lo.im + hi.im * cos.
SONABI_AVX inline Row ButterflyRow(Row lo, Row hi, Row w) {
    return {
        _mm256_sub_pd(_mm256_add_pd(_mm256_mul_pd(hi.re, w.re), lo.re), _mm256_mul_pd(hi.im, w.im)),
        _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(hi.re, w.im), lo.im),
                      _mm256_mul_pd(hi.im, w.re))};
}

SONABI_AVX inline Row BroadcastRow(const Twiddle& t) {
    return {_mm256_set1_pd(t.w.re), _mm256_set1_pd(t.w.im)};
}

// Lane k of a0 .. a3 into row k (k = 0 .. 3) of the rows at p: p the real parts, p + 4 the
// imaginary ones.
SONABI_AVX inline void StoreTransposed(double* p, __m256d a0, __m256d a1, __m256d a2, __m256d a3) {
    const __m256d t0 = _mm256_unpacklo_pd(a0, a1), t1 = _mm256_unpackhi_pd(a0, a1);
    const __m256d t2 = _mm256_unpacklo_pd(a2, a3), t3 = _mm256_unpackhi_pd(a2, a3);
    _mm256_storeu_pd(p, _mm256_permute2f128_pd(t0, t2, 0x20));
    _mm256_storeu_pd(p + 8, _mm256_permute2f128_pd(t1, t3, 0x20));
    _mm256_storeu_pd(p + 16, _mm256_permute2f128_pd(t0, t2, 0x31));
    _mm256_storeu_pd(p + 24, _mm256_permute2f128_pd(t1, t3, 0x31));
}

// Stages 1 and 2 from the real input, four values of each quarter at a time (their factors are
// the same in every lane), then turned into rows k .. k + 3.
SONABI_AVX void RunFirstStagesAvx(unsigned n, const FftPlan& plan, const double* input,
                                  double* rows) {
    const unsigned quarter = n / 4;
    const Twiddle* t1 = plan.Stage(1);
    const Twiddle* t2 = plan.Stage(2);
    const Row a = BroadcastRow(t1[0]), b = BroadcastRow(t1[1]);
    const Row c0 = BroadcastRow(t2[0]), c1 = BroadcastRow(t2[1]);
    const Row c2 = BroadcastRow(t2[2]), c3 = BroadcastRow(t2[3]);
    const __m256d zero = _mm256_setzero_pd();
    for (unsigned k = 0; k < quarter; k += 4) {
        const Row x0 = {_mm256_loadu_pd(input + k), zero};
        const Row x1 = {_mm256_loadu_pd(input + quarter + k), zero};
        const Row x2 = {_mm256_loadu_pd(input + 2 * quarter + k), zero};
        const Row x3 = {_mm256_loadu_pd(input + 3 * quarter + k), zero};
        const Row y0 = ButterflyRow(x0, x2, a), y1 = ButterflyRow(x1, x3, a);
        const Row y2 = ButterflyRow(x0, x2, b), y3 = ButterflyRow(x1, x3, b);
        const Row z0 = ButterflyRow(y0, y1, c0), z1 = ButterflyRow(y0, y1, c1);
        const Row z2 = ButterflyRow(y2, y3, c2), z3 = ButterflyRow(y2, y3, c3);
        StoreTransposed(rows + 8 * k, z0.re, z1.re, z2.re, z3.re);
        StoreTransposed(rows + 8 * k + 4, z0.im, z1.im, z2.im, z3.im);
    }
}

// One stage alone: rows r and r + m (m = n >> f) in blocks of m rows, block u's factors being
// row u of the stage's factors.
SONABI_AVX void RunRowStageAvx(unsigned count, unsigned m, const double* factors, double* rows) {
    for (unsigned g = 0; g < count; g += 2 * m) {
        const Row a = LoadRow(factors + 8 * (g / m)), b = LoadRow(factors + 8 * (g / m + 1));
        for (unsigned r = g; r < g + m; ++r) {
            double* lo = rows + 8 * r;
            double* hi = lo + 8 * m;
            const Row l = LoadRow(lo), h = LoadRow(hi);
            StoreRow(lo, ButterflyRow(l, h, a));
            StoreRow(hi, ButterflyRow(l, h, b));
        }
    }
}

// Stages f and f + 1 in one pass: a group of 2m rows (m = n >> f) is four quarters x0 .. x3;
// stage f gives y0 = B(x0, x2, a), y1 = B(x1, x3, a), y2 = B(x0, x2, b), y3 = B(x1, x3, b),
// and stage f + 1 turns (y0, y1) and (y2, y3) likewise with its four factors.
SONABI_AVX void RunRowStagePairAvx(unsigned count, unsigned m, const double* ff, const double* fg,
                                   double* rows) {
    const unsigned h = m / 2;
    for (unsigned g = 0; g < count; g += 2 * m) {
        const unsigned u = g / m;
        const Row a = LoadRow(ff + 8 * u), b = LoadRow(ff + 8 * (u + 1));
        const double* c = fg + 16 * u;
        for (unsigned r = g; r < g + h; ++r) {
            double* p0 = rows + 8 * r;
            double* p1 = p0 + 8 * h;
            double* p2 = p0 + 8 * m;
            double* p3 = p2 + 8 * h;
            const Row x0 = LoadRow(p0), x1 = LoadRow(p1), x2 = LoadRow(p2), x3 = LoadRow(p3);
            const Row y0 = ButterflyRow(x0, x2, a), y1 = ButterflyRow(x1, x3, a);
            const Row y2 = ButterflyRow(x0, x2, b), y3 = ButterflyRow(x1, x3, b);
            StoreRow(p0, ButterflyRow(y0, y1, LoadRow(c)));
            StoreRow(p1, ButterflyRow(y0, y1, LoadRow(c + 8)));
            StoreRow(p2, ButterflyRow(y2, y3, LoadRow(c + 16)));
            StoreRow(p3, ButterflyRow(y2, y3, LoadRow(c + 24)));
        }
    }
}

// sqrt(re * re + im * im) of the bins in a and then b, four in order.
SONABI_AVX inline __m256d MagnitudesAvx(__m256d a, __m256d b) {
    const __m256d even = _mm256_permute2f128_pd(a, b, 0x20);  // bins 0 and 2
    const __m256d odd = _mm256_permute2f128_pd(a, b, 0x31);   // bins 1 and 3
    return _mm256_sqrt_pd(_mm256_hadd_pd(_mm256_mul_pd(even, even), _mm256_mul_pd(odd, odd)));
}

// Row e of the last stage, scaled, into output and, for an even row, the magnitudes. Its lanes
// l = 0, 1, 2, 3 are bins g, g + 2, g + 1, g + 3 with g = BitReverse(b, b, e), so interleaving
// its real and imaginary parts gives bins g, g + 1 and g + 2, g + 3 in order; g is below n/2,
// where the magnitudes are, exactly for the even rows.
SONABI_AVX inline void StoreBins(Row z, __m256d scale, unsigned g, bool even, Complex* output,
                                 double* magnitudes) {
    const __m256d re = _mm256_mul_pd(z.re, scale), im = _mm256_mul_pd(z.im, scale);
    const __m256d low = _mm256_unpacklo_pd(re, im), high = _mm256_unpackhi_pd(re, im);
    _mm256_storeu_pd(&output[g].re, low);
    _mm256_storeu_pd(&output[g + 2].re, high);
    if (even) _mm256_storeu_pd(magnitudes + g, MagnitudesAvx(low, high));
}

// Stages b - 1 and b on rows r .. r + 3, into output and the magnitudes.
SONABI_AVX void RunLastStagesAvx(unsigned n, int b, const FftPlan& plan, const double* rows,
                                 Complex* output, double* magnitudes) {
    const __m256d scale = _mm256_set1_pd(1.0 / n);  // exact: n is a power of two
    const double* ff = plan.RowFactors(b - 1);
    const double* fg = plan.RowFactors(b);
    const uint32_t* targets = plan.lastTargets.get();
    for (unsigned r = 0; r < n / 4; r += 4) {
        const double* p = rows + 8 * r;
        const Row x0 = LoadRow(p), x1 = LoadRow(p + 8), x2 = LoadRow(p + 16), x3 = LoadRow(p + 24);
        const Row a = LoadRow(ff + 4 * r), c = LoadRow(ff + 4 * r + 8);
        const Row y0 = ButterflyRow(x0, x2, a), y1 = ButterflyRow(x1, x3, a);
        const Row y2 = ButterflyRow(x0, x2, c), y3 = ButterflyRow(x1, x3, c);
        const double* w = fg + 8 * r;
        StoreBins(ButterflyRow(y0, y1, LoadRow(w)), scale, targets[r], true, output, magnitudes);
        StoreBins(ButterflyRow(y0, y1, LoadRow(w + 8)), scale, targets[r + 1], false, output,
                  magnitudes);
        StoreBins(ButterflyRow(y2, y3, LoadRow(w + 16)), scale, targets[r + 2], true, output,
                  magnitudes);
        StoreBins(ButterflyRow(y2, y3, LoadRow(w + 24)), scale, targets[r + 3], false, output,
                  magnitudes);
    }
}

// The whole transform for b >= 4: the first two stages into rows, a lone stage when the count
// of the middle ones is odd (early, where its blocks are long), the rest in pairs, then the last
// two with the magnitudes.
SONABI_AVX void RunAvx(unsigned n, int b, const FftPlan& plan, const double* input, Complex* work,
                       Complex* output, double* magnitudes) {
    const unsigned count = n / 4;
    double* rows = &work[0].re;
    RunFirstStagesAvx(n, plan, input, rows);
    int f = 3;
    if ((b - 4) % 2 == 1) {
        RunRowStageAvx(count, n >> f, plan.RowFactors(f), rows);
        ++f;
    }
    for (; f + 1 <= b - 2; f += 2) {
        RunRowStagePairAvx(count, n >> f, plan.RowFactors(f), plan.RowFactors(f + 1), rows);
    }
    RunLastStagesAvx(n, b, plan, rows, output, magnitudes);
}

#undef SONABI_AVX

}  // namespace
}  // namespace sonabi
#endif

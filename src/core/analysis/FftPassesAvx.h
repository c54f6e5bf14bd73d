// The AVX passes of ComputeFft, for Fft.cpp only: two complex values per register
// [re0, im0, re1, im1], two stages per pass over work where it can, the last two stages together
// with the magnitudes.
#pragma once
#include "analysis/FftPasses.h"  // also turns off contraction for what follows

#if defined(SONABI_FFT_X86)
namespace sonabi {
namespace {

#define SONABI_AVX __attribute__((target("avx")))

struct AvxTwiddle {
    __m256d w, turned;
};

SONABI_AVX inline AvxTwiddle BroadcastAvx(const Twiddle& t) {
    return {_mm256_broadcast_pd(reinterpret_cast<const __m128d*>(&t.w)),
            _mm256_broadcast_pd(reinterpret_cast<const __m128d*>(&t.turned))};
}

// hi split into [re0, re0, re1, re1] and [im0, im0, im1, im1], shared by both factors.
struct AvxHi {
    __m256d re, im;
};

SONABI_AVX inline AvxHi SplitAvx(__m256d h) {
    return {_mm256_unpacklo_pd(h, h), _mm256_unpackhi_pd(h, h)};
}

SONABI_AVX inline __m256d ButterflyAvx(__m256d lo, AvxHi hi, const AvxTwiddle& w) {
    return _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(hi.re, w.w), lo),
                         _mm256_mul_pd(hi.im, w.turned));
}

// Two real samples x0, x1 as [x0, x0, x1, x1], the real parts of a hi operand (its imaginary
// parts are all +0).
SONABI_AVX inline __m256d LoadRealPairAvx(const double* x) {
    return _mm256_permute_pd(_mm256_broadcast_pd(reinterpret_cast<const __m128d*>(x)), 0b1100);
}

// A lo operand: two values of work at p, or with kReal the real samples x[i], x[i + 1] as complex
// values [x0, 0, x1, 0].
template <bool kReal>
SONABI_AVX inline __m256d LoadAvx(const double* x, unsigned i, const double* p) {
    if (!kReal) return _mm256_loadu_pd(p);
    return _mm256_blend_pd(LoadRealPairAvx(x + i), _mm256_setzero_pd(), 0b1010);
}

// A hi operand split as SplitAvx does, from work at p or (kReal) from real samples.
template <bool kReal>
SONABI_AVX inline AvxHi LoadHiAvx(const double* x, unsigned i, const double* p) {
    if (!kReal) return SplitAvx(_mm256_loadu_pd(p));
    return {LoadRealPairAvx(x + i), _mm256_setzero_pd()};
}

// Stages f and f + 1 in one pass, in place: a group of 2m values (m = n >> f) is four quarters
// x0 .. x3; stage f gives y0 = B(x0, x2, a), y1 = B(x1, x3, a), y2 = B(x0, x2, b),
// y3 = B(x1, x3, b), and stage f + 1 turns (y0, y1) and (y2, y3) likewise with its four factors.
// The intermediate values stay in registers; every value is rounded as the stages round it.
// With kReal the inputs are the real samples of `input` rather than work's values.
template <bool kReal>
SONABI_AVX void RunStagePairAvx(unsigned n, unsigned m, const Twiddle* tf, const Twiddle* tg,
                                const double* input, Complex* work) {
    const unsigned h = m / 2;  // values per quarter, at least 2
    for (unsigned g = 0; g < n; g += 2 * m) {
        const unsigned q = g / m;
        const AvxTwiddle a = BroadcastAvx(tf[q]), b = BroadcastAvx(tf[q + 1]);
        const AvxTwiddle c0 = BroadcastAvx(tg[2 * q]), c1 = BroadcastAvx(tg[2 * q + 1]);
        const AvxTwiddle c2 = BroadcastAvx(tg[2 * q + 2]), c3 = BroadcastAvx(tg[2 * q + 3]);
        double* p = &work[g].re;
        const double* x = kReal ? input + g : nullptr;
        for (unsigned r = 0; r < h; r += 2) {
            double* p0 = p + 2 * r;
            double* p1 = p0 + 2 * h;
            double* p2 = p0 + 2 * m;
            double* p3 = p2 + 2 * h;
            const __m256d x0 = LoadAvx<kReal>(x, r, p0);
            const __m256d x1 = LoadAvx<kReal>(x, h + r, p1);
            const AvxHi x2 = LoadHiAvx<kReal>(x, m + r, p2);
            const AvxHi x3 = LoadHiAvx<kReal>(x, m + h + r, p3);
            const __m256d y0 = ButterflyAvx(x0, x2, a), y2 = ButterflyAvx(x0, x2, b);
            const AvxHi y1 = SplitAvx(ButterflyAvx(x1, x3, a));
            const AvxHi y3 = SplitAvx(ButterflyAvx(x1, x3, b));
            _mm256_storeu_pd(p0, ButterflyAvx(y0, y1, c0));
            _mm256_storeu_pd(p1, ButterflyAvx(y0, y1, c1));
            _mm256_storeu_pd(p2, ButterflyAvx(y2, y3, c2));
            _mm256_storeu_pd(p3, ButterflyAvx(y2, y3, c3));
        }
    }
}

// One stage in place, blocks of m >= 2 values.
SONABI_AVX void RunStageAvx(unsigned n, unsigned m, const Twiddle* t, Complex* work) {
    for (unsigned q = 0; q < n / m; q += 2) {
        const AvxTwiddle a = BroadcastAvx(t[q]), b = BroadcastAvx(t[q + 1]);
        double* lo = &work[size_t{q} * m].re;
        double* hi = lo + size_t{m} * 2;
        for (unsigned r = 0; r < 2 * m; r += 4) {
            const __m256d l = _mm256_loadu_pd(lo + r);
            const AvxHi x = SplitAvx(_mm256_loadu_pd(hi + r));
            _mm256_storeu_pd(lo + r, ButterflyAvx(l, x, a));
            _mm256_storeu_pd(hi + r, ButterflyAvx(l, x, b));
        }
    }
}

SONABI_AVX inline AvxTwiddle FactorsAvx(const double* f) {
    return {_mm256_loadu_pd(f), _mm256_loadu_pd(f + 8)};
}

// sqrt(re * re + im * im) of the bins in a and then b, four in order.
SONABI_AVX inline __m256d MagnitudesAvx(__m256d a, __m256d b) {
    const __m256d even = _mm256_permute2f128_pd(a, b, 0x20);  // bins 0 and 2
    const __m256d odd = _mm256_permute2f128_pd(a, b, 0x31);   // bins 1 and 3
    return _mm256_sqrt_pd(_mm256_hadd_pd(_mm256_mul_pd(even, even), _mm256_mul_pd(odd, odd)));
}

// Stage b - 1 in place in work, which keeps its result, the last stage into output and the
// magnitudes, in one pass, as RunLastStages512 does: group i of four values x0 .. x3
// (work[4i ..]) gives y0 .. y3, and the last stage's outputs of group i land at r + t n/4
// (t = 0 .. 3, r = BitReverse(b - 2, b - 2, i)). Two groups of consecutive r share a register, one
// value each, so their outputs are stored two at a time in order; four groups make one step.
SONABI_AVX void RunLastStagesAvx(unsigned n, const FftPlan& plan, Complex* work, Complex* output,
                                 double* magnitudes) {
    const unsigned quarter = n / 4;
    const unsigned lane[4] = {0, n / 8, n / 16, 3 * n / 16};  // group of r + k after that of r
    const __m256d scale = _mm256_set1_pd(1.0 / n);            // exact: n is a power of two
    const double* f = &plan.groupedLast[0].re;
    for (unsigned r = 0; r < quarter; r += 4, f += 96) {
        const unsigned first = plan.lastTargets[4 * r];
        __m256d q[2][4];
        for (unsigned pair = 0; pair < 2; ++pair) {
            double* ga = &work[4 * (first + lane[2 * pair])].re;
            double* gb = &work[4 * (first + lane[2 * pair + 1])].re;
            const __m256d a01 = _mm256_loadu_pd(ga), a23 = _mm256_loadu_pd(ga + 4);
            const __m256d b01 = _mm256_loadu_pd(gb), b23 = _mm256_loadu_pd(gb + 4);
            const __m256d x0 = _mm256_permute2f128_pd(a01, b01, 0x20);
            const __m256d x1 = _mm256_permute2f128_pd(a01, b01, 0x31);
            const AvxHi x2 = SplitAvx(_mm256_permute2f128_pd(a23, b23, 0x20));
            const AvxHi x3 = SplitAvx(_mm256_permute2f128_pd(a23, b23, 0x31));
            const double* fp = f + 4 * pair;  // this pair's half of each register of four
            const AvxTwiddle s = FactorsAvx(fp), t = FactorsAvx(fp + 16);
            const __m256d y0 = ButterflyAvx(x0, x2, s), y1 = ButterflyAvx(x1, x3, s);
            const __m256d y2 = ButterflyAvx(x0, x2, t), y3 = ButterflyAvx(x1, x3, t);
            _mm256_storeu_pd(ga, _mm256_permute2f128_pd(y0, y1, 0x20));
            _mm256_storeu_pd(ga + 4, _mm256_permute2f128_pd(y2, y3, 0x20));
            _mm256_storeu_pd(gb, _mm256_permute2f128_pd(y0, y1, 0x31));
            _mm256_storeu_pd(gb + 4, _mm256_permute2f128_pd(y2, y3, 0x31));
            const AvxHi h1 = SplitAvx(y1), h3 = SplitAvx(y3);
            q[pair][0] = _mm256_mul_pd(ButterflyAvx(y0, h1, FactorsAvx(fp + 32)), scale);
            q[pair][2] = _mm256_mul_pd(ButterflyAvx(y0, h1, FactorsAvx(fp + 48)), scale);
            q[pair][1] = _mm256_mul_pd(ButterflyAvx(y2, h3, FactorsAvx(fp + 64)), scale);
            q[pair][3] = _mm256_mul_pd(ButterflyAvx(y2, h3, FactorsAvx(fp + 80)), scale);
        }
        for (unsigned t = 0; t < 4; ++t) {
            _mm256_storeu_pd(&output[t * quarter + r].re, q[0][t]);
            _mm256_storeu_pd(&output[t * quarter + r + 2].re, q[1][t]);
        }
        _mm256_storeu_pd(magnitudes + r, MagnitudesAvx(q[0][0], q[1][0]));
        _mm256_storeu_pd(magnitudes + quarter + r, MagnitudesAvx(q[0][1], q[1][1]));
    }
}

// The whole transform for b >= 4: stages in pairs from the real input, a lone stage when their
// count is odd (early, where its blocks are long), then the last two with the magnitudes. Three
// stages in one pass ran slower than a pair and a lone stage: each stage here is bound by its
// arithmetic rather than by memory.
SONABI_AVX void RunAvx(unsigned n, int b, const FftPlan& plan, const double* input, Complex* work,
                       Complex* output, double* magnitudes) {
    RunStagePairAvx<true>(n, n >> 1, plan.Stage(1), plan.Stage(2), input, work);
    int f = 3;
    if ((b - 2) % 2 == 1) {
        RunStageAvx(n, n >> f, plan.Stage(f), work);
        ++f;
    }
    for (; f + 1 <= b - 2; f += 2) {
        RunStagePairAvx<false>(n, n >> f, plan.Stage(f), plan.Stage(f + 1), nullptr, work);
    }
    RunLastStagesAvx(n, plan, work, output, magnitudes);
}

#undef SONABI_AVX

}  // namespace
}  // namespace sonabi
#endif

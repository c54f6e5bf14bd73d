// The pieces ComputeFft is made of, for Fft.cpp only: the butterfly, the factor tables of one
// size, and the x86 vector passes (SSE2, AVX, AVX-512) that run the stages in place in work.
#pragma once
#include <cstdint>
#include <memory>

#include "analysis/Fft.h"

// SONABI_FFT_SCALAR builds the portable paths only, to check them against the vector ones.
#if (defined(__x86_64__) || defined(__SSE2__)) && !defined(SONABI_FFT_SCALAR)
#define SONABI_FFT_X86 1
#include <immintrin.h>
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
    // For b >= 4, the factors of the last two stages in the order RunLastStages512 reads them
    // (see BuildGroupedLastFactors).
    std::unique_ptr<Complex[]> groupedLast;

    const Twiddle* Stage(int f) const { return stageTwiddles.get() + ((1u << f) - 2); }
};

// For each four groups of RunLastStages512 (r = 0, 4, 8, .. < n/4), 12 registers of four values,
// one value per group i = BitReverse(b - 2, b - 2, r + k), k = 0 .. 3: stage b - 1's two factors
// and their turned forms, then the last stage's factors of outputs 4i .. 4i + 3 and their turned
// forms. Needs b >= 4 and the rest of the plan.
inline void BuildGroupedLastFactors(FftPlan& plan, int b) {
    const unsigned groups = (1u << b) / 4;
    plan.groupedLast.reset(new Complex[12 * groups]);
    const Twiddle* t = plan.Stage(b - 1);
    const Complex* last = plan.lastTwiddles.get();
    const Complex* lastTurned = plan.lastTurned.get();
    Complex* out = plan.groupedLast.get();
    for (unsigned r = 0; r < groups; r += 4, out += 48) {
        for (unsigned k = 0; k < 4; ++k) {
            const unsigned i = BitReverse(b - 2, b - 2, r + k);
            const Complex set[12] = {
                t[2 * i].w,      t[2 * i].turned,       t[2 * i + 1].w,  t[2 * i + 1].turned,
                last[4 * i],     lastTurned[4 * i],     last[4 * i + 1], lastTurned[4 * i + 1],
                last[4 * i + 2], lastTurned[4 * i + 2], last[4 * i + 3], lastTurned[4 * i + 3]};
            for (unsigned v = 0; v < 12; ++v) out[4 * v + k] = set[v];
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

// ---- AVX: two complex values per register [re0, im0, re1, im1] ----

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

// Two real samples as complex values [x0, 0, x1, 0].
SONABI_AVX inline __m256d LoadRealAvx(const double* x) {
    const __m128d v = _mm_loadu_pd(x), zero = _mm_setzero_pd();
    return _mm256_insertf128_pd(_mm256_castpd128_pd256(_mm_unpacklo_pd(v, zero)),
                                _mm_unpackhi_pd(v, zero), 1);
}

// Stages f and f + 1 in one pass, in place: a group of 2m values (m = n >> f) is four quarters
// x0 .. x3; stage f gives y0 = B(x0, x2, a), y1 = B(x1, x3, a), y2 = B(x0, x2, b),
// y3 = B(x1, x3, b), and stage f + 1 turns (y0, y1) and (y2, y3) likewise with its four factors.
// The intermediate values stay in registers; every value is rounded as the stages round it.
// With kReal the inputs are the real samples of `input` rather than work's values.
template <bool kReal>
SONABI_AVX void RunStagePairAvx(unsigned n, unsigned m, const Twiddle* tf, const Twiddle* tg,
                                const double* input, Complex* work) {
    const unsigned h = m / 2;  // values per quarter, at least 4
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
            const __m256d x0 = kReal ? LoadRealAvx(x + r) : _mm256_loadu_pd(p0);
            const __m256d x1 = kReal ? LoadRealAvx(x + h + r) : _mm256_loadu_pd(p1);
            const AvxHi x2 = SplitAvx(kReal ? LoadRealAvx(x + m + r) : _mm256_loadu_pd(p2));
            const AvxHi x3 = SplitAvx(kReal ? LoadRealAvx(x + m + h + r) : _mm256_loadu_pd(p3));
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

// Outputs j and j + 1 of the last stage from y = [y_j, y_j+1], scaled by 1/n and stored at their
// bit-reversed places.
SONABI_AVX inline void LastPairAvx(__m256d y, unsigned j, const FftPlan& plan, __m256d scale,
                                   Complex* output) {
    const __m256d lo = _mm256_permute2f128_pd(y, y, 0x00);
    const AvxHi hi = SplitAvx(_mm256_permute2f128_pd(y, y, 0x11));
    const AvxTwiddle w = {_mm256_loadu_pd(&plan.lastTwiddles[j].re),
                          _mm256_loadu_pd(&plan.lastTurned[j].re)};
    const __m256d v = _mm256_mul_pd(ButterflyAvx(lo, hi, w), scale);
    _mm_storeu_pd(&output[plan.lastTargets[j]].re, _mm256_castpd256_pd128(v));
    _mm_storeu_pd(&output[plan.lastTargets[j + 1]].re, _mm256_extractf128_pd(v, 1));
}

// Stage b - 1 (blocks of 2) in place in work, which keeps its result, and the last stage from
// it into output, in one pass.
SONABI_AVX void RunLastStagesAvx(unsigned n, int b, const FftPlan& plan, Complex* work,
                                 Complex* output) {
    const __m256d scale = _mm256_set1_pd(1.0 / n);  // exact: n is a power of two
    const Twiddle* t = plan.Stage(b - 1);
    for (unsigned j = 0; j < n; j += 4) {
        const AvxTwiddle a = BroadcastAvx(t[j / 2]), c = BroadcastAvx(t[j / 2 + 1]);
        double* p = &work[j].re;
        const __m256d l = _mm256_loadu_pd(p);
        const AvxHi x = SplitAvx(_mm256_loadu_pd(p + 4));
        const __m256d y0 = ButterflyAvx(l, x, a), y1 = ButterflyAvx(l, x, c);
        _mm256_storeu_pd(p, y0);
        _mm256_storeu_pd(p + 4, y1);
        LastPairAvx(y0, j, plan, scale, output);
        LastPairAvx(y1, j + 2, plan, scale, output);
    }
}

// sqrt(re * re + im * im) for four bins at a time; n is at least 8.
SONABI_AVX void FillMagnitudesAvx(unsigned n, const Complex* output, double* magnitudes) {
    for (unsigned k = 0; k < n / 2; k += 4) {
        const __m256d a = _mm256_loadu_pd(&output[k].re), b = _mm256_loadu_pd(&output[k + 2].re);
        const __m256d even = _mm256_permute2f128_pd(a, b, 0x20);  // bins k, k + 2
        const __m256d odd = _mm256_permute2f128_pd(a, b, 0x31);   // bins k + 1, k + 3
        const __m256d sum = _mm256_hadd_pd(_mm256_mul_pd(even, even), _mm256_mul_pd(odd, odd));
        _mm256_storeu_pd(magnitudes + k, _mm256_sqrt_pd(sum));
    }
}

// The whole transform for b >= 4: stages in pairs from the real input, a lone stage when their
// count is odd, then the last two stages together.
SONABI_AVX void RunAvx(unsigned n, int b, const FftPlan& plan, const double* input, Complex* work,
                       Complex* output, double* magnitudes) {
    RunStagePairAvx<true>(n, n >> 1, plan.Stage(1), plan.Stage(2), input, work);
    int f = 3;
    for (; f + 1 <= b - 2; f += 2) {
        RunStagePairAvx<false>(n, n >> f, plan.Stage(f), plan.Stage(f + 1), nullptr, work);
    }
    if (f == b - 2) RunStageAvx(n, n >> f, plan.Stage(f), work);
    RunLastStagesAvx(n, b, plan, work, output);
    FillMagnitudesAvx(n, output, magnitudes);
}

#undef SONABI_AVX

// ---- AVX-512: four complex values per register, the same passes as with AVX ----

#define SONABI_AVX512 __attribute__((target("avx512f,avx512dq")))

struct Avx512Twiddle {
    __m512d w, turned;
};

SONABI_AVX512 inline Avx512Twiddle Broadcast512(const Twiddle& t) {
    return {_mm512_broadcast_f64x2(_mm_loadu_pd(&t.w.re)),
            _mm512_broadcast_f64x2(_mm_loadu_pd(&t.turned.re))};
}

struct Avx512Hi {
    __m512d re, im;
};

SONABI_AVX512 inline Avx512Hi Split512(__m512d h) {
    return {_mm512_unpacklo_pd(h, h), _mm512_unpackhi_pd(h, h)};
}

SONABI_AVX512 inline __m512d Butterfly512(__m512d lo, Avx512Hi hi, const Avx512Twiddle& w) {
    return _mm512_add_pd(_mm512_add_pd(_mm512_mul_pd(hi.re, w.w), lo),
                         _mm512_mul_pd(hi.im, w.turned));
}

// Four real samples as complex values [x0, 0, x1, 0, x2, 0, x3, 0].
SONABI_AVX512 inline __m512d LoadReal512(const double* x) {
    const __m512i spread = _mm512_set_epi64(0, 3, 0, 2, 0, 1, 0, 0);
    return _mm512_maskz_permutexvar_pd(0x55, spread, _mm512_castpd256_pd512(_mm256_loadu_pd(x)));
}

// As RunStagePairAvx.
template <bool kReal>
SONABI_AVX512 void RunStagePair512(unsigned n, unsigned m, const Twiddle* tf, const Twiddle* tg,
                                   const double* input, Complex* work) {
    const unsigned h = m / 2;  // values per quarter, at least 4
    for (unsigned g = 0; g < n; g += 2 * m) {
        const unsigned q = g / m;
        const Avx512Twiddle a = Broadcast512(tf[q]), b = Broadcast512(tf[q + 1]);
        const Avx512Twiddle c0 = Broadcast512(tg[2 * q]), c1 = Broadcast512(tg[2 * q + 1]);
        const Avx512Twiddle c2 = Broadcast512(tg[2 * q + 2]), c3 = Broadcast512(tg[2 * q + 3]);
        double* p = &work[g].re;
        const double* x = kReal ? input + g : nullptr;
        for (unsigned r = 0; r < h; r += 4) {
            double* p0 = p + 2 * r;
            double* p1 = p0 + 2 * h;
            double* p2 = p0 + 2 * m;
            double* p3 = p2 + 2 * h;
            const __m512d x0 = kReal ? LoadReal512(x + r) : _mm512_loadu_pd(p0);
            const __m512d x1 = kReal ? LoadReal512(x + h + r) : _mm512_loadu_pd(p1);
            const Avx512Hi x2 = Split512(kReal ? LoadReal512(x + m + r) : _mm512_loadu_pd(p2));
            const Avx512Hi x3 = Split512(kReal ? LoadReal512(x + m + h + r) : _mm512_loadu_pd(p3));
            const __m512d y0 = Butterfly512(x0, x2, a), y2 = Butterfly512(x0, x2, b);
            const Avx512Hi y1 = Split512(Butterfly512(x1, x3, a));
            const Avx512Hi y3 = Split512(Butterfly512(x1, x3, b));
            _mm512_storeu_pd(p0, Butterfly512(y0, y1, c0));
            _mm512_storeu_pd(p1, Butterfly512(y0, y1, c1));
            _mm512_storeu_pd(p2, Butterfly512(y2, y3, c2));
            _mm512_storeu_pd(p3, Butterfly512(y2, y3, c3));
        }
    }
}

// One stage in place, blocks of m >= 4 values.
SONABI_AVX512 void RunStage512(unsigned n, unsigned m, const Twiddle* t, Complex* work) {
    for (unsigned q = 0; q < n / m; q += 2) {
        const Avx512Twiddle a = Broadcast512(t[q]), b = Broadcast512(t[q + 1]);
        double* lo = &work[size_t{q} * m].re;
        double* hi = lo + size_t{m} * 2;
        for (unsigned r = 0; r < 2 * m; r += 8) {
            const __m512d l = _mm512_loadu_pd(lo + r);
            const Avx512Hi x = Split512(_mm512_loadu_pd(hi + r));
            _mm512_storeu_pd(lo + r, Butterfly512(l, x, a));
            _mm512_storeu_pd(hi + r, Butterfly512(l, x, b));
        }
    }
}

// The 4 x 4 transpose of complex values held four to a register: out[t][k] = in[k][t].
struct Avx512Quad {
    __m512d v[4];
};

SONABI_AVX512 inline Avx512Quad Transpose512(const Avx512Quad& in) {
    const __m512d t0 = _mm512_shuffle_f64x2(in.v[0], in.v[1], _MM_SHUFFLE(1, 0, 1, 0));
    const __m512d t1 = _mm512_shuffle_f64x2(in.v[0], in.v[1], _MM_SHUFFLE(3, 2, 3, 2));
    const __m512d t2 = _mm512_shuffle_f64x2(in.v[2], in.v[3], _MM_SHUFFLE(1, 0, 1, 0));
    const __m512d t3 = _mm512_shuffle_f64x2(in.v[2], in.v[3], _MM_SHUFFLE(3, 2, 3, 2));
    return {{_mm512_shuffle_f64x2(t0, t2, _MM_SHUFFLE(2, 0, 2, 0)),
             _mm512_shuffle_f64x2(t0, t2, _MM_SHUFFLE(3, 1, 3, 1)),
             _mm512_shuffle_f64x2(t1, t3, _MM_SHUFFLE(2, 0, 2, 0)),
             _mm512_shuffle_f64x2(t1, t3, _MM_SHUFFLE(3, 1, 3, 1))}};
}

SONABI_AVX512 inline Avx512Twiddle Factors512(const double* f) {
    return {_mm512_loadu_pd(f), _mm512_loadu_pd(f + 8)};
}

// Stage b - 1 in place in work, which keeps its result, the last stage into output and the
// magnitudes, in one pass. Stage b - 1 turns each group of four values x0 .. x3 (work[4i ..])
// into y0 .. y3 as RunStagePairAvx's first stage does; the last stage's outputs of group i land
// at r + t n/4 (t = 0 .. 3) with r = BitReverse(b - 2, b - 2, i). So four groups of consecutive
// r, transposed to one register per position, give four whole registers of consecutive outputs
// and of magnitudes, stored in order rather than scattered.
SONABI_AVX512 void RunLastStages512(unsigned n, const FftPlan& plan, Complex* work, Complex* output,
                                    double* magnitudes) {
    const unsigned quarter = n / 4;
    const unsigned lane[4] = {0, n / 8, n / 16, 3 * n / 16};  // group of r + k after that of r
    const __m512d scale = _mm512_set1_pd(1.0 / n);            // exact: n is a power of two
    const __m512i re = _mm512_set_epi64(14, 12, 10, 8, 6, 4, 2, 0);
    const __m512i im = _mm512_set_epi64(15, 13, 11, 9, 7, 5, 3, 1);
    const double* f = &plan.groupedLast[0].re;
    for (unsigned r = 0; r < quarter; r += 4, f += 96) {
        const unsigned first = plan.lastTargets[4 * r];
        double* group[4];
        Avx512Quad g;
        for (int k = 0; k < 4; ++k) {
            group[k] = &work[4 * (first + lane[k])].re;
            g.v[k] = _mm512_loadu_pd(group[k]);
        }
        const Avx512Quad x = Transpose512(g);
        const Avx512Twiddle a = Factors512(f), c = Factors512(f + 16);
        const Avx512Hi x2 = Split512(x.v[2]), x3 = Split512(x.v[3]);
        const Avx512Quad y = {{Butterfly512(x.v[0], x2, a), Butterfly512(x.v[1], x3, a),
                               Butterfly512(x.v[0], x2, c), Butterfly512(x.v[1], x3, c)}};
        const Avx512Quad back = Transpose512(y);
        for (int k = 0; k < 4; ++k) _mm512_storeu_pd(group[k], back.v[k]);
        const Avx512Hi y1 = Split512(y.v[1]), y3 = Split512(y.v[3]);
        const __m512d q0 = _mm512_mul_pd(Butterfly512(y.v[0], y1, Factors512(f + 32)), scale);
        const __m512d q2 = _mm512_mul_pd(Butterfly512(y.v[0], y1, Factors512(f + 48)), scale);
        const __m512d q1 = _mm512_mul_pd(Butterfly512(y.v[2], y3, Factors512(f + 64)), scale);
        const __m512d q3 = _mm512_mul_pd(Butterfly512(y.v[2], y3, Factors512(f + 80)), scale);
        _mm512_storeu_pd(&output[r].re, q0);
        _mm512_storeu_pd(&output[quarter + r].re, q1);
        _mm512_storeu_pd(&output[2 * quarter + r].re, q2);
        _mm512_storeu_pd(&output[3 * quarter + r].re, q3);
        // sqrt(re * re + im * im) of bins r .. r + 3 and n/4 + r .. n/4 + r + 3.
        const __m512d s0 = _mm512_mul_pd(q0, q0), s1 = _mm512_mul_pd(q1, q1);
        const __m512d m = _mm512_sqrt_pd(
            _mm512_add_pd(_mm512_permutex2var_pd(s0, re, s1), _mm512_permutex2var_pd(s0, im, s1)));
        _mm256_storeu_pd(magnitudes + r, _mm512_castpd512_pd256(m));
        _mm256_storeu_pd(magnitudes + quarter + r, _mm512_extractf64x4_pd(m, 1));
    }
}

// As RunAvx.
SONABI_AVX512 void Run512(unsigned n, int b, const FftPlan& plan, const double* input,
                          Complex* work, Complex* output, double* magnitudes) {
    RunStagePair512<true>(n, n >> 1, plan.Stage(1), plan.Stage(2), input, work);
    int f = 3;
    for (; f + 1 <= b - 2; f += 2) {
        RunStagePair512<false>(n, n >> f, plan.Stage(f), plan.Stage(f + 1), nullptr, work);
    }
    if (f == b - 2) RunStage512(n, n >> f, plan.Stage(f), work);
    RunLastStages512(n, plan, work, output, magnitudes);
}

#undef SONABI_AVX512

// SONABI_FFT_NO_AVX forces the SSE2 paths, to check them on a machine that has AVX.
bool HasAvx() {
#if defined(SONABI_FFT_NO_AVX)
    return false;
#else
    static const bool avx = __builtin_cpu_supports("avx");
    return avx;
#endif
}

// SONABI_FFT_NO_AVX512 forces the AVX paths, to check them on a machine that has AVX-512.
bool HasAvx512() {
#if defined(SONABI_FFT_NO_AVX) || defined(SONABI_FFT_NO_AVX512)
    return false;
#else
    static const bool avx512 =
        __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq");
    return avx512;
#endif
}

const char* VectorPathName() { return HasAvx512() ? "avx512" : HasAvx() ? "avx" : "sse2"; }

// The transform on this machine's widest path; false for n = 2, which the portable path does.
bool RunVector(unsigned n, int b, const FftPlan& plan, const double* input, Complex* work,
               Complex* output, double* magnitudes) {
    if (b >= 4 && HasAvx512()) {
        Run512(n, b, plan, input, work, output, magnitudes);
        return true;
    }
    if (b >= 4 && HasAvx()) {
        RunAvx(n, b, plan, input, work, output, magnitudes);
        return true;
    }
    if (b < 2) return false;
    FillWorkSse(n, input, work);
    RunStagesSse(n, b, plan, work);
    RunLastStageSse(n, plan, work, output);
    FillMagnitudesSse(n, output, magnitudes);
    return true;
}

}  // namespace
#endif

}  // namespace sonabi

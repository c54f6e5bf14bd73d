// The AVX-512 passes of ComputeFft, for Fft.cpp only: four complex values per register, the same
// passes as with AVX (FftPassesAvx.h).
#pragma once
#include "analysis/FftPasses.h"  // also turns off contraction for what follows

#if defined(SONABI_FFT_X86)
namespace sonabi {
namespace {

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

}  // namespace
}  // namespace sonabi
#endif

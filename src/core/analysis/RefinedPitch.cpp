#include "analysis/RefinedPitch.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#ifdef __SSE2__
#include <immintrin.h>
#endif

namespace sonabi {

namespace {

// How far from the detected period the first search looks: the detection's interpolation is
// within about 70 cents, and 6 % is 100 cents.
constexpr double kDetectedSpread = 0.06;

// The squared differences are summed in this many float lanes, each in order: enough separate
// sums to keep the adder busy, the same on every path.
constexpr unsigned kSumLanes = 16;

#ifdef __SSE2__
// The lanes in registers of W floats, each lane summed in order: the same bits at every width.
// Inlined into each path, so that its registers are that path's.
template <int W>
[[gnu::always_inline]] inline unsigned SumLanesOf(const float* x, const float* y, unsigned w,
                                                  float* lanes) {
    typedef float Lanes __attribute__((vector_size(4 * W)));
    Lanes s[kSumLanes / W] = {};
    unsigned i = 0;
    for (; i + kSumLanes <= w; i += kSumLanes) {
        for (unsigned k = 0; k < kSumLanes / W; ++k) {
            Lanes a, b;
            std::memcpy(&a, x + i + W * k, sizeof a);
            if (y) std::memcpy(&b, y + i + W * k, sizeof b), a -= b;
            s[k] += a * a;
        }
    }
    std::memcpy(lanes, s, sizeof s);
    return i;
}

__attribute__((target("avx"))) unsigned SumLanesAvx(const float* x, const float* y, unsigned w,
                                                    float* lanes) {
    return SumLanesOf<8>(x, y, w, lanes);
}

unsigned SumLanesSse2(const float* x, const float* y, unsigned w, float* lanes) {
    return SumLanesOf<4>(x, y, w, lanes);
}

bool HasAvx() {
    static const bool avx = __builtin_cpu_supports("avx");
    return avx;
}

// FloatSampleFloat of the mono floats at p, four at a time; returns how many it read.
unsigned ReadFloatsSse2(const uint8_t* p, unsigned n, float* x) {
    const __m128 scale = _mm_set1_ps(32768.0f), high = _mm_set1_ps(256.0f * 32768);
    const __m128 low = _mm_set1_ps(-256.0f * 32768);
    unsigned i = 0;
    for (; i + 4 <= n; i += 4) {
        const __m128 f = _mm_loadu_ps(reinterpret_cast<const float*>(p) + i);
        // max and min keep -0 and take the infinities to the limits; not a number becomes +0
        const __m128 clamped = _mm_min_ps(_mm_max_ps(_mm_mul_ps(f, scale), low), high);
        _mm_storeu_ps(x + i, _mm_and_ps(clamped, _mm_cmpord_ps(f, f)));
    }
    return i;
}
#else
unsigned ReadFloatsSse2(const uint8_t*, unsigned, float*) { return 0; }
#endif

unsigned SumLanesPortable(const float* x, const float* y, unsigned w, float* lanes) {
    unsigned i = 0;
    for (; i + kSumLanes <= w; i += kSumLanes) {
        for (unsigned k = 0; k < kSumLanes; ++k) {
            const float d = y ? x[i + k] - y[i + k] : x[i + k];
            lanes[k] += d * d;
        }
    }
    return i;
}

}  // namespace

double PitchSquareSum(const float* x, const float* y, unsigned w, SumPath path) {
    float lanes[kSumLanes] = {};
    unsigned i;
#ifdef __SSE2__
    if (path == SumPath::Fastest) path = HasAvx() ? SumPath::Avx : SumPath::Sse2;
    if (path == SumPath::Avx && HasAvx())
        i = SumLanesAvx(x, y, w, lanes);
    else if (path != SumPath::Portable)
        i = SumLanesSse2(x, y, w, lanes);
    else
#endif
        i = SumLanesPortable(x, y, w, lanes);
    double sum = 0;
    for (; i < w; ++i) {
        const double d = y ? double(x[i] - y[i]) : double(x[i]);
        sum += d * d;
    }
    for (float lane : lanes) sum += lane;
    return sum;
}

namespace {

double SquareSum(const float* x, const float* y, unsigned w) { return PitchSquareSum(x, y, w); }

double Difference(const float* x, unsigned w, unsigned lag) { return SquareSum(x, x + lag, w); }

// The energy of the compared samples and of those `lag` later: the window repeats itself where
// their differences are small beside it.
double Energy(const float* x, unsigned w, unsigned lag) {
    return SquareSum(x, nullptr, w) + SquareSum(x + lag, nullptr, w);
}

// The differences at the lags lo .. hi (at most kMaxLags of them) of one search, each computed
// once.
constexpr unsigned kMaxLags = 160;
struct Lags {
    Lags(const float* x, unsigned w, unsigned lo, unsigned hi) : x(x), w(w), lo(lo), hi(hi) {}
    const float* x;
    unsigned w, lo, hi;
    double known[kMaxLags];  // only where `has` says
    bool has[kMaxLags] = {};

    double operator()(unsigned lag) {
        const unsigned k = lag - lo;
        if (!has[k]) known[k] = Difference(x, w, lag), has[k] = true;
        return known[k];
    }
    // The lag of the least difference, by golden-section search over integers (the differences
    // fall towards one minimum near a period), its last few lags looked at one by one.
    unsigned Least() {
        unsigned a = lo + 1, b = hi - 1;  // a neighbour on each side stays in range
        while (b - a > 3) {
            const unsigned m1 = a + (b - a) * 382 / 1000, m2 = b - (b - a) * 382 / 1000;
            if ((*this)(m1) <= (*this)(m2))
                b = m2;
            else
                a = m1;
        }
        unsigned best = a;
        for (unsigned lag = a + 1; lag <= b; ++lag)
            if ((*this)(lag) < (*this)(best)) best = lag;
        return best;
    }
    // The lag's fraction: the vertex of the parabola through lag - 1, lag and lag + 1, or NaN
    // where lag is not a least value between its neighbours.
    double Vertex(unsigned lag) {
        const double a = (*this)(lag - 1), b = (*this)(lag), c = (*this)(lag + 1);
        const double curve = a - 2 * b + c;
        if (!(b <= a && b <= c && curve > 0)) return NAN;
        return lag + 0.5 * (a - c) / curve;
    }
};

}  // namespace

double RefinePitch(const uint8_t* frames, SampleCoding coding, int channels, int channel,
                   unsigned n, uint32_t rate, double hz, float* x) {
    if (!(hz > 0) || rate == 0 || n < 2 || n > kMaxRefineFrames || !coding.Readable()) return hz;
    const double period = rate / hz;
    const unsigned reach = static_cast<unsigned>(std::ceil(period * (1 + kDetectedSpread))) + 1;
    if (reach + period >= n) return hz;  // not two periods
    const unsigned w = std::min(n / 2, n - reach);
    const auto lo =
        static_cast<unsigned>(std::max(2.0, std::floor(period * (1 - kDetectedSpread))));
    if (reach < lo + 4 || reach - lo + 2 > kMaxLags) return hz;

    const size_t stride = static_cast<size_t>(channels) * coding.Bytes();
    const uint8_t* p = frames + static_cast<size_t>(channel) * coding.Bytes();
    if (coding.bits == 16 && !coding.floating && stride == 2) {
        for (unsigned i = 0; i < n; ++i) {  // a loop the compiler turns into vector code
            int16_t v;
            std::memcpy(&v, p + 2 * i, 2);
            x[i] = v;
        }
    } else if (coding.bits == 16 && !coding.floating) {
        for (unsigned i = 0; i < n; ++i, p += stride) {
            int16_t v;
            std::memcpy(&v, p, 2);
            x[i] = v;
        }
    } else if (coding.floating && coding.bits == 32) {
        unsigned i = stride == 4 ? ReadFloatsSse2(p, n, x) : 0;
        for (; i < n; ++i) {
            float f;
            std::memcpy(&f, p + i * stride, 4);
            x[i] = FloatSampleFloat(f);
        }
    } else {
        for (unsigned i = 0; i < n; ++i, p += stride)
            x[i] = static_cast<float>(SampleValue(coding, p));
    }

    // A quarter window's samples are compared (at least a period's), half a window apart at
    // most.
    const unsigned compared = std::max(w / 2, std::min(w, reach));
    // One period first, found within the detection's spread.
    Lags first{x, compared, lo - 1, reach};
    const unsigned one = first.Least();
    const double single = first.Vertex(one);
    if (!std::isfinite(single) || !(first(one) < 0.25 * Energy(x, first.w, one))) return hz;
    // Then as many whole periods as fit beside the compared samples, where a sample's error is
    // that many times smaller; that lag lies within a few samples of the guess.
    const unsigned periods = static_cast<unsigned>((n - compared - 1) / single);
    double lag = single;
    if (periods > 1) {
        const auto guess = static_cast<unsigned>(std::lround(periods * single));
        const unsigned spread = std::min(2 + periods / 4, kMaxLags / 2 - 1);
        const unsigned hi = std::min(guess + spread, n - compared);
        if (guess > spread && hi >= guess - spread + 4) {
            Lags many{x, compared, guess - spread, hi};
            const double v = many.Vertex(many.Least());
            if (std::isfinite(v) && std::fabs(v - periods * single) < 0.5 * single)
                lag = v / periods;
        }
    }
    const double pitch = rate / lag;
    // Never another harmonic than the one detected.
    return std::fabs(std::log2(pitch / hz)) < 0.1 ? pitch : hz;
}

}  // namespace sonabi

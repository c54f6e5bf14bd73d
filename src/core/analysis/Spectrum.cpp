#include "analysis/Spectrum.h"

#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <type_traits>

#if defined(__x86_64__)
#include "common/Simd.h"
#endif

#include "analysis/Extended.h"
#include "analysis/Fft.h"
#include "common/Round.h"

namespace sonabi {

namespace {

long double HammingWeight(unsigned n, unsigned count) {
    return 0.54L - 0.46L * std::cos(2 * kPiExtended * n / (count - 1));
}

// Extended-precision weights held as two doubles each whose sum is exactly the weight: loading
// them costs far less than loading an 80-bit value, and the sum restores every bit.
struct WeightTable {
    std::unique_ptr<double[]> hi, lo;
};

// The top 26 bits of a double's significand (with its sign and exponent): hi splits into
// hi & kHighBits and the rest, parts of at most 26 and 27 bits, so that a sample of up to 16 bits
// times either part is exact in double (see WeightSamples512). The vector paths split on the
// spot: reading two more tables cost more than the two operations.
constexpr uint64_t kHighBits = ~((uint64_t{1} << 27) - 1);

// The weights of every power-of-two window length up to the largest transform, built on first
// use (one cosine per frame would cost more than the transform itself).
const WeightTable* HammingTable(unsigned count) {
    constexpr int kSizes = 14;  // 1 .. 8192
    static WeightTable tables[kSizes];
    static std::once_flag built[kSizes];
    if (count < 2 || count > kMaxFftSize || (count & (count - 1)) != 0) return nullptr;
    int index = 0;
    while ((1u << index) < count) ++index;
    std::call_once(built[index], [index, count] {
        WeightTable& t = tables[index];
        t.hi.reset(new double[count]);
        t.lo.reset(new double[count]);
        for (unsigned n = 0; n < count; ++n) {
            const long double w = HammingWeight(n, count);
            t.hi[n] = static_cast<double>(w);
            t.lo[n] = static_cast<double>(w - t.hi[n]);
        }
    });
    return &tables[index];
}

inline long double TableWeight(const WeightTable& w, unsigned n) {
    return static_cast<long double>(w.hi[n]) + w.lo[n];
}

template <typename Sample>
void FillWeighted(unsigned count, Sample sample, double* input) {
    if (const WeightTable* w = HammingTable(count)) {
        for (unsigned n = 0; n < count; ++n) {
            input[n] = static_cast<double>(sample(n) * TableWeight(*w, n));
        }
    } else {
        for (unsigned n = 0; n < count; ++n) {
            input[n] = static_cast<double>(sample(n) * HammingWeight(n, count));
        }
    }
}

// The lanes of redo (bit k for lane k) among the eight samples that start at frame n, weighted
// again in extended precision, where the vector paths' two roundings may differ.
inline void RedoLanes(unsigned redo, const double* samples, const WeightTable& w, unsigned n,
                      double* input) {
    for (unsigned k = 0; k < 8; ++k) {
        if (redo & (1u << k))
            input[n + k] = static_cast<double>(samples[k] * TableWeight(w, n + k));
    }
}

#if defined(__x86_64__)
// Replaces each sample s in input (an integer of at most 16 bits) by what
// static_cast<double>(s * weight) gives in extended precision: the exact product rounded to a
// 64-bit significand, then to double. Eight lanes at a time in double arithmetic: A = s hi,
// B = s hi - A (exact, from the two parts of hi), D = B + s lo (exact), R = A + D, the exact
// product rounded once, and res = D - (R - A) its exact remainder. The two roundings differ from
// R only when the product lies within a 64-bit unit of the middle between two doubles (or R is a
// power of two); such a lane, about one in 2000, is redone in extended precision.
__attribute__((target("avx512f"))) void WeightSamples512(unsigned count, const WeightTable& w,
                                                         double* input) {
    const __m512i exponent = _mm512_set1_epi64(0x7FF0000000000000);
    const __m512i magnitude = _mm512_set1_epi64(0x7FFFFFFFFFFFFFFF);
    const __m512d nearMiddle = _mm512_set1_pd(0x1p-53 - 0x1p-64);  // (1/2 - 2^-12) units of R
    const __m512i highBits = _mm512_set1_epi64(static_cast<int64_t>(kHighBits));
    const __m512d zero = _mm512_setzero_pd();
    for (unsigned n = 0; n < count; n += 8) {
        const __m512d s = _mm512_loadu_pd(input + n);
        const __m512d hi = _mm512_loadu_pd(&w.hi[n]);
        const __m512d hiHigh =
            _mm512_castsi512_pd(_mm512_and_si512(_mm512_castpd_si512(hi), highBits));
        const __m512d a = _mm512_mul_pd(s, hi);
        const __m512d b = _mm512_add_pd(_mm512_sub_pd(_mm512_mul_pd(s, hiHigh), a),
                                        _mm512_mul_pd(s, _mm512_sub_pd(hi, hiHigh)));
        const __m512d d = _mm512_add_pd(b, _mm512_mul_pd(s, _mm512_loadu_pd(&w.lo[n])));
        const __m512d r = _mm512_add_pd(a, d);
        const __m512d res = _mm512_sub_pd(d, _mm512_sub_pd(r, a));
        _mm512_storeu_pd(input + n, r);
        const __m512i rBits = _mm512_castpd_si512(r);
        const __m512d power = _mm512_castsi512_pd(_mm512_and_si512(rBits, exponent));
        const __m512d absR = _mm512_castsi512_pd(_mm512_and_si512(rBits, magnitude));
        const __m512d absRes =
            _mm512_castsi512_pd(_mm512_and_si512(_mm512_castpd_si512(res), magnitude));
        const __mmask8 inexact = _mm512_cmp_pd_mask(res, zero, _CMP_NEQ_OQ);
        const __mmask8 close =
            _mm512_cmp_pd_mask(absRes, _mm512_mul_pd(power, nearMiddle), _CMP_GE_OQ) |
            _mm512_cmp_pd_mask(absR, power, _CMP_EQ_OQ);
        if (const unsigned redo = inexact & close) {
            double samples[8];
            _mm512_storeu_pd(samples, s);
            RedoLanes(redo, samples, w, n, input);
        }
    }
}

// The same operations in the same order as WeightSamples512 for four lanes, so the same argument
// holds lane by lane (no fused multiply-add, which would round differently): the rounded product
// r of samples s, and the mask of the lanes to redo.
struct Weighted4 {
    __m256d r;
    int redo;
};

__attribute__((target("avx2"))) inline Weighted4 Weight4(__m256d s, const WeightTable& w,
                                                         unsigned n) {
    const __m256d highBits =
        _mm256_castsi256_pd(_mm256_set1_epi64x(static_cast<int64_t>(kHighBits)));
    const __m256d exponent = _mm256_castsi256_pd(_mm256_set1_epi64x(0x7FF0000000000000));
    const __m256d magnitude = _mm256_castsi256_pd(_mm256_set1_epi64x(0x7FFFFFFFFFFFFFFF));
    const __m256d nearMiddle = _mm256_set1_pd(0x1p-53 - 0x1p-64);
    const __m256d hi = _mm256_loadu_pd(&w.hi[n]);
    const __m256d hiHigh = _mm256_and_pd(hi, highBits);
    const __m256d a = _mm256_mul_pd(s, hi);
    const __m256d b = _mm256_add_pd(_mm256_sub_pd(_mm256_mul_pd(s, hiHigh), a),
                                    _mm256_mul_pd(s, _mm256_sub_pd(hi, hiHigh)));
    const __m256d d = _mm256_add_pd(b, _mm256_mul_pd(s, _mm256_loadu_pd(&w.lo[n])));
    const __m256d r = _mm256_add_pd(a, d);
    const __m256d res = _mm256_sub_pd(d, _mm256_sub_pd(r, a));
    const __m256d power = _mm256_and_pd(r, exponent);
    const __m256d inexact = _mm256_cmp_pd(res, _mm256_setzero_pd(), _CMP_NEQ_OQ);
    const __m256d close = _mm256_or_pd(
        _mm256_cmp_pd(_mm256_and_pd(res, magnitude), _mm256_mul_pd(power, nearMiddle), _CMP_GE_OQ),
        _mm256_cmp_pd(_mm256_and_pd(r, magnitude), power, _CMP_EQ_OQ));
    return {r, _mm256_movemask_pd(_mm256_and_pd(inexact, close))};
}

// WeightSamples512 in four lanes, eight samples per step so that one branch covers them.
__attribute__((target("avx2"))) void WeightSamples256(unsigned count, const WeightTable& w,
                                                      double* input) {
    for (unsigned n = 0; n < count; n += 8) {
        const __m256d s0 = _mm256_loadu_pd(input + n), s1 = _mm256_loadu_pd(input + n + 4);
        const Weighted4 v0 = Weight4(s0, w, n), v1 = Weight4(s1, w, n + 4);
        _mm256_storeu_pd(input + n, v0.r);
        _mm256_storeu_pd(input + n + 4, v1.r);
        if (const unsigned redo = v0.redo | v1.redo << 4) {
            double samples[8];
            _mm256_storeu_pd(samples, s0);
            _mm256_storeu_pd(samples + 4, s1);
            RedoLanes(redo, samples, w, n, input);
        }
    }
}

// Eight 16-bit samples of channel `channel` of frames of `channels` channels (1 or 2) at `data`
// as 32-bit integers; frames of two channels are read whole, so nothing past the window is
// touched.
__attribute__((target("avx2"))) inline __m256i Read16x8(const uint8_t* data, int channels,
                                                        int channel) {
    if (channels == 1)
        return _mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data)));
    const __m256i frames = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data));
    return _mm256_srai_epi32(channel == 0 ? _mm256_slli_epi32(frames, 16) : frames, 16);
}

__attribute__((target("avx512f,avx2"))) void ReadSamples512(unsigned count, const uint8_t* data,
                                                            int channels, int channel,
                                                            double* input) {
    const size_t frame = 2 * static_cast<size_t>(channels);
    for (unsigned n = 0; n < count; n += 8) {
        _mm512_storeu_pd(input + n,
                         _mm512_cvtepi32_pd(Read16x8(data + frame * n, channels, channel)));
    }
}

__attribute__((target("avx2"))) void ReadSamples256(unsigned count, const uint8_t* data,
                                                    int channels, int channel, double* input) {
    const size_t frame = 2 * static_cast<size_t>(channels);
    for (unsigned n = 0; n < count; n += 8) {
        const __m256i v = Read16x8(data + frame * n, channels, channel);
        _mm256_storeu_pd(input + n, _mm256_cvtepi32_pd(_mm256_castsi256_si128(v)));
        _mm256_storeu_pd(input + n + 4, _mm256_cvtepi32_pd(_mm256_extracti128_si256(v, 1)));
    }
}

// Float samples of channel `channel` of frames of `channels` channels (1 or 2) at `data`, as
// FloatSampleValue gives them, four at a time (frames of two channels read whole, as Read16x8
// does). Returns whether any of them is -0.
__attribute__((target("avx2"))) bool ReadFloatSamples(unsigned count, const uint8_t* data,
                                                      int channels, int channel, double* input) {
    const __m256d scale = _mm256_set1_pd(32768.0), high = _mm256_set1_pd(256.0 * 32768);
    const __m256d low = _mm256_set1_pd(-256.0 * 32768), zero = _mm256_setzero_pd();
    const __m256i pick = channel == 0 ? _mm256_setr_epi32(0, 2, 4, 6, 1, 3, 5, 7)
                                      : _mm256_setr_epi32(1, 3, 5, 7, 0, 2, 4, 6);
    const float* f = reinterpret_cast<const float*>(data);
    int negativeZero = 0;
    for (unsigned n = 0; n < count; n += 4, f += 4 * channels) {
        const __m128 v =
            channels == 1
                ? _mm_loadu_ps(f)
                : _mm256_castps256_ps128(_mm256_permutevar8x32_ps(_mm256_loadu_ps(f), pick));
        const __m256d d = _mm256_cvtps_pd(v);
        // Not a number gives +0; the clamp keeps -0 and takes the infinities to the limits.
        const __m256d x = _mm256_and_pd(_mm256_mul_pd(d, scale), _mm256_cmp_pd(d, d, _CMP_ORD_Q));
        const __m256d r = _mm256_min_pd(_mm256_max_pd(x, low), high);
        _mm256_storeu_pd(input + n, r);
        negativeZero |= _mm256_movemask_pd(_mm256_and_pd(_mm256_cmp_pd(r, zero, _CMP_EQ_OQ), r));
    }
    return negativeZero != 0;
}

// The vector paths this machine runs. SONABI_FFT_NO_AVX512 keeps the weighting off AVX-512 as
// well, and SONABI_FFT_NO_AVX, SONABI_FFT_SCALAR or SONABI_WEIGHTING_SCALAR on the scalar path,
// so that a build can run as a CPU without them would.
bool HasAvx2() {
    static const bool avx2 = __builtin_cpu_supports("avx2");
    return avx2;
}

bool HasAvx512() {
    static const bool avx512 = __builtin_cpu_supports("avx512f") && HasAvx2();
    return avx512;
}

#if defined(SONABI_FFT_NO_AVX) || defined(SONABI_FFT_SCALAR) || defined(SONABI_WEIGHTING_SCALAR)
WeightingPath WidestPath() { return WeightingPath::kScalar; }
#elif defined(SONABI_FFT_NO_AVX512)
WeightingPath WidestPath() { return HasAvx2() ? WeightingPath::kAvx2 : WeightingPath::kScalar; }
#else
WeightingPath WidestPath() {
    return HasAvx512() ? WeightingPath::kAvx512
           : HasAvx2() ? WeightingPath::kAvx2
                       : WeightingPath::kScalar;
}
#endif

// The weighted input of 8-, 16- and 24-bit and 32-bit float samples on a vector path; false
// where it does not apply. The argument of WeightSamples512 needs samples of at most 24 bits of
// significand: a 24-bit sample x / 256 and a float x 32768 (clamped, as SampleValue does) have
// that many, so every product there is still exact (24 x 27 = 51 bits at most).
bool FillWeightedFast(WeightingPath path, unsigned count, const uint8_t* data, SampleCoding coding,
                      int channels, int channel, double* input) {
    const WeightTable* w = HammingTable(count);
    if (!w || count < 8 || path == WeightingPath::kScalar) return false;
    if (coding.floating ? coding.bits != 32 : coding.bits > 24) return false;
    const int bits = coding.bits;
    const bool wide = path == WeightingPath::kAvx512;
    const size_t stride = static_cast<size_t>(bits / 8) * static_cast<size_t>(channels);
    const uint8_t* first = data + static_cast<size_t>(bits / 8) * static_cast<size_t>(channel);
    bool negativeZero = false;
    if (bits == 16 && channels <= 2) {
        (wide ? ReadSamples512 : ReadSamples256)(count, data, channels, channel, input);
    } else if (bits == 16) {
        for (unsigned n = 0; n < count; ++n) {
            const uint8_t* p = first + n * stride;
            input[n] = static_cast<int16_t>(p[0] | (p[1] << 8));
        }
    } else if (coding.floating && channels <= 2) {
        negativeZero = ReadFloatSamples(count, data, channels, channel, input);
    } else if (coding.floating) {
        for (unsigned n = 0; n < count; ++n) {
            float f;
            std::memcpy(&f, first + n * stride, 4);
            input[n] = FloatSampleValue(f);
            negativeZero |= input[n] == 0 && std::signbit(input[n]);
        }
    } else if (bits == 24) {
        for (unsigned n = 0; n < count; ++n)
            input[n] = static_cast<double>(SampleValue(coding, first + n * stride));  // exact
    } else {
        for (unsigned n = 0; n < count; ++n) input[n] = first[n * stride] - 128;
    }
    (wide ? WeightSamples512 : WeightSamples256)(count, *w, input);
    // -0 x weight is -0, which the vector sums give as +0: those few lanes are put right.
    for (unsigned n = 0; negativeZero && n < count; ++n) {
        float f;
        std::memcpy(&f, first + n * stride, 4);
        if (f == 0 && std::signbit(f)) input[n] = -0.0;
    }
    return true;
}
#else
bool HasAvx2() { return false; }
bool HasAvx512() { return false; }
WeightingPath WidestPath() { return WeightingPath::kScalar; }
bool FillWeightedFast(WeightingPath, unsigned, const uint8_t*, SampleCoding, int, int, double*) {
    return false;
}
#endif

}  // namespace

bool CanRunWeightingPath(WeightingPath path) {
    switch (path) {
        case WeightingPath::kAvx512:
            return HasAvx512();
        case WeightingPath::kAvx2:
            return HasAvx2();
        default:
            return true;
    }
}

const char* WeightingPathName(WeightingPath path) {
    return path == WeightingPath::kAvx512 ? "avx512"
           : path == WeightingPath::kAvx2 ? "avx2"
                                          : "scalar";
}

WeightingPath DefaultWeightingPath() {
    static const WeightingPath path = WidestPath();
    return path;
}

bool FillWindowedInput(unsigned count, const uint8_t* data, SampleCoding coding, int channels,
                       int channel, double* input) {
    return FillWindowedInputOn(DefaultWeightingPath(), count, data, coding, channels, channel,
                               input);
}

bool FillWindowedInputOn(WeightingPath path, unsigned count, const uint8_t* data,
                         SampleCoding coding, int channels, int channel, double* input) {
    if (!CanRunWeightingPath(path)) return false;
    if (count < 2 || channel < 0 || channel > 1 || channel >= channels || !coding.Readable())
        return false;
    const size_t bytes = static_cast<size_t>(coding.Bytes());
    const size_t stride = bytes * static_cast<size_t>(channels);
    const uint8_t* first = data + bytes * static_cast<size_t>(channel);
    // One loop per coding, so that the sample's decoding is not chosen again for every frame.
    const auto fill = [&](auto bits, auto floating) {
        constexpr SampleCoding fixed{decltype(bits)::value, decltype(floating)::value};
        FillWeighted(
            count, [&](unsigned n) { return SampleValue(fixed, first + n * stride); }, input);
    };
    using std::integral_constant;
    using Int = integral_constant<bool, false>;
    using Float = integral_constant<bool, true>;
    if (FillWeightedFast(path, count, data, coding, channels, channel, input)) {
        return true;
    }
    if (coding.floating) {
        if (coding.bits == 32)
            fill(integral_constant<int, 32>{}, Float{});
        else
            fill(integral_constant<int, 64>{}, Float{});
    } else if (coding.bits == 8) {
        fill(integral_constant<int, 8>{}, Int{});
    } else if (coding.bits == 16) {
        fill(integral_constant<int, 16>{}, Int{});
    } else if (coding.bits == 24) {
        fill(integral_constant<int, 24>{}, Int{});
    } else {
        fill(integral_constant<int, 32>{}, Int{});
    }
    return true;
}

int SpanBinCount(unsigned fftSize, uint32_t rate, double frequencySpan) {
    const long double bins = fftSize / (static_cast<long double>(rate) / 2 / frequencySpan);
    if (!(bins >= 0) || std::isinf(bins)) return 0;
    constexpr long double kMaxBins = 1 << 30;
    if (bins > kMaxBins) return 1 << 30;
    return static_cast<int>(RoundExtended(bins));
}

uint32_t LowCutBinFor(double hz, double rate, unsigned fftSize) {
    if (!(rate > 0)) return 0;
    const double bin = hz / (rate / static_cast<double>(fftSize - 1));
    if (!(bin < 4294967295.0)) return UINT32_MAX;
    return static_cast<uint32_t>(Round(bin));
}

double PeakThresholdFor(SampleCoding coding) { return coding.ScaleBits() == 16 ? 5.0 : 0.1; }

int ReadableBinCount(int binCount, unsigned fftSize) {
    const int readable = static_cast<int>(fftSize / 2) - 1;
    if (binCount > readable) binCount = readable;
    return binCount < 0 ? 0 : binCount;
}

}  // namespace sonabi

#include "synth/ToneGenerator.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <new>

#include "analysis/Extended.h"

namespace sonabi {

namespace {

// 2pi as the mixer has always written it. Its distance from the true 2pi (as a long double) is
// needed to reduce large angles by whole turns without changing the angle the sine sees.
constexpr long double kTwoPi = 6.283185307179586L;
constexpr long double kTwoPiExcess = -4.7694862474136858432e-16L;

// Samples between fresh sines in the fast path: a sine and a cosine cost as much as some fifty
// rotation steps.
constexpr int kBlock = 256;
// Body sums kept between the two passes: 3 s at 44.1 kHz, 2 MiB.
constexpr size_t kKeptSums = 1 << 18;

void StoreSample(uint8_t* out, long long index, long long value) {
    const auto clipped = static_cast<int16_t>(std::clamp<long long>(value, -32768, 32767));
    const auto bits = static_cast<uint16_t>(clipped);
    out[2 * index] = static_cast<uint8_t>(bits & 0xff);
    out[2 * index + 1] = static_cast<uint8_t>(bits >> 8);
}

// The shape of one tone, shared by both generators.
struct Plan {
    const ToneSettings* settings;
    int rate;
    long long n;                                 // samples written
    long long bodyEnd;                           // last body sample; -1 when there is no body
    long long fadeBegin;                         // first fade sample; the fade runs to n - 1
    int count = 0;                               // sounding harmonics
    std::array<int, kHarmonicSlots> harmonic{};  // their numbers k, increasing
    std::array<int, kHarmonicSlots> level{};     // their levels, limited to 0..100
};

Plan MakePlan(uint32_t byteCount, int rate, const ToneSettings& s) {
    Plan p{&s, rate, byteCount / 2, 0, 0};
    const long long r = s.fadeSamples;
    // R > n leaves no body and a fade over every sample; R <= 0 leaves no fade.
    p.bodyEnd = std::max(std::min(p.n - r, p.n - 1), -1LL);
    p.fadeBegin = p.bodyEnd + 1;
    const int last = std::min(s.harmonicCount, kHarmonicSlots);
    for (int k = 1; k <= last; ++k) {
        // Levels beyond 100 could keep the volume cut from ever ending at volume 1.
        const int level = std::clamp(s.levels[k], 0, 100);
        if (level == 0) continue;
        p.harmonic[p.count] = k;
        p.level[p.count] = level;
        ++p.count;
    }
    return p;
}

// Harmonic k's contribution at sample t, with the angle formed in extended precision.
long double Term(const Plan& p, int i, long long t) {
    const int k = p.harmonic[i];
    const long double arg =
        ((kTwoPi * p.settings->frequency) * k * t) / p.rate + p.settings->phases[k];
    return std::sin(arg) * p.level[i];
}

double FadeFactor(const Plan& p, long long t) {
    return static_cast<double>(static_cast<long double>(p.n - t) / p.settings->fadeSamples);
}

// The unscaled body sum of sample t, held in a double after every harmonic.
double ExactBodySum(const Plan& p, long long t) {
    double sum = 0.0;
    for (int i = 0; i < p.count; ++i) sum = static_cast<double>(sum + Term(p, i, t));
    return sum;
}

// The unscaled fade sum: multiplied by h^2 after every sounding harmonic.
double ExactFadeSum(const Plan& p, long long t) {
    const double h = FadeFactor(p, t);
    double sum = 0.0;
    for (int i = 0; i < p.count; ++i) sum = static_cast<double>((sum + Term(p, i, t)) * h * h);
    return sum;
}

long double Scaled(int volume, double sum) { return static_cast<long double>(volume) * sum; }

void RecordCut(ToneResult& result, int volume) {
    if (result.cutCount < kMaxVolumeCuts) result.cuts[result.cutCount++] = volume;
}

// ---- fast path ----

// Harmonic i's angle at sample t less whole turns, found exactly in integers: with
// F k t = q rate + m the angle is 2pi q + (excess q + 2pi' m / rate + phi).
double ReducedAngle(const Plan& p, int i, long long t, bool withPhase) {
    const long long product = static_cast<long long>(p.settings->frequency) * p.harmonic[i] * t;
    const long long q = product / p.rate;
    const long long m = product % p.rate;
    const long double phase = withPhase ? p.settings->phases[p.harmonic[i]] : 0.0;
    return static_cast<double>(kTwoPi * m / p.rate + kTwoPiExcess * q + phase);
}

// Bound on |approximate sum - exact sum| for any sample, in level units. It covers the rotation's
// drift over a block (about 2.5e-13 per unit level), the extended angle's rounding (about 3e-19 of
// the largest angle), the reduced angle's rounding and the double roundings of both sums, each
// with a margin of ten or more.
double SumErrorBound(const Plan& p) {
    double levels = 0.0;
    double maxPhase = 0.0;
    for (int i = 0; i < p.count; ++i) {
        levels += p.level[i];
        maxPhase = std::max(maxPhase, std::fabs(p.settings->phases[p.harmonic[i]]));
    }
    const double largestAngle = std::fabs(static_cast<double>(kTwoPi) * p.settings->frequency) *
                                    kHarmonicSlots * static_cast<double>(p.n) / p.rate +
                                maxPhase;
    return levels * (4e-12 + 4e-18 * largestAngle + 1e-15 * maxPhase + 4e-15 * p.count);
}

struct FastTone {
    const Plan& plan;
    double error;  // SumErrorBound
    std::array<double, kHarmonicSlots> stepCos{}, stepSin{};

    explicit FastTone(const Plan& p) : plan(p), error(SumErrorBound(p)) {
        for (int i = 0; i < p.count; ++i) {
            const double step = ReducedAngle(p, i, 1, false);
            stepCos[i] = std::cos(step);
            stepSin[i] = std::sin(step);
        }
    }

    // Approximate sums of samples t0 .. t0 + len - 1 into acc, harmonics added in the same order
    // as the exact sums; fade sums when `fade` is set.
    template <bool fade>
    void Sums(long long t0, int len, double* acc) const {
        double hh[kBlock];
        for (int j = 0; j < len; ++j) {
            acc[j] = 0.0;
            if (fade) {
                const double h = FadeFactor(plan, t0 + j);
                hh[j] = h * h;
            }
        }
        // Four harmonics at a time: their rotations are independent chains, so they overlap,
        // and each sample still adds the harmonics in order.
        int i = 0;
        for (; i + 4 <= plan.count; i += 4) AddHarmonics<4, fade>(i, t0, len, hh, acc);
        for (; i < plan.count; ++i) AddHarmonics<1, fade>(i, t0, len, hh, acc);
    }

    template <int G, bool fade>
    void AddHarmonics(int first, long long t0, int len, const double* hh, double* acc) const {
        double c[G], s[G], wc[G], ws[G], level[G];
        for (int g = 0; g < G; ++g) {
            const double angle = ReducedAngle(plan, first + g, t0, true);
            c[g] = std::cos(angle);
            s[g] = std::sin(angle);
            wc[g] = stepCos[first + g], ws[g] = stepSin[first + g];
            level[g] = plan.level[first + g];
        }
        for (int j = 0; j < len; ++j) {
            double a = acc[j];
#pragma GCC unroll 4
            for (int g = 0; g < G; ++g) {
                a = fade ? (a + level[g] * s[g]) * hh[j] : a + level[g] * s[g];
                const double next = c[g] * wc[g] - s[g] * ws[g];
                s[g] = s[g] * wc[g] + c[g] * ws[g];
                c[g] = next;
            }
            acc[j] = a;
        }
    }

    template <bool fade, typename Visit>
    void ForEach(long long begin, long long end, Visit visit) const {
        double acc[kBlock];
        for (long long t0 = begin; t0 < end; t0 += kBlock) {
            const int len = static_cast<int>(std::min<long long>(kBlock, end - t0));
            Sums<fade>(t0, len, acc);
            for (int j = 0; j < len; ++j) visit(t0 + j, acc[j]);
        }
    }

    double Tolerance(int volume) const {
        return std::abs(static_cast<double>(volume)) * error + 1e-9;
    }

    // Whether some body sample exceeds the limit at this volume, given the largest approximate
    // |sum|; only a volume right at the edge needs the body scanned with exact sums.
    bool BodyExceeds(int volume, double maxAbsSum) const {
        const double v = std::abs(static_cast<double>(volume));
        const double tol = Tolerance(volume);
        if (v * maxAbsSum - tol > kToneLimit) return true;
        if (v * maxAbsSum + tol <= kToneLimit) return false;
        bool exceeds = false;
        ForEach<false>(0, plan.bodyEnd + 1, [&](long long t, double sum) {
            if (exceeds || v * std::fabs(sum) + tol <= kToneLimit) return;
            exceeds = std::fabs(Scaled(volume, ExactBodySum(plan, t))) > kToneLimit;
        });
        return exceeds;
    }

    // Round(volume * sum) from the approximate sum when no half-integer lies within the
    // tolerance, from the exact sum otherwise.
    template <typename Exact>
    long long Sample(int volume, double sum, Exact exact) const {
        const double tol = Tolerance(volume);
        const double x = volume * sum;
        if (tol < 0.25 && std::fabs(x - std::floor(x) - 0.5) > tol && std::fabs(x) < 1e15) {
            return std::llrint(x);
        }
        return RoundExtended(Scaled(volume, exact()));
    }
};

// The fast path needs finite phases and products F k t that fit in 64 bits.
bool FastPathApplies(const Plan& p) {
    for (int i = 0; i < p.count; ++i) {
        if (!std::isfinite(p.settings->phases[p.harmonic[i]])) return false;
    }
    const double largest = std::fabs(static_cast<double>(p.settings->frequency)) * kHarmonicSlots *
                           static_cast<double>(p.n);
    return largest < 1e18;
}

}  // namespace

uint32_t ToneByteCount(int position) {
    return static_cast<uint32_t>(RoundExtended(std::max(position, 0) * 88200.0L / 10));
}

int CutVolume(int v) { return static_cast<int>(RoundExtended(v * 0.8L)); }

ToneResult GenerateToneLiteral(uint8_t* out, uint32_t byteCount, int rate,
                               const ToneSettings& settings) {
    ToneResult result;
    result.volume = settings.volume;
    if (rate <= 0) return result;
    const Plan p = MakePlan(byteCount, rate, settings);
    int volume = settings.volume;
    for (long long t = 0; t <= p.bodyEnd; ++t) {
        const long double s = Scaled(volume, ExactBodySum(p, t));
        if (std::fabs(s) > kToneLimit) {
            volume = CutVolume(volume);
            RecordCut(result, volume);
            t = -1;  // start the body again
            continue;
        }
        StoreSample(out, t, RoundExtended(s));
    }
    for (long long t = p.fadeBegin; t < p.n; ++t) {
        StoreSample(out, t, RoundExtended(Scaled(volume, ExactFadeSum(p, t))));
    }
    result.volume = volume;
    return result;
}

ToneResult GenerateTone(uint8_t* out, uint32_t byteCount, int rate, const ToneSettings& settings) {
    if (rate <= 0) return GenerateToneLiteral(out, byteCount, rate, settings);
    const Plan p = MakePlan(byteCount, rate, settings);
    if (!FastPathApplies(p)) return GenerateToneLiteral(out, byteCount, rate, settings);
    const FastTone fast(p);

    // The restart rule ends at the first volume of the cut sequence at which no body sample
    // exceeds the limit, so the largest body sum decides it. The sums are kept for the samples
    // (up to the mixer's longest tone; a longer one, or one whose sums find no memory, is
    // summed again: the window's path never throws).
    const size_t bodyLength = static_cast<size_t>(p.bodyEnd + 1);
    const std::unique_ptr<double[]> kept(
        bodyLength <= kKeptSums ? new (std::nothrow) double[bodyLength] : nullptr);
    double maxAbsSum = 0.0;
    fast.ForEach<false>(0, p.bodyEnd + 1, [&](long long t, double sum) {
        maxAbsSum = std::max(maxAbsSum, std::fabs(sum));
        if (kept) kept[static_cast<size_t>(t)] = sum;
    });
    ToneResult result;
    int volume = settings.volume;
    while (fast.BodyExceeds(volume, maxAbsSum)) {
        volume = CutVolume(volume);
        RecordCut(result, volume);
    }
    result.volume = volume;

    const auto store = [&](long long t, double sum) {
        StoreSample(out, t, fast.Sample(volume, sum, [&] { return ExactBodySum(p, t); }));
    };
    if (!kept)
        fast.ForEach<false>(0, p.bodyEnd + 1, store);
    else
        for (size_t t = 0; t < bodyLength; ++t) store(static_cast<long long>(t), kept[t]);
    fast.ForEach<true>(p.fadeBegin, p.n, [&](long long t, double sum) {
        StoreSample(out, t, fast.Sample(volume, sum, [&] { return ExactFadeSum(p, t); }));
    });
    return result;
}

int FadeSamplesFor(int curRate, double seconds) {
    const long double full = static_cast<long double>(curRate) * 0.005L * 10;
    if (seconds > 0.5) return static_cast<int>(RoundExtended(full));
    return static_cast<int>(RoundExtended(full * seconds / 0.5L));
}

void TakeHarmonicPhases(int peakCount, const int* peakHarmonics, const Complex* peakValues,
                        double* phases) {
    double base = 0.0;
    for (int j = 1; j <= peakCount; ++j) {
        const int k = peakHarmonics[j];
        if (k < 1 || k > kHarmonicSlots) continue;
        const double re = peakValues[j].re;
        const double im = peakValues[j].im;
        if (re == 0.0 && im == 0.0) {
            phases[k] = -base;
        } else {
            phases[k] = static_cast<double>(
                std::atan2(static_cast<long double>(re), static_cast<long double>(im)) - base);
        }
        if (j == 1) base = phases[k];
    }
}

}  // namespace sonabi

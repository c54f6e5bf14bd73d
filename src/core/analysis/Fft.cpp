#include "analysis/Fft.h"

#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>

#include "analysis/Extended.h"
#include "analysis/FftPasses.h"
#include "analysis/FftPassesAvx.h"

namespace sonabi {

namespace {

constexpr int kMaxStages = 13;  // log2(kMaxFftSize)

// Number of stages b for a power-of-two size in 2 .. 8192, else 0.
int StageCount(unsigned n) {
    if (n < kMinFftSize || n > kMaxFftSize || (n & (n - 1)) != 0) return 0;
    int b = 0;
    while ((1u << b) < n) ++b;
    return b;
}

void BuildPlan(FftPlan& plan, int b) {
    const unsigned n = 1u << b;
    plan.stageTwiddles.reset(new Twiddle[n]);
    for (int f = 1; f < b; ++f) {
        const unsigned mask = 1u << (b - f);
        Twiddle* stage = plan.stageTwiddles.get() + ((1u << f) - 2);
        for (unsigned q = 0; q < (1u << f); ++q) {
            const Complex w = FftTwiddle(BitReverse(b, f, q * mask) * mask, n);
            stage[q] = {w, {-w.im, w.re}};
        }
    }
    plan.lastTwiddles.reset(new Complex[n]);
    plan.lastTurned.reset(new Complex[n]);
    plan.lastTargets.reset(new uint32_t[n]);
    for (unsigned j = 0; j < n; ++j) {
        const unsigned g = BitReverse(b, b, j);
        const Complex w = FftTwiddle(g, n);
        plan.lastTargets[j] = g;
        plan.lastTwiddles[j] = w;
        plan.lastTurned[j] = {-w.im, w.re};
    }
    if (b >= 4) BuildRowFactors(plan, b);
}

const FftPlan& PlanFor(int b) {
    static FftPlan plans[kMaxStages + 1];
    static std::once_flag built[kMaxStages + 1];
    std::call_once(built[b], [b] { BuildPlan(plans[b], b); });
    return plans[b];
}

void FillWorkScalar(unsigned n, const double* input, Complex* work) {
    for (unsigned k = 0; k < n; ++k) work[k] = {input[k], 0.0};
}

void FillMagnitudesScalar(unsigned n, const Complex* output, double* magnitudes) {
    for (unsigned k = 0; k < n / 2; ++k) {
        magnitudes[k] = std::sqrt(output[k].re * output[k].re + output[k].im * output[k].im);
    }
}

// Stages 1 .. b - 1 in place in work: each pair of outputs replaces the pair of inputs it is
// made of, so no stage needs a second array.
void RunStagesScalar(unsigned n, int b, const FftPlan& plan, Complex* work) {
    for (int f = 1; f < b; ++f) {
        const unsigned m = n >> f;
        const Twiddle* twiddles = plan.Stage(f);
        for (unsigned q = 0; q < n / m; q += 2) {
            Complex* lo = work + size_t{q} * m;
            Complex* hi = lo + m;
            for (unsigned r = 0; r < m; ++r) {
                const Complex l = lo[r], h = hi[r];
                lo[r] = Butterfly(l, h, twiddles[q].w);
                hi[r] = Butterfly(l, h, twiddles[q + 1].w);
            }
        }
    }
}

void RunLastStageScalar(unsigned n, const FftPlan& plan, const Complex* work, Complex* output) {
    const double scale = 1.0 / n;  // exact: n is a power of two
    for (unsigned j = 0; j < n; ++j) {
        const Complex v = Butterfly(work[j & ~1u], work[j | 1u], plan.lastTwiddles[j]);
        output[plan.lastTargets[j]] = {v.re * scale, v.im * scale};
    }
}

#if defined(SONABI_FFT_X86)
// SONABI_FFT_NO_AVX forces the SSE2 paths, to check them on a machine that has AVX.
bool HasAvx() {
#if defined(SONABI_FFT_NO_AVX)
    return false;
#else
    static const bool avx = __builtin_cpu_supports("avx");
    return avx;
#endif
}

const char* VectorPathName() { return HasAvx() ? "avx" : "sse2"; }

// The transform on this machine's widest path; false for n = 2, which the portable path does.
bool RunVector(unsigned n, int b, const FftPlan& plan, const double* input, Complex* work,
               Complex* output, double* magnitudes) {
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
#endif

}  // namespace

unsigned BitReverse(int b, int f, unsigned j) {
    if (f <= 0 || f > b || b > 31) return 0;
    const unsigned v = j >> (b - f);
    unsigned result = 0;
    for (int bit = 0; bit < f; ++bit) {
        if (v & (1u << bit)) result |= 1u << (f - 1 - bit);
    }
    return result;
}

Complex FftTwiddle(unsigned t, unsigned n) {
    const double theta = static_cast<double>(2 * kPiExtended / n);
    const long double a = static_cast<long double>(t) * theta;
    return {static_cast<double>(std::cos(a)), static_cast<double>(std::sin(a))};
}

bool ComputeFftDirect(unsigned n, const double* input, Complex* work, Complex* output,
                      double* magnitudes) {
    const int b = StageCount(n);
    if (b == 0) return false;
    FillWorkScalar(n, input, work);
    for (int f = 1; f < b; ++f) {
        const unsigned mask = 1u << (b - f);
        for (unsigned j = 0; j < n; ++j) {
            const unsigned g = BitReverse(b, f, j);
            output[j] = Butterfly(work[j & ~mask], work[j | mask], FftTwiddle(g * mask, n));
        }
        std::memcpy(work, output, n * sizeof(Complex));
    }
    for (unsigned j = 0; j < n; ++j) {
        const unsigned g = BitReverse(b, b, j);
        const Complex v = Butterfly(work[j & ~1u], work[j | 1u], FftTwiddle(g, n));
        output[g] = {v.re / n, v.im / n};
    }
    FillMagnitudesScalar(n, output, magnitudes);
    return true;
}

const char* FftPath() {
#if defined(SONABI_FFT_X86)
    return VectorPathName();
#else
    return "scalar";
#endif
}

bool ComputeFft(unsigned n, const double* input, Complex* work, Complex* output,
                double* magnitudes) {
    const int b = StageCount(n);
    if (b == 0) return false;
    const FftPlan& plan = PlanFor(b);
#if defined(SONABI_FFT_X86)
    if (RunVector(n, b, plan, input, work, output, magnitudes)) return true;
#endif
    FillWorkScalar(n, input, work);
    RunStagesScalar(n, b, plan, work);
    RunLastStageScalar(n, plan, work, output);
    FillMagnitudesScalar(n, output, magnitudes);
    return true;
}

}  // namespace sonabi

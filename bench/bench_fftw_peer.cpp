// FFTW's complex transform of the same sizes, the yardstick for ComputeFft/table: built only when
// FFTW is found (see CMakeLists.txt). The plan is measured (FFTW_PATIENT) once per size before
// timing; only the execution is timed, out of place on 16-byte aligned arrays, the real input
// given as complex values with zero imaginary parts, as ComputeFft sees it. FftVsFftw times both
// in turn within each iteration, so that their ratio sees the same machine load.
#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <chrono>
#include <cmath>
#include <vector>

#include "analysis/Fft.h"

namespace {

// A 220 Hz tone with two overtones, Hamming-weighted, at t = 0 .. n - 1.
double Tone(int t, int n) {
    const double x = 2 * M_PI * 220 * t / 44100;
    const double w = 0.54 - 0.46 * std::cos(2 * M_PI * t / (n - 1));
    return w * (6000 * std::sin(x) + 3000 * std::sin(2 * x) + 1500 * std::sin(3 * x));
}

void BM_FftwComplex(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    fftw_complex* in = fftw_alloc_complex(static_cast<size_t>(n));
    fftw_complex* out = fftw_alloc_complex(static_cast<size_t>(n));
    // The positive exponent, as ComputeFft's; planning may overwrite the arrays, so fill after.
    fftw_plan plan = fftw_plan_dft_1d(n, in, out, FFTW_BACKWARD, FFTW_PATIENT);
    for (int t = 0; t < n; ++t) {
        in[t][0] = Tone(t, n);
        in[t][1] = 0.0;
    }
    for (auto _ : state) {
        fftw_execute(plan);
        benchmark::DoNotOptimize(out);
        benchmark::ClobberMemory();
    }
    fftw_destroy_plan(plan);
    fftw_free(in);
    fftw_free(out);
}
BENCHMARK(BM_FftwComplex)->Name("FftwPeer/complex")->RangeMultiplier(2)->Range(256, 2048);

// ComputeFft's time per transform (manual time), with FFTW's in the same iterations beside it:
// counter fftw_ns, and ratio = ComputeFft / FFTW. The label names the path ComputeFft takes.
void BM_FftVsFftw(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    const unsigned un = static_cast<unsigned>(n);
    fftw_complex* in = fftw_alloc_complex(un);
    fftw_complex* out = fftw_alloc_complex(un);
    fftw_plan plan = fftw_plan_dft_1d(n, in, out, FFTW_BACKWARD, FFTW_PATIENT);
    std::vector<double> input(un), magnitudes(un / 2);
    std::vector<sonabi::Complex> work(un), output(un);
    for (int t = 0; t < n; ++t) {
        input[static_cast<size_t>(t)] = in[t][0] = Tone(t, n);
        in[t][1] = 0.0;
    }
    using Clock = std::chrono::steady_clock;
    double ours = 0, peer = 0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        sonabi::ComputeFft(un, input.data(), work.data(), output.data(), magnitudes.data());
        benchmark::DoNotOptimize(magnitudes.data());
        benchmark::ClobberMemory();
        const auto t1 = Clock::now();
        fftw_execute(plan);
        benchmark::DoNotOptimize(out);
        benchmark::ClobberMemory();
        const auto t2 = Clock::now();
        const double mine = std::chrono::duration<double>(t1 - t0).count();
        ours += mine;
        peer += std::chrono::duration<double>(t2 - t1).count();
        state.SetIterationTime(mine);
    }
    state.counters["fftw_ns"] = benchmark::Counter(peer * 1e9, benchmark::Counter::kAvgIterations);
    state.counters["ratio"] = ours / peer;
    state.SetLabel(sonabi::FftPath());
    fftw_destroy_plan(plan);
    fftw_free(in);
    fftw_free(out);
}
BENCHMARK(BM_FftVsFftw)->Name("FftVsFftw")->RangeMultiplier(2)->Range(256, 2048)->UseManualTime();

}  // namespace

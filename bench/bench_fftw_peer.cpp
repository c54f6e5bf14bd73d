// FFTW's complex transform of the same sizes, the yardstick for ComputeFft/table: built only when
// FFTW is found (see CMakeLists.txt). The plan is measured (FFTW_PATIENT) once per size before
// timing; only the execution is timed, out of place on 16-byte aligned arrays, the real input
// given as complex values with zero imaginary parts, as ComputeFft sees it.
#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <cmath>

namespace {

void BM_FftwComplex(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    fftw_complex* in = fftw_alloc_complex(static_cast<size_t>(n));
    fftw_complex* out = fftw_alloc_complex(static_cast<size_t>(n));
    // The positive exponent, as ComputeFft's; planning may overwrite the arrays, so fill after.
    fftw_plan plan = fftw_plan_dft_1d(n, in, out, FFTW_BACKWARD, FFTW_PATIENT);
    for (int t = 0; t < n; ++t) {
        const double x = 2 * M_PI * 220 * t / 44100;
        const double w = 0.54 - 0.46 * std::cos(2 * M_PI * t / (n - 1));
        in[t][0] = w * (6000 * std::sin(x) + 3000 * std::sin(2 * x) + 1500 * std::sin(3 * x));
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

}  // namespace

// Cost of the analysis core: the transform with cached against direct twiddle factors, the
// spectrum computation of one window, and the whole analysis of one window of 256 or 2048 frames.
// Run with --benchmark_repetitions=5 --benchmark_report_aggregates_only=true for medians.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <memory>
#include <vector>

#include "analysis/Fft.h"
#include "analysis/RefinedPitch.h"
#include "analysis/Spectrum.h"
#include "analysis/WindowAnalysis.h"

using namespace sonabi;

namespace {

// Two seconds of a 220 Hz tone with two overtones, 16-bit, `channels` channels at 44100 Hz.
std::vector<uint8_t> Tone(int channels) {
    std::vector<uint8_t> bytes;
    for (int t = 0; t < 88200; ++t) {
        const double x = 2 * M_PI * 220 * t / 44100;
        const int s = static_cast<int>(
            std::lrint(6000 * std::sin(x) + 3000 * std::sin(2 * x) + 1500 * std::sin(3 * x)));
        for (int c = 0; c < channels; ++c) {
            bytes.push_back(static_cast<uint8_t>(s & 0xFF));
            bytes.push_back(static_cast<uint8_t>((s >> 8) & 0xFF));
        }
    }
    return bytes;
}

template <bool kDirect>
void BM_ComputeFft(benchmark::State& state) {
    const unsigned n = static_cast<unsigned>(state.range(0));
    std::vector<double> input(n), magnitudes(n / 2);
    std::vector<Complex> work(n), output(n);
    const std::vector<uint8_t> bytes = Tone(1);
    FillWindowedInput(n, bytes.data(), 16, 1, 0, input.data());
    for (auto _ : state) {
        if (kDirect) {
            ComputeFftDirect(n, input.data(), work.data(), output.data(), magnitudes.data());
        } else {
            ComputeFft(n, input.data(), work.data(), output.data(), magnitudes.data());
        }
        benchmark::DoNotOptimize(magnitudes.data());
    }
}
BENCHMARK(BM_ComputeFft<false>)->Name("ComputeFft/table")->RangeMultiplier(2)->Range(256, 2048);
BENCHMARK(BM_ComputeFft<true>)->Name("ComputeFft/direct")->RangeMultiplier(2)->Range(256, 2048);

void BM_FillWindowedInput(benchmark::State& state) {
    const std::vector<uint8_t> bytes = Tone(1);
    std::vector<double> input(2048);
    for (auto _ : state) {
        FillWindowedInput(2048, bytes.data(), 16, 1, 0, input.data());
        benchmark::DoNotOptimize(input.data());
    }
}
BENCHMARK(BM_FillWindowedInput);

// One 2048-frame window of 16-bit samples weighted on each path in turn within every iteration,
// so that their ratios see the same machine load: the time is that of path range(0) (manual
// time), counters vs_scalar and vs_avx512 its time over theirs. The label names the path.
void BM_WeightingPaths(benchmark::State& state) {
    const WeightingPath paths[] = {WeightingPath::kScalar, WeightingPath::kAvx2,
                                   WeightingPath::kAvx512};
    const WeightingPath mine = paths[state.range(0)];
    const int channels = static_cast<int>(state.range(1));
    if (!CanRunWeightingPath(mine)) {
        state.SkipWithError("this machine cannot run the path");
        return;
    }
    const std::vector<uint8_t> bytes = Tone(channels);
    std::vector<double> input(2048);
    using Clock = std::chrono::steady_clock;
    double total[3] = {};
    for (auto _ : state) {
        for (int p = 0; p < 3; ++p) {
            if (!CanRunWeightingPath(paths[p])) continue;
            const auto t0 = Clock::now();
            FillWindowedInputOn(paths[p], 2048, bytes.data(), 16, channels, channels - 1,
                                input.data());
            benchmark::DoNotOptimize(input.data());
            benchmark::ClobberMemory();
            const double t = std::chrono::duration<double>(Clock::now() - t0).count();
            total[p] += t;
            if (paths[p] == mine) state.SetIterationTime(t);
        }
    }
    const double own = total[state.range(0)];
    state.counters["vs_scalar"] = own / total[0];
    if (CanRunWeightingPath(WeightingPath::kAvx512)) state.counters["vs_avx512"] = own / total[2];
    state.SetLabel(WeightingPathName(mine));
}
BENCHMARK(BM_WeightingPaths)
    ->ArgsProduct({{0, 1, 2}, {1, 2}})
    ->ArgNames({"path", "channels"})
    ->UseManualTime();

// Windowing, transform and peak pass of each channel of one 2048-frame window.
void BM_Spectrum(benchmark::State& state) {
    const int channels = static_cast<int>(state.range(0));
    const std::vector<uint8_t> bytes = Tone(channels);
    auto ws = std::make_unique<AnalysisWorkspace>();
    bool capture = false;
    double threshold = 5.0;
    for (auto _ : state) {
        for (int c = 0; c < channels; ++c) {
            FillWindowedInput(2048, bytes.data(), 16, channels, c, ws->input);
            ComputeFft(2048, ws->input, ws->work, ws->output, ws->magnitudes);
            double sum = 0;
            benchmark::DoNotOptimize(ScanSpectrumPeaks(186, 2048, ws->magnitudes, ws->noise, 1,
                                                       capture, threshold,
                                                       [&sum](int, double v) { sum += v; }));
            benchmark::DoNotOptimize(sum);
        }
    }
}
BENCHMARK(BM_Spectrum)->Arg(1)->Arg(2)->ArgName("channels");

void BM_AnalyzeWindow(benchmark::State& state) {
    const int channels = static_cast<int>(state.range(0));
    const std::vector<uint8_t> bytes = Tone(channels);
    const WAVEFORMATEX format = MakePcmFormat(channels, 16, 44100);
    auto ws = std::make_unique<AnalysisWorkspace>();
    AnalysisSettings settings;
    settings.fftSize = static_cast<unsigned>(state.range(1));
    WindowResult result;
    uint64_t offset = 0;
    for (auto _ : state) {
        AnalyzeWindow(bytes.data(), bytes.size(), format, offset, settings, *ws, result);
        benchmark::DoNotOptimize(result);
        offset = (offset + 1024 * format.nBlockAlign) % (bytes.size() / 2);
    }
}
// The smallest window beside the default one: what the transform's vector paths buy depends on it.
BENCHMARK(BM_AnalyzeWindow)->ArgsProduct({{1, 2}, {256, 2048}})->ArgNames({"channels", "frames"});

// The refined pitch of one window, which each analysed window pays beside the transform: its
// share of BM_AnalyzeWindow at the same length.
void BM_RefinePitch(benchmark::State& state) {
    const std::vector<uint8_t> bytes = Tone(1);
    const auto n = static_cast<unsigned>(state.range(0));
    std::vector<float> scratch(kMaxRefineFrames);
    uint64_t offset = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(RefinePitch(bytes.data() + offset, SampleCoding(16), 1, 0, n,
                                             44100, 219.5, scratch.data()));
        offset = (offset + 2048) % (bytes.size() / 2);
    }
}
BENCHMARK(BM_RefinePitch)->Arg(256)->Arg(2048)->ArgName("frames");

}  // namespace

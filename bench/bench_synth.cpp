// The mixer's tone: the step-by-step generator against the one-pass one, for the loudest case
// (3 s, 20 harmonics at 100, volume cut 13 times) and a typical note (0.5 s, 5 harmonics).
#include <benchmark/benchmark.h>

#include <vector>

#include "synth/ToneGenerator.h"

using namespace sonabi;

namespace {

ToneSettings WorstCase() {
    ToneSettings s;
    s.frequency = 100;
    s.volume = 300;
    s.fadeSamples = FadeSamplesFor(44100, 3.0);
    s.harmonicCount = 20;
    for (int k = 1; k <= 20; ++k) s.levels[k] = 100;
    return s;
}

ToneSettings TypicalNote() {
    ToneSettings s;
    s.frequency = 440;
    s.volume = 10;
    s.fadeSamples = FadeSamplesFor(44100, 0.5);
    s.harmonicCount = 20;  // MaxHarmonicCount at 440 Hz: 22050 div 440 = 50, at most 20
    const int levels[] = {100, 60, 40, 25, 10};
    for (int k = 1; k <= 5; ++k) {
        s.levels[k] = levels[k - 1];
        s.phases[k] = 0.3 * k;
    }
    return s;
}

template <ToneResult (*Generate)(uint8_t*, uint32_t, int, const ToneSettings&)>
void Run(benchmark::State& state, const ToneSettings& s, int position) {
    const uint32_t bytes = ToneByteCount(position);
    std::vector<uint8_t> buffer(bytes);
    for (auto _ : state) {
        const ToneResult r = Generate(buffer.data(), bytes, 44100, s);
        benchmark::DoNotOptimize(r.volume);
        benchmark::ClobberMemory();
    }
    state.counters["samples"] = bytes / 2;
}

void BM_ToneWorstLiteral(benchmark::State& state) {
    Run<GenerateToneLiteral>(state, WorstCase(), 30);
}
void BM_ToneWorstOnePass(benchmark::State& state) { Run<GenerateTone>(state, WorstCase(), 30); }
void BM_ToneTypicalLiteral(benchmark::State& state) {
    Run<GenerateToneLiteral>(state, TypicalNote(), 5);
}
void BM_ToneTypicalOnePass(benchmark::State& state) { Run<GenerateTone>(state, TypicalNote(), 5); }

}  // namespace

BENCHMARK(BM_ToneWorstLiteral)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ToneWorstOnePass)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ToneTypicalLiteral)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ToneTypicalOnePass)->Unit(benchmark::kMillisecond);

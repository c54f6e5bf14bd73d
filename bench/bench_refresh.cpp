// Cost of one refresh cycle of the window (waveform, spectrum, detection, publishing, with all the
// drawing into the canvases) for a 2048-frame mono and stereo window, against the same window's
// analysis alone, so the drawing's share shows as a ratio.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <cmath>
#include <cstring>
#include <memory>

#include "analysis/WindowAnalysis.h"
#include "audio/SimulatedWaveAudio.h"
#include "common/Blocks.h"
#include "form/TFormMain.h"
#include "toolkit/AppServices.h"

using namespace sonabi;

namespace {

QApplication& App() {
    static int argc = 1;
    static char name[] = "sonabi_bench";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        return new QApplication(argc, argv);
    }();
    return *app;
}

// A window holding one second of a 220 Hz tone with two overtones.
struct Window {
    SimulatedWaveAudio audio;
    std::unique_ptr<TFormMain> form;

    explicit Window(int channels) {
        App();
        AppServices::Instance().MessageBox = [](const QString&, const QString&) {};
        form = std::make_unique<TFormMain>(&audio);
        TFormMain& f = *form;
        f.CurBits = 16, f.CurRate = 44100, f.CurChannels = channels;
        f.FillWaveFormat();
        const uint32_t frames = 44100;
        uint8_t* data = blocks::Allocate(frames * f.WaveFormat.nBlockAlign);
        for (uint32_t t = 0; t < frames; ++t) {
            const double x = 2 * M_PI * 220 * t / 44100;
            const int16_t s = static_cast<int16_t>(
                std::lrint(6000 * std::sin(x) + 3000 * std::sin(2 * x) + 1500 * std::sin(3 * x)));
            for (int c = 0; c < channels; ++c) std::memcpy(data + (t * channels + c) * 2, &s, 2);
        }
        f.ReleaseWaveBuffers();
        f.WaveData = data;
        f.WaveHeader = blocks::AllocateArray<WAVEHDR>(1);
        f.WaveDataSize = frames * f.WaveFormat.nBlockAlign;
        f.HarmonicsFromAnalysis = true;
        f.ResetView();
        f.ViewOffset = 8192 * f.WaveFormat.nBlockAlign;
    }
};

void BM_FullRefresh(benchmark::State& state) {
    Window window(static_cast<int>(state.range(0)));
    TFormMain& f = *window.form;
    // Two windows in turn, as when scrolling: a refresh of the window already shown leaves the
    // waveform view as it is.
    const uint32_t at[2] = {f.ViewOffset, f.ViewOffset + 1000 * f.WaveFormat.nBlockAlign};
    size_t i = 0;
    for (auto _ : state) {
        f.ViewOffset = at[i++ % 2];
        f.FullRefresh();
    }
    state.SetLabel(state.range(0) == 1 ? "mono, with drawing" : "stereo, with drawing");
}
BENCHMARK(BM_FullRefresh)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);

}  // namespace

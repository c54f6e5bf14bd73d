// The analysis controls: the noise capture button and the two arrows that change the displayed
// frequency range and the analysis window length.
#include <algorithm>
#include <cmath>

#include "analysis/Spectrum.h"
#include "analysis/WindowAnalysis.h"
#include "common/Round.h"
#include "form/TFormMain.h"
#include "views/ScaleGeometry.h"

using namespace sonabi;

void TFormMain::ButfftampfilsetClick() {
    if (!Recording || !NoiseSpectrum) return;
    NoiseCapturePending = true;
    const int n =
        sonabi::SpanBinCount(FftSize, static_cast<uint32_t>(std::max(CurRate, 0)), FrequencySpan);
    // The noise array holds one value per bin of the largest window.
    std::fill(NoiseSpectrum, NoiseSpectrum + std::min<int>(n, kMaxWindowFrames), 0.0);
}

double* TFormMain::NoiseInForce() const {
    static double none[kMaxWindowFrames] = {};  // only read: a capture writes NoiseSpectrum
    if (!NoiseSpectrum) return none;
    const bool fits = NoiseFftSize == FftSize && NoiseRate == static_cast<uint32_t>(CurRate);
    return NoiseCapturePending || fits ? NoiseSpectrum : none;
}

void TFormMain::UpDownfftscaleClick(UDBtnType button) {
    const double span = FrequencySpan;
    const int lowCutX = LowCutX;
    if (button == btNext) {
        FrequencySpan = FrequencySpan / 2;
        LowCutX = LowCutX * 2;
        if (FrequencySpan < 250.0) FrequencySpan = span, LowCutX = lowCutX;
    } else {
        FrequencySpan = FrequencySpan * 2;
        LowCutX = LowCutX / 2;
        if (FrequencySpan > 8000.0 || FrequencySpan > CurRate / 2.0)
            FrequencySpan = span, LowCutX = lowCutX;
    }
    freq->setMaximum(static_cast<int>(Round(FrequencySpan)));
    ResetVoiceprint();
    if (!(Playing || Recording)) FullRefresh();
}

void TFormMain::UpDownChoicedataClick(UDBtnType button) {
    const int exponent = FftSizeExponent;
    FftSizeExponent =
        button == btNext ? std::max(FftSizeExponent - 1, 0) : std::min(FftSizeExponent + 1, 3);
    FftSize = FftSizeFor(FftSizeExponent);
    const uint32_t align = WaveFormat.nBlockAlign;
    if (!WindowFits(WaveDataSize, 0, align, FftSize) && FftSizeExponent > exponent) {
        // The held sound is shorter than the longer window: the step is refused.
        FftSizeExponent = exponent;
        FftSize = FftSizeFor(FftSizeExponent);
    }
    const uint32_t limit = LastWindowStart(WaveDataSize, align, FftSize);
    if (limit < PlayScrollBar->Position()) ViewOffset = limit;
    // Whatever the scroll bar said, the window never runs past the data.
    if (ViewOffset > limit) ViewOffset = limit;
    PlayScrollBar->SetMax(limit);
    PlayScrollBar->SetSteps(FftSize / 2, FftSize / 10);
    if (WaveFormat.nSamplesPerSec > 0) {
        const double ms = static_cast<double>(FftSize) / WaveFormat.nSamplesPerSec * 1000;
        TimeGridFineMs = ms > 30 ? 5 : ms > 20 ? 2 : 1;
    }
    if (!(Playing || Recording)) FullRefresh();
}

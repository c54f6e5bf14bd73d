// The analysis controls: the noise capture button and the two arrows that change the displayed
// frequency range and the analysis window length.
#include <algorithm>
#include <cmath>

#include "common/Round.h"
#include "main/TFormMain.h"

void TFormMain::ButfftampfilsetClick() {
    if (!Recording || !NoiseSpectrum) return;
    NoiseCapturePending = true;
    const long long n = Round(FftSize / (CurRate / 2.0 / FrequencySpan));
    // The noise array holds one value per bin of the largest window.
    const long long clear = std::min<long long>(n, 2048);
    for (long long i = 0; i < clear; ++i) NoiseSpectrum[i] = 0.0;
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
    FftSizeExponent = button == btNext ? std::max(FftSizeExponent - 1, 0)
                                       : std::min(FftSizeExponent + 1, 3);
    FftSize = static_cast<uint32_t>(Round(std::pow(2.0, FftSizeExponent))) << 8;
    const int64_t align = WaveFormat.nBlockAlign;
    int64_t limit = static_cast<int64_t>(WaveDataSize) - static_cast<int64_t>(FftSize) * align;
    if (limit < 0 && FftSizeExponent > exponent) {
        // The held sound is shorter than the longer window: the step is refused.
        FftSizeExponent = exponent;
        FftSize = static_cast<uint32_t>(Round(std::pow(2.0, FftSizeExponent))) << 8;
        limit = static_cast<int64_t>(WaveDataSize) - static_cast<int64_t>(FftSize) * align;
    }
    limit = std::max<int64_t>(limit, 0);
    // A sound whose last frame is cut short (an odd byte count) must not put the window
    // between two frames.
    if (align > 0) limit -= limit % align;
    if (limit < static_cast<int64_t>(PlayScrollBar->Position())) ViewOffset = static_cast<uint32_t>(limit);
    // Whatever the scroll bar said, the window never runs past the data.
    if (ViewOffset > limit) ViewOffset = static_cast<uint32_t>(limit);
    PlayScrollBar->SetMax(static_cast<uint32_t>(limit));
    PlayScrollBar->SetSteps(FftSize / 2, FftSize / 10);
    if (WaveFormat.nSamplesPerSec > 0) {
        const double ms = static_cast<double>(FftSize) / WaveFormat.nSamplesPerSec * 1000;
        TimeGridFineMs = ms > 30 ? 5 : ms > 20 ? 2 : 1;
    }
    if (!(Playing || Recording)) FullRefresh();
}

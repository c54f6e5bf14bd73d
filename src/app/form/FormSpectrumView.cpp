// The spectrum view: the frequency grid, the peaks of each channel as white lines or filled bars,
// the gain scroll bar, and the Shift-clicks that set the peak threshold and the low cut-off.
#include "analysis/Spectrum.h"
#include "common/Round.h"
#include "form/TFormMain.h"
#include "views/Colours.h"
#include "views/ScaleGeometry.h"

using namespace sonabi;

void TFormMain::DrawSpectrumPeaks(int rate, uint32_t frames, PaintBox* box, int baseline,
                                  double unitScale, double* magnitudes) {
    TCanvas& c = box->Canvas();
    const double k =
        static_cast<double>(81 - static_cast<int>(ScrollBarFftTimes->Position())) * unitScale;
    const int n =
        sonabi::SpanBinCount(frames, static_cast<uint32_t>(std::max(rate, 0)), FrequencySpan);
    const double dx = n > 0 ? (2.0 * c.Width()) / n : 0.0;
    c.PenColor = kWhite;
    c.Style = PenStyle::psSolid;
    // A peak above the threshold is a filled bar, one below it a white line.
    const auto drawPeak = [&](int i, double v) {
        const int x = static_cast<int>(Round(i * dx));
        const int y = static_cast<int>(Round(k * v + baseline));
        if (v > PeakThreshold) {
            c.Rectangle(x, y, x + 4, baseline);
        } else {
            c.MoveTo(x, y);
            c.LineTo(x, baseline);
        }
    };
    const bool capturing = NoiseCapturePending;
    SpectrumPeakMax = ScanSpectrumPeaks(n, frames, magnitudes, NoiseInForce(), LowCutBin,
                                        NoiseCapturePending, PeakThreshold, drawPeak);
    if (capturing && !NoiseCapturePending) {
        NoiseFftSize = frames;
        NoiseRate = static_cast<uint32_t>(rate);  // read back as NoiseInForce compares it
    }
}

void TFormMain::DrawThresholdLine(PaintBox* box, int baseline, double unitScale) {
    TCanvas& c = box->Canvas();
    const int y = static_cast<int>(Round(unitScale * PeakThreshold * FftTimes + baseline));
    c.PenColor = kGridGreen;
    c.Style = PenStyle::psSolid;
    c.MoveTo(0, y);
    c.LineTo(c.Width(), y);
}

void TFormMain::DrawLowCutMarker(PaintBox* box) {
    TCanvas& c = box->Canvas();
    c.PenColor = kGridGreen;
    c.Style = PenStyle::psSolid;
    c.MoveTo(LowCutX, 0);
    c.LineTo(LowCutX, c.Height());
}

void TFormMain::RedrawSpectrum() {
    ClearWithGrid(PaintBoxFft, FreqGridKept, FreqGridFineHz, FreqGridCoarseHz, FrequencySpan);
    ComputeSpectrum(FftSize, WaveData, PaintBoxFft, WaveFormat.wBitsPerSample, WaveFormat.nChannels,
                    ViewOffset);
}

void TFormMain::PaintBoxFftPaint() {
    if (Playing || Recording) return;
    RedrawSpectrum();
}

void TFormMain::ScrollBarFftTimesScroll(int scrollPos) {
    ScrollBarFftTimes->SetPosition(static_cast<uint32_t>(scrollPos));
    FftTimes = 81 - static_cast<int>(ScrollBarFftTimes->Position());
    if (!(Playing || Recording)) RedrawSpectrum();
}

void TFormMain::PaintBoxFftMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x,
                                     int y) {
    if (!(shift & Qt::ShiftModifier)) return;
    const int W = PaintBoxFft->width(), H = PaintBoxFft->height();
    if (button == Qt::LeftButton) {
        const double s = SpectrumUnitScale(CodingOf(WaveFormat).ScaleBits());
        const int base = H - 1;
        // Other widths have no amplitude scale: the threshold is left as it was.
        if (s != 0.0) PeakThreshold = (y - base) / (s * FftTimes);
        if (!(Playing || Recording)) FullRefresh();
        DrawThresholdLine(PaintBoxFft, base, s);
    }
    if (button == Qt::RightButton) {
        LowCutHz = static_cast<uint32_t>(std::max<long long>(Round(x * FrequencySpan / W), 0));
        LowCutBin = LowCutBinFor(LowCutHz, CurRate, FftSize);
        LowCutX = x;
        if (!(Playing || Recording)) {
            FullRefresh();
            TCanvas& c = PaintBoxFft->Canvas();
            c.FontColor = kGridGreen;
            c.TextOut(x + 1, 0, QString::number(LowCutHz));
        }
        DrawLowCutMarker(PaintBoxFft);
    }
}

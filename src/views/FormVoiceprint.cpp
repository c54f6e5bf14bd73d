// The sweeping voiceprint: one column of peak marks per published analysis, its frequency scale
// and the colour bar of the level map.
#include "common/Round.h"
#include "main/TFormMain.h"
#include "views/Colours.h"

void TFormMain::DrawVoiceprintColumn(int count, const double* levels, int spanBins,
                                     const int* bins) {
    VoiceprintX += 2;
    if (count <= 0) return;
    TCanvas& c = PaintBoxSeimon->Canvas();
    const int H = c.Height();
    for (int j = 0; j < count; ++j) {
        if (VoiceprintX > VoiceprintWidth) {
            VoiceprintX = 0;
            ClearPaintBox(PaintBoxSeimon);
        }
        const long long L = Round(levels[j] * 255);
        const uint32_t twiceBin = 2u * static_cast<uint32_t>(bins[j]);
        const int y = spanBins != 0
                          ? static_cast<int>(Round((1 - static_cast<double>(twiceBin) / spanBins) * H))
                          : 0;
        c.PenColor = LevelColour(static_cast<int>(std::clamp<long long>(L, -1, 256)));
        c.Rectangle(VoiceprintX, y, VoiceprintX + 2, y + 1);
    }
}

void TFormMain::ResetVoiceprint() {
    ClearPaintBox(PaintBoxSeimon);
    ClearPaintBox(PaintBoxSeimonScale);
    VoiceprintX = 0;
    DrawFreqScale(PaintBoxSeimonScale, FreqGridFineHz, FreqGridCoarseHz, FrequencySpan, 0);
}

void TFormMain::DrawFreqScale(PaintBox* box, int fine, int coarse, double top, double bottom) {
    TCanvas& c = box->Canvas();
    const int W = c.Width(), H = c.Height();
    const double range = top - bottom;
    if (fine <= 0 || coarse <= 0 || !(range > 0)) return;
    auto rowOf = [&](long long k, int step) {
        return static_cast<int>(Round((1 - (k * step - bottom) / range) * H));
    };
    c.PenColor = kGridGreen;
    c.Style = PenStyle::psDot;
    c.FontColor = kRed;
    long long kLow = Round(bottom / fine), kHigh = Round(top / fine);
    for (long long k = kLow + 1; k <= kHigh - 1; ++k) {
        const int y = rowOf(k, fine);
        c.MoveTo(0, y);
        c.LineTo(W, y);
        if (kHigh - kLow < 10) c.TextOut(1, y - 5, QString::number(k * fine));
    }
    c.PenColor = kGridGreen;
    c.Style = PenStyle::psSolid;
    kLow = Round(bottom / coarse), kHigh = Round(top / coarse);
    for (long long k = kLow + 1; k <= kHigh - 1; ++k) {
        const int y = rowOf(k, coarse);
        c.MoveTo(0, y);
        c.LineTo(W, y);
        c.TextOut(1, y - 5, QString::number(k * coarse));
    }
}

void TFormMain::PaintBoxSeimonPaint() { ResetVoiceprint(); }

void TFormMain::PaintBoxSeimonClick() { ResetVoiceprint(); }

void TFormMain::PaintBoxSeimonScalePaint() {
    ClearPaintBox(PaintBoxSeimonScale);
    DrawFreqScale(PaintBoxSeimonScale, FreqGridFineHz, FreqGridCoarseHz, FrequencySpan, 0);
}

void TFormMain::SeimonAmpGraPaint() {
    TCanvas& c = SeimonAmpGra->Canvas();
    const int W = c.Width(), H = c.Height();
    c.Style = PenStyle::psSolid;
    for (int L = 0; L <= 255; ++L) {
        c.PenColor = LevelColour(L);
        const int x = static_cast<int>(Round(static_cast<double>(L * W) / 255));
        c.MoveTo(x, 0);
        c.LineTo(x, H);
    }
}

// The sweeping voiceprint: one column of peak marks per published analysis, its frequency scale
// and the colour bar of the level map.
#include "common/Round.h"
#include "form/TFormMain.h"
#include "views/Colours.h"
#include "views/ScaleGeometry.h"

using namespace sonabi;

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
        const int y = VoiceprintRow(static_cast<uint32_t>(bins[j]), spanBins, H);
        c.PenColor = LevelColour(static_cast<int>(std::clamp<long long>(L, -1, 256)));
        c.Rectangle(VoiceprintX, y, VoiceprintX + 2, y + 1);
    }
}

void TFormMain::ResetVoiceprint() {
    ClearPaintBox(PaintBoxSeimon);
    VoiceprintX = 0;
    PaintBoxSeimonScalePaint();
}

void TFormMain::DrawFreqScale(PaintBox* box, int fine, int coarse, double top, double bottom) {
    TCanvas& c = box->Canvas();
    if (fine <= 0 || coarse <= 0 || !(top > bottom)) return;
    const FreqScale scale = FreqScaleLines(c.Width(), c.Height(), fine, coarse, top, bottom);
    c.FontColor = kRed;
    c.PenColor = kGridGreen;
    for (const HorizontalLines* lines : {&scale.dotted, &scale.solid}) {
        c.Style = lines == &scale.dotted ? PenStyle::psDot : PenStyle::psSolid;
        for (int k = lines->First(); k <= lines->Last(); ++k) {
            c.MoveTo(0, lines->Y(k));
            c.LineTo(c.Width(), lines->Y(k));
            if (lines->labelled)
                c.TextOut(HorizontalLines::kLabelX, lines->LabelY(k),
                          QString::number(lines->Value(k)));
        }
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
        const int x = ColourBarX(L, W);
        c.MoveTo(x, 0);
        c.LineTo(x, H);
    }
}

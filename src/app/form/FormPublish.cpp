// Publishing a detection: harmonic sliders, voiceprint column, keyboard highlight and the two
// result labels; and the sliders' drop to level 0 after a failed one.
#include "analysis/Harmonics.h"
#include "form/TFormMain.h"

using namespace sonabi;

void TFormMain::PublishAnalysis() {
    if (HarmonicsFromAnalysis) {
        StoreHarmonicLevels();
        UpdateHarmonicLabels();
    }
    DrawVoiceprintColumn(Detection.PeakLogCount, Detection.PeakLogLevels + 1,
                         Detection.SpanBinCount, Detection.PeakLogBins + 1);
    HighlightNearestKey();
    Label21->setText(QString::number(PeakLevel));
    LbfftValue->setText(QString::number(DetectedFrequency));
    LbfftValue->setToolTip(FrequencyTip());
}

void TFormMain::StoreHarmonicLevels() {
    sonabi::StoreHarmonicLevels(Detection.PeakCount, Detection.PeakLevels, Detection.PeakHarmonics,
                                HarmonicLevels);
    ShowHarmonicLevels();
    if (DetectedFrequency <= 2000) freq->SetPosition(DetectedFrequency);
}

void TFormMain::ResetHarmonicSliders() {
    for (int k = 1; k <= 20; ++k) {
        HarmonicSliders[k]->SetPosition(100);
        HarmonicSliders[k]->SetSelStart(100);
    }
}

void TFormMain::BuildHarmonicSliderTable() {
    // The table is the array of the window's track bars: entry k is TrackBar k.
    HarmonicSliders = TrackBars;
}

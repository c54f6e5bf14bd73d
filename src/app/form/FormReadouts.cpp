// Read-outs one hover away: the note of the last detection on the frequency label, each key's
// note, and what lies under the pointer in the three views. They are tooltips only, so no view
// draws a pixel differently for them.
#include <algorithm>
#include <cmath>
#include <vector>

#include "analysis/AnalysisTable.h"
#include "analysis/NoteName.h"
#include "analysis/Spectrum.h"
#include "form/TFormMain.h"
#include "synth/Keyboard.h"

using namespace sonabi;

namespace {

QString HzString(double hz) { return QString::fromStdString(HzText(hz)); }

// "A4 −3 セント", "C#5 +12 セント", "E2 0 セント"; a true minus sign, as typeset.
QString NoteAndCents(const NearestNote& note) {
    const QString sign = note.cents < 0 ? QString::fromUtf8("−") : note.cents > 0 ? "+" : "";
    return QString::fromUtf8("%1 %2%3 セント")
        .arg(QString::fromStdString(note.name), sign)
        .arg(std::abs(note.cents));
}

}  // namespace

QString TFormMain::FrequencyTip() const {
    if (!Detection.frequencyWritten || FftSize < 2) return {};
    const NearestNote note = NearestNoteOf(RefinedHz, ReferenceA4);
    if (!note.valid) return {};
    return QString("%1 (%2 Hz)").arg(NoteAndCents(note), HzString(RefinedHz));
}

void TFormMain::SetKeyTips() {
    // A restart builds the same table again: sixty tooltips are not worth making twice.
    if (std::equal(KeyFrequencies, KeyFrequencies + 61, keyTipFrequencies_.begin(),
                   keyTipFrequencies_.end()))
        return;
    keyTipFrequencies_.assign(KeyFrequencies, KeyFrequencies + 61);
    // Key 1 is C2, MIDI note 36.
    for (int i = 1; i <= kKeyCount; ++i)
        KeyPanels[i]->setToolTip(QString("%1: %2 Hz")
                                     .arg(QString::fromStdString(NoteNameOf(35 + i)))
                                     .arg(KeyFrequencies[i]));
}

QString TFormMain::SpectrumReadout(int x, int) const {
    const int width = PaintBoxFft->Canvas().Width();
    if (width <= 0 || x < 0 || x >= width) return {};
    // The grid puts FrequencySpan at the right edge; the peaks lie Round(i x 2W / n) apart.
    QString text = HzString(x * FrequencySpan / width) + " Hz";
    const uint32_t rate = WaveFormat.nSamplesPerSec;
    const int n = sonabi::SpanBinCount(FftSize, rate, FrequencySpan);
    const int readable = ReadableBinCount(n, FftSize);
    if (SpectrumMagnitudes && n > 0 && readable > 0) {
        const int bin = std::min(static_cast<int>(std::lround(x * n / (2.0 * width))), readable);
        const double level = SpectrumMagnitudes[bin] - NoiseInForce()[bin];
        text += QString::fromUtf8("\nビン %1: レベル %2").arg(bin).arg(level, 0, 'f', 1);
    }
    return text;
}

QString TFormMain::VoiceprintReadout(int, int y) const {
    const int height = PaintBoxSeimon->Canvas().Height();
    if (height <= 0 || y < 0 || y >= height) return {};
    // The voiceprint's scale runs from FrequencySpan at the top to 0 Hz at the bottom.
    return HzString(FrequencySpan * (height - y) / height) + " Hz";
}

QString TFormMain::WaveReadout(int x, int) const {
    const uint32_t rate = WaveFormat.nSamplesPerSec;
    if (rate == 0 || x < 0 || x >= PaintBoxGra->width()) return {};
    return ClickTime(x) + " ms";  // what a left click at x writes on the waveform
}

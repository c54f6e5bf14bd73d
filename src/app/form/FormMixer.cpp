// The harmonic mixer: the 20 harmonic sliders and their change rule, the fundamental, volume and
// length sliders, and the synthesis of a tone that takes the held sound's place and plays.
#include <QSignalBlocker>
#include <cstring>

#include "analysis/Harmonics.h"
#include "common/Blocks.h"
#include "common/Round.h"
#include "form/TFormMain.h"
#include "synth/ToneGenerator.h"

using namespace sonabi;

int TFormMain::MaxHarmonicCount() const {
    return sonabi::MaxHarmonicCount(WaveFormat.nSamplesPerSec, freq->Position());
}

void TFormMain::TrackBar1Change(TrackBar* sender) {
    int k = 1;
    while (k <= 20 && HarmonicSliders[k] != sender) ++k;
    if (k > 20) return;
    if (k > MaxHarmonicCount()) {
        sender->SetPosition(100);
        sender->SetSelStart(100);
        HarmonicLevels[k] = 0;
        return;
    }
    sender->SetSelStart(sender->Position());
    HarmonicLevels[k] = 100 - sender->Position();
}

void TFormMain::ShowHarmonicLevels() {
    for (int k = 1; k <= 20; ++k) {
        HarmonicSliders[k]->SetPosition(100 - HarmonicLevels[k]);
        HarmonicSliders[k]->SetSelStart(HarmonicSliders[k]->Position());
    }
}

void TFormMain::UpdateHarmonicLabels() {
    for (int i = 1; i <= 10; ++i)
        HarmonicLabels[i]->setText(QString::number(freq->Position() * (2 * i - 1)));
}

void TFormMain::resetClick() {
    std::fill(HarmonicLevels + 1, HarmonicLevels + 21, 0);
    std::fill(HarmonicPhases + 1, HarmonicPhases + 21, 0.0);
    ShowHarmonicLevels();
}

void TFormMain::freqChange() {
    if (Playing || Recording) return;
    HarmonicCount = MaxHarmonicCount();
    UpdateHarmonicLabels();
}

void TFormMain::volumeChange() { Lbamp->setText(QString::number(volume->Position())); }

void TFormMain::TBmixtimeChange() {
    if (Playing || Recording) {
        TBmixtime->SetPosition(static_cast<int>(Round(MixSeconds * 10)));
        return;
    }
    const double t = TBmixtime->Position() * 0.1;
    LBmixtime->setText(QString::number(t, 'g', 15));
    // A tone held now lives in the old buffer: the new one keeps it whole, so the views, playback
    // and saving still find every byte of it.
    const bool toneHeld = SynthBuffer && WaveData == SynthBuffer;
    const size_t length = ToneByteCount(TBmixtime->Position());
    uint8_t* resized = blocks::Allocate(toneHeld ? std::max<size_t>(length, WaveDataSize) : length);
    if (!resized) {
        ShowMessage("No Memory", "ERROR");
        // The old buffer stays, so the length shown goes back to the one it holds: a synthesis
        // at the slider's length must never write past the buffer.
        const QSignalBlocker quiet(TBmixtime);
        TBmixtime->SetPosition(static_cast<int>(Round(MixSeconds * 10)));
        LBmixtime->setText(QString::number(MixSeconds, 'g', 15));
        return;
    }
    if (toneHeld) {
        std::memcpy(resized, SynthBuffer, WaveDataSize);
        WaveData = resized;
    }
    blocks::Release(SynthBuffer);
    SynthBuffer = resized;
    MixSeconds = t;
    FadeSamples = FadeSamplesFor(CurRate, t);
}

void TFormMain::TransmitClick() {
    if (HarmonicsFromAnalysis) TakeHarmonicPhases();
    SynthesizeAndPlay();
}

void TFormMain::TakeHarmonicPhases() {
    sonabi::TakeHarmonicPhases(Detection.PeakCount, Detection.PeakHarmonics, Detection.PeakValues,
                               HarmonicPhases);
}

void TFormMain::SynthesizeAndPlay() {
    if (Playing || Recording || StopRequested || !SynthBuffer || !WaveHeader) return;
    PlayButton->setText(QString::fromUtf8("停止"));
    CurBits = 16, CurRate = 44100, TimeGridFineMs = 5, CurChannels = 1;
    FillWaveFormat();
    ResetFftParameters();
    ParkUserSound();
    HarmonicsFromAnalysis = false;
    WaveData = SynthBuffer;
    WaveDataSize = ToneByteCount(TBmixtime->Position());
    HarmonicCount = MaxHarmonicCount();
    std::memset(WaveData, 0, WaveDataSize / 2 * 2);
    GenerateTone(WaveDataSize, 44100);
    PaintBoxSeimonScalePaint();
    ResetView();
    if (!StartOutput(WaveData, ViewOffset, WaveDataSize))
        PlayButton->setText(QString::fromUtf8("再生"));
}

void TFormMain::GenerateTone(uint32_t byteCount, int rate) {
    ToneSettings settings;
    settings.frequency = freq->Position();
    settings.volume = volume->Position();
    settings.fadeSamples = FadeSamples;
    settings.harmonicCount = HarmonicCount;
    std::copy(HarmonicLevels, HarmonicLevels + 21, settings.levels.begin());
    std::copy(HarmonicPhases, HarmonicPhases + 21, settings.phases.begin());
    const ToneResult result = sonabi::GenerateTone(WaveData, byteCount, rate, settings);
    // The volume slider steps through every cut the restart rule made.
    for (int i = 0; i < result.cutCount; ++i) volume->SetPosition(result.cuts[i]);
}

void TFormMain::PlayNote(int frequency) {
    HarmonicsFromAnalysis = false;
    freq->SetPosition(frequency);
    LbfftValue->setText(QString::number(frequency));
    LbfftValue->setToolTip("");  // the label shows the key's tone, not a detected note
    UpdateHarmonicLabels();
    if (HarmonicLevels[1] == 0) {
        HarmonicSliders[1]->SetPosition(0);
        HarmonicSliders[1]->SetSelStart(HarmonicSliders[1]->Position());
        HarmonicLevels[1] = 100;
    }
    SynthesizeAndPlay();
}

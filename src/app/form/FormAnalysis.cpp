// The refresh cycle: waveform, spectrum and detection of the window shown, for the held sound
// (FullRefresh) and for a block being captured or played (LiveRefresh), and the FFT arrays.
#include <algorithm>

#include "analysis/WindowAnalysis.h"
#include "common/Blocks.h"
#include "common/Round.h"
#include "form/TFormMain.h"
#include "views/Colours.h"
#include "views/ScaleGeometry.h"

using namespace sonabi;

namespace {
constexpr uint32_t kFftCapacity = 2048;  // the largest window; the arrays serve every length
}

bool TFormMain::AllocateFftBuffers(uint32_t size) {
    SpectrumMagnitudes = blocks::AllocateArray<double>(size);
    NoiseSpectrum = blocks::AllocateArray<double>(size);
    FftInput = blocks::AllocateArray<double>(size);
    FftWork = blocks::AllocateArray<Complex>(size);
    FftOutput = blocks::AllocateArray<Complex>(size);
    if (SpectrumMagnitudes && NoiseSpectrum && FftInput && FftWork && FftOutput) return true;
    FreeFftBuffers();
    ShowMessage("No memory", "ERROR");
    return false;
}

void TFormMain::FreeFftBuffers() {
    blocks::ReleaseArray(SpectrumMagnitudes);
    blocks::ReleaseArray(NoiseSpectrum);
    blocks::ReleaseArray(FftInput);
    blocks::ReleaseArray(FftWork);
    blocks::ReleaseArray(FftOutput);
}

void TFormMain::ComputeSpectrum(uint32_t count, const uint8_t* data, PaintBox* view,
                                int bitsPerSample, int channels, uint32_t byteOffset) {
    if (Closing || !SpectrumMagnitudes) return;
    // A window whose samples cannot be read gives what silence gives, never the spectrum the
    // previous sound left in the arrays.
    const auto silence = [&] {
        std::fill(SpectrumMagnitudes, SpectrumMagnitudes + kFftCapacity, 0.0);
    };
    Analysed = {};
    if (!HasWaveBuffers() || !data || count > kFftCapacity) return silence();
    TCanvas& c = view->Canvas();
    const SampleCoding coding = CodingFor(bitsPerSample);
    const double unitScale = SpectrumUnitScale(coding.ScaleBits());
    // Channel 0 in red, at the bottom or (stereo) on the middle line; channel 1 in blue below.
    const auto drawPass = [&](int channel) {
        c.BrushColor = channel == 0 ? kRed : kBlue;
        const int baseline = channel == 0 && channels != 1
                                 ? static_cast<int>(Round(c.Height() / 2.0))
                                 : c.Height() - 1;
        DrawSpectrumPeaks(CurRate, FftSize, view, baseline, unitScale, SpectrumMagnitudes);
    };
    const int done = TransformWindow(data + byteOffset, coding, channels, count,
                                     {FftInput, FftWork, FftOutput, SpectrumMagnitudes}, drawPass);
    if (done == 0) silence();
    Analysed = {data + byteOffset, coding, channels, count};
    if (channels == 2 && done == 1) ShowMessage("error", "");
}

void TFormMain::FullRefresh() {
    RedrawWaveform();
    ClearWithGrid(PaintBoxFft, FreqGridKept, FreqGridFineHz, FreqGridCoarseHz, FrequencySpan);
    ComputeSpectrum(FftSize, WaveData, PaintBoxFft, WaveFormat.wBitsPerSample, WaveFormat.nChannels,
                    ViewOffset);
    RunDetection();
}

void TFormMain::LiveRefresh(uint32_t count, const uint8_t* data, PaintBox* spectrumView,
                            PaintBox* waveformView, int bitsPerSample, int channels,
                            uint32_t byteOffset) {
    LevelOk = true;
    ClearWithGrid(waveformView, TimeGridKept, TimeGridFineMs, TimeGridCoarseMs, TimeGridSpan());
    DrawWaveform(waveformView, count, data, byteOffset, channels, bitsPerSample);
    if (!LevelOk) {
        TCanvas& c = waveformView->Canvas();
        c.FontColor = kRed;
        c.TextOut(c.Width() / 2, c.Height() / 2, QString::fromUtf8("音を小さくしてください。"));
        UpdateTuner(0);  // a clipped window has no pitch to trust
        return;
    }
    ClearWithGrid(spectrumView, FreqGridKept, FreqGridFineHz, FreqGridCoarseHz, FrequencySpan);
    ComputeSpectrum(count, data, spectrumView, bitsPerSample, channels, byteOffset);
    RunDetection();
}

void TFormMain::RunDetection() {
    UpdateStateTips();
    // Only a window with no format set is left alone. A file's bytes-per-second field is never
    // used to read it, and a file that leaves it 0 must not keep the last sound's result.
    if (WaveFormat.nSamplesPerSec == 0) return;
    ResetKeyColours();
    RefinedHz = 0;
    if (DetectPitch()) {
        const double hz =
            DetectedHz(WaveFormat.nSamplesPerSec, Detection.FundamentalPosition, FftSize);
        RefinedHz = Analysed.frames && Analysed.count == FftSize
                        ? RefinePitch(Analysed.frames, Analysed.coding, Analysed.channels,
                                      Analysed.channels == 2 ? 1 : 0, FftSize,
                                      WaveFormat.nSamplesPerSec, hz, PitchScratch.data())
                        : hz;
        PublishAnalysis();
    } else {
        LbfftValue->setText("");
        LbfftValue->setToolTip("");  // the note of an earlier window is no result of this one
        Label21->setText("");
        ResetHarmonicSliders();
    }
    UpdateTuner(RefinedHz);
}

bool TFormMain::DetectPitch() {
    if (!SpectrumMagnitudes) return false;
    DetectionInput in;
    in.magnitudes = SpectrumMagnitudes;
    in.noise = NoiseInForce();
    in.fftOutput = FftOutput;
    in.fftSize = FftSize;
    in.sampleRate = WaveFormat.nSamplesPerSec;
    // CurRate holds the file's 32-bit rate; one above 2^31 - 1 reads back as itself here, as the
    // analyser reads it.
    in.curRate = static_cast<uint32_t>(CurRate);
    in.frequencySpan = FrequencySpan;
    in.lowCutBin = LowCutBin;
    in.peakThreshold = PeakThreshold;
    in.harmonicsFromAnalysis = HarmonicsFromAnalysis;
    const bool found = sonabi::DetectPitch(in, Detection);
    SpanBinCount = Detection.SpanBinCount;
    if (Detection.frequencyWritten) {
        DetectedFrequency = Detection.DetectedFrequency;
        PeakLevel = Detection.PeakLevel;
    }
    if (Detection.harmonicLevelsCleared)
        for (int k = 1; k <= 20; ++k) HarmonicLevels[k] = 0;
    return found;
}

#include "analysis/WindowAnalysis.h"

#include <algorithm>

#include "analysis/Harmonics.h"
#include "analysis/Spectrum.h"

namespace {

bool ReadableFormat(const WAVEFORMATEX& format) {
    if (format.wBitsPerSample != 8 && format.wBitsPerSample != 16) return false;
    if (format.nChannels == 0) return false;
    return format.nBlockAlign == format.nChannels * (format.wBitsPerSample / 8);
}

// Windowing, transform and peak pass of one channel; the pass matters only for a pending noise
// capture, the drawing itself is the window's.
bool TransformChannel(const uint8_t* frames, const WAVEFORMATEX& format, int channel,
                      const AnalysisSettings& settings, AnalysisWorkspace& ws,
                      double& peakThreshold) {
    if (!FillWindowedInput(settings.fftSize, frames, format.wBitsPerSample, format.nChannels,
                           channel, ws.input)) {
        return false;
    }
    if (!ComputeFft(settings.fftSize, ws.input, ws.work, ws.output, ws.magnitudes)) return false;
    const int bins = SpanBinCount(settings.fftSize, format.nSamplesPerSec, settings.frequencySpan);
    ScanSpectrumPeaks(bins, settings.fftSize, ws.magnitudes, ws.noise, settings.lowCutBin,
                      ws.noiseCapturePending, peakThreshold, [](int, double) {});
    return true;
}

}  // namespace

bool AnalyzeWindow(const uint8_t* data, size_t dataSize, const WAVEFORMATEX& format,
                   uint64_t offset, const AnalysisSettings& settings, AnalysisWorkspace& ws,
                   WindowResult& result) {
    result = WindowResult{};
    const unsigned n = settings.fftSize;
    if (n < 2 || n > kMaxWindowFrames || (n & (n - 1)) != 0 || !ReadableFormat(format)) {
        return false;
    }
    const uint64_t windowBytes = uint64_t{n} * format.nBlockAlign;
    if (offset > dataSize || windowBytes > dataSize - offset) return false;

    const uint8_t* frames = data + offset;
    double peakThreshold = settings.peakThreshold;
    const int channels = format.nChannels == 2 ? 2 : 1;
    for (int channel = 0; channel < channels; ++channel) {
        if (!TransformChannel(frames, format, channel, settings, ws, peakThreshold)) return false;
    }

    DetectionInput in;
    in.magnitudes = ws.magnitudes;
    in.noise = ws.noise;
    in.fftOutput = ws.output;
    in.fftSize = n;
    in.sampleRate = format.nSamplesPerSec;
    in.curRate = format.nSamplesPerSec;
    in.frequencySpan = settings.frequencySpan;
    in.lowCutBin = settings.lowCutBin;
    in.peakThreshold = peakThreshold;
    in.harmonicsFromAnalysis = settings.harmonicsFromAnalysis;
    DetectionResult& d = ws.detection;
    result.detected = DetectPitch(in, d);
    if (!result.detected) return true;  // the sliders all go to level 0

    result.frequency = d.DetectedFrequency;
    result.level = d.PeakLevel;
    if (settings.harmonicsFromAnalysis) {
        StoreHarmonicLevels(d.PeakCount, d.PeakLevels, d.PeakHarmonics, result.harmonicLevels);
        ApplyFreshSliderRule(result.harmonicLevels, format.nSamplesPerSec, settings.freqPosition);
    }
    return true;
}

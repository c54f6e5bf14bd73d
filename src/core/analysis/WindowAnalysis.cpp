#include "analysis/WindowAnalysis.h"

#include <algorithm>

#include "analysis/Harmonics.h"
#include "analysis/RefinedPitch.h"
#include "analysis/Spectrum.h"

namespace sonabi {

namespace {

bool ReadableFormat(const WAVEFORMATEX& format) {
    const SampleCoding coding = CodingOf(format);
    if (!coding.Readable() || format.nChannels == 0) return false;
    return format.nBlockAlign == format.nChannels * coding.Bytes();
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

    double peakThreshold = settings.peakThreshold;
    const int bins = SpanBinCount(n, format.nSamplesPerSec, settings.frequencySpan);
    // The peak pass matters only for a pending noise capture; the drawing itself is the window's.
    const auto peakPass = [&](int) {
        ScanSpectrumPeaks(bins, n, ws.magnitudes, ws.noise, settings.lowCutBin,
                          ws.noiseCapturePending, peakThreshold, [](int, double) {});
    };
    const int channels = format.nChannels == 2 ? 2 : 1;
    if (TransformWindow(data + offset, CodingOf(format), format.nChannels, n,
                        {ws.input, ws.work, ws.output, ws.magnitudes}, peakPass) != channels) {
        return false;
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
    result.hz = DetectedHz(format.nSamplesPerSec, d.FundamentalPosition, n);
    result.pitch = RefinePitch(data + offset, CodingOf(format), format.nChannels, channels - 1, n,
                               format.nSamplesPerSec, result.hz, ws.samples);
    if (settings.harmonicsFromAnalysis) {
        StoreHarmonicLevels(d.PeakCount, d.PeakLevels, d.PeakHarmonics, result.harmonicLevels);
        ApplyFreshSliderRule(result.harmonicLevels, format.nSamplesPerSec, settings.freqPosition);
    }
    return true;
}

}  // namespace sonabi

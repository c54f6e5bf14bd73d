// One analysis window of a held sound from a freshly opened state, as the command-line analyser
// needs it: windowing and transform of each channel, the peak pass, the pitch detection with
// harmonic numbers, and the harmonic levels the sliders end up showing.
#pragma once
#include <cstddef>
#include <cstdint>

#include "analysis/Fft.h"
#include "analysis/PitchDetection.h"
#include "audio/WaveTypes.h"

constexpr unsigned kMaxWindowFrames = 2048;

struct AnalysisSettings {
    unsigned fftSize = 2048;        // frames per window: a power of two, at most 2048
    double frequencySpan = 2000.0;  // Hz
    unsigned lowCutBin = 1;         // Round(LowCutHz / (rate / (fftSize - 1)))
    double peakThreshold = 5.0;     // magnitude
    bool harmonicsFromAnalysis = true;
    int freqPosition = 100;  // Hz, the mixer frequency slider when the levels are shown
};

// Scratch arrays and the detection lists for one thread. noise is all zeros unless a caller
// captures into it; magnitudes are fully rewritten for every window.
struct AnalysisWorkspace {
    double input[kMaxWindowFrames];
    Complex work[kMaxWindowFrames];
    Complex output[kMaxWindowFrames];
    double magnitudes[kMaxWindowFrames] = {};
    double noise[kMaxWindowFrames] = {};
    bool noiseCapturePending = false;
    DetectionResult detection;
};

struct WindowResult {
    bool detected = false;
    int frequency = 0;            // Hz (DetectedFrequency)
    int level = 0;                // PeakLevel
    int harmonicLevels[21] = {};  // 0 .. 100 for harmonics 1 .. 20, [0] unused
};

// Analyses the fftSize frames of `data` (dataSize bytes) starting at byte `offset`, in the
// format `format` (8- or 16-bit PCM, 1 or 2 channels, nBlockAlign = channels x bytes). For two
// channels both are transformed and the detection searches the second, like the window does.
// Returns false (and a result with detected false) when the window does not fit in the data,
// the format cannot be read or fftSize is not a power of two up to 2048; otherwise true, with
// result.detected telling whether a fundamental was found. Allocates nothing.
bool AnalyzeWindow(const uint8_t* data, size_t dataSize, const WAVEFORMATEX& format,
                   uint64_t offset, const AnalysisSettings& settings, AnalysisWorkspace& workspace,
                   WindowResult& result);

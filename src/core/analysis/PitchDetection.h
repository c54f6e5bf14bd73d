// Finding the fundamental frequency, its level and the harmonic list in one magnitude spectrum.
#pragma once
#include <cstdint>

#include "analysis/Fft.h"

namespace sonabi {

constexpr int kPeakCapacity = 119;  // entries 1 .. 119 of every peak list

// What the detection reads. Arrays are indexed by bin; magnitudes and noise hold at least
// fftSize / 2 values, fftOutput fftSize values.
struct DetectionInput {
    const double* magnitudes = nullptr;  // M: |FftOutput| per bin (nullptr: no spectrum arrays)
    const double* noise = nullptr;       // Z: captured noise per bin (nullptr: none); D = M - Z
    const Complex* fftOutput = nullptr;  // complex value per bin, kept with each peak (or 0)
    unsigned fftSize = 2048;             // frames of the window, a power of two
    uint32_t sampleRate = 44100;         // nSamplesPerSec of the held format: Hz per bin
    uint32_t curRate = 44100;            // rate in use, for the searched bin count
    double frequencySpan = 2000.0;       // Hz; bins up to twice this are searched
    unsigned lowCutBin = 1;              // a peak's bin must be greater than this
    double peakThreshold = 5.0;          // a peak's D must be greater than this
    bool harmonicsFromAnalysis = false;  // also assign harmonic numbers
};

// The window's peak lists and results. Lists are 1-based: entries 1 .. count, index 0 unused.
// DetectPitch writes exactly what a run writes: SpanBinCount and the lists always (once the
// magnitudes exist), DetectedFrequency and PeakLevel only when frequencyWritten is set (they
// keep the previous values otherwise), and harmonicLevelsCleared tells the caller to set
// HarmonicLevels[1 .. 20] to 0. Removals move all four peak lists together.
struct DetectionResult {
    int PeakCount = 0;
    // D at the peak; once the run has passed the interpolation, relative to the strongest (0..1).
    double PeakLevels[kPeakCapacity + 1] = {};
    Complex PeakValues[kPeakCapacity + 1] = {};  // FftOutput at the peak bin (phase for the mixer)
    int PeakBins[kPeakCapacity + 1] = {};
    int PeakHarmonics[kPeakCapacity + 1] = {};  // harmonic number, 1 = fundamental

    int PeakLogCount = 0;  // every peak found, unfiltered, for the voiceprint
    double PeakLogLevels[kPeakCapacity + 1] = {};  // 100 log10 D, then normalised to 0..1
    int PeakLogBins[kPeakCapacity + 1] = {};

    int SpanBinCount = 0;            // Round(fftSize / (curRate / 2 / frequencySpan))
    double FundamentalPosition = 0;  // interpolated bin of the fundamental (with the frequency)
    int DetectedFrequency = 0;       // Hz: Round(sampleRate x position / (fftSize - 1))
    int PeakLevel = 0;               // rounded D of the strongest peak
    bool frequencyWritten = false;
    bool harmonicLevelsCleared = false;
};

// The x (in bins) where the line through (x1, y1) and (x1 + 1, y2) meets the line through
// (x4 - 1, y3) and (x4, y4): ((y4 - y1) + (y2 - y1) x1 - (y4 - y3) x4) / ((y2 - y1) - (y4 - y3)).
// Returns NaN when the lines are parallel.
double LineIntersectPeak(double x1, double x4, double y1, double y2, double y3, double y4);

// Searches bins 1 .. SpanBinCount - 1 (and never past fftSize / 2 - 3, so that the
// interpolation reads only written bins) for peaks of D, filters them and interpolates the
// fundamental. Returns true when a fundamental was found. Allocates nothing.
// Choices where the arithmetic is undefined: a fundamental at bin 1 whose interpolation would
// need bin -1, and parallel interpolation lines, give the peak bin itself as position; a
// frequency of 2^31 Hz or more (an almost parallel pair of lines) fails like a negative one.
bool DetectPitch(const DetectionInput& in, DetectionResult& out);

}  // namespace sonabi

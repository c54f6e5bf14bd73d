// One analysis window of a held sound from a freshly opened state, as the command-line analyser
// needs it: windowing and transform of each channel, the peak pass, the pitch detection with
// harmonic numbers, and the harmonic levels the sliders end up showing.
#pragma once
#include <cstddef>
#include <cstdint>

#include "analysis/Fft.h"
#include "analysis/PitchDetection.h"
#include "analysis/Spectrum.h"
#include "common/WaveTypes.h"

namespace sonabi {

constexpr unsigned kMaxWindowFrames = 2048;

// Frames of the analysis window for the window-length exponent 0 .. 3: 256, 512, 1024, 2048.
constexpr uint32_t FftSizeFor(int exponent) { return 256u << exponent; }

// The arrays one window's transform works in, each at least fftSize long.
struct SpectrumArrays {
    double* input;
    Complex* work;
    Complex* output;
    double* magnitudes;  // |output| per bin, what the peak pass and the detection read
};

// The one path from a window's samples to its spectra, for the window and the analyser alike:
// channel 0 and, in a stereo window, channel 1 of the fftSize frames at `frames` are read,
// Hamming-weighted and transformed in turn, and pass(channel) runs on each spectrum before the
// next replaces it (the peak pass, and in the window its drawing). The magnitudes then hold the
// last channel's spectrum, the one the detection reads. Returns the channels done: 0 when the
// samples cannot be read (a coding that is not Readable()) or fftSize is not a power of two
// from 2 to 2048. `frames` must hold fftSize whole frames of `channels` x bytes per sample.
template <typename Pass>
int TransformWindow(const uint8_t* frames, SampleCoding coding, int channels, unsigned fftSize,
                    const SpectrumArrays& arrays, Pass&& pass) {
    const int count = channels == 2 ? 2 : 1;
    for (int channel = 0; channel < count; ++channel) {
        if (!FillWindowedInput(fftSize, frames, coding, channels, channel, arrays.input) ||
            !ComputeFft(fftSize, arrays.input, arrays.work, arrays.output, arrays.magnitudes)) {
            return channel;
        }
        pass(channel);
    }
    return count;
}

struct AnalysisSettings {
    unsigned fftSize = 2048;        // frames per window: a power of two, at most 2048
    double frequencySpan = 2000.0;  // Hz
    unsigned lowCutBin = 1;         // Round(LowCutHz / (rate / (fftSize - 1)))
    double peakThreshold = 5.0;     // magnitude
    bool harmonicsFromAnalysis = true;
    int freqPosition = 100;  // Hz, the mixer frequency slider when the levels are shown
    double a4 = 440.0;       // Hz, the reference the tables' notes and cents are read against
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
    float samples[kMaxWindowFrames];  // the detected channel, for the refined pitch
};

struct WindowResult {
    bool detected = false;
    int frequency = 0;            // Hz (DetectedFrequency)
    int level = 0;                // PeakLevel
    int harmonicLevels[21] = {};  // 0 .. 100 for harmonics 1 .. 20, [0] unused
    // Hz, the interpolated fundamental unrounded: rate x FundamentalPosition / (fftSize - 1),
    // what `frequency` is the rounding of; 0 when nothing was detected.
    double hz = 0.0;
    // Hz, hz refined to the cent (RefinePitch); what the note and cents are read from.
    double pitch = 0.0;
};

// The interpolated fundamental in Hz from a detection's FundamentalPosition (bins): the same
// extended product rate x position / (fftSize - 1) that the detection rounds to its frequency.
inline double DetectedHz(uint32_t rate, double position, unsigned fftSize) {
    return static_cast<double>(static_cast<long double>(rate) * position / (fftSize - 1));
}

// Analyses the fftSize frames of `data` (dataSize bytes) starting at byte `offset`, in the
// format `format` (8-, 16-, 24- or 32-bit PCM or 32- or 64-bit float, any channel count,
// nBlockAlign = channels x bytes). For two
// channels both are transformed and the detection searches the second, like the window does.
// Returns false (and a result with detected false) when the window does not fit in the data,
// the format cannot be read or fftSize is not a power of two up to 2048; otherwise true, with
// result.detected telling whether a fundamental was found. Allocates nothing.
bool AnalyzeWindow(const uint8_t* data, size_t dataSize, const WAVEFORMATEX& format,
                   uint64_t offset, const AnalysisSettings& settings, AnalysisWorkspace& workspace,
                   WindowResult& result);

}  // namespace sonabi

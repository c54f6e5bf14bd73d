// From PCM frames to what the spectrum view and the detection look at: the Hamming-weighted
// input of one channel, the number of bins covered by the frequency span, and the peak pass of
// the spectrum drawing with its noise capture.
#pragma once
#include <cstddef>
#include <cstdint>

#include "common/Samples.h"

namespace sonabi {

// Fills input[0 .. count - 1] with channel `channel` (0 or 1, below `channels`) of `count`
// interleaved frames at `data`, weighted by w(n) = 0.54 - 0.46 cos(2 pi n / (count - 1)).
// Samples are read as SampleValue gives them (8-bit unsigned bytes minus 128, 16-bit values as
// they stand, wider and float samples on the 16-bit scale); frames are channels x bytes per
// sample apart. Weights and products are evaluated in extended precision and rounded once when
// stored. The caller guarantees that data holds count whole frames.
// Returns false, touching nothing, for a coding that cannot be read, count < 2, or a channel
// outside 0 .. 1 or not below channels.
bool FillWindowedInput(unsigned count, const uint8_t* data, SampleCoding coding, int channels,
                       int channel, double* input);

// The code paths of the weighting of 8-, 16- and 24-bit and 32-bit float samples, each giving the
// same bits: eight lanes of AVX-512F, four of AVX2, or extended precision one sample at a time
// (every other coding, and every machine).
enum class WeightingPath { kScalar, kAvx2, kAvx512 };

// Whether this machine can run `path` (kScalar always can).
bool CanRunWeightingPath(WeightingPath path);

// "scalar", "avx2" or "avx512".
const char* WeightingPathName(WeightingPath path);

// The path FillWindowedInput takes: the widest this machine runs, unless the build was told to
// stay narrower (SONABI_FFT_NO_AVX512 leaves out AVX-512; SONABI_FFT_NO_AVX, SONABI_FFT_SCALAR and
// SONABI_WEIGHTING_SCALAR keep to the scalar path).
WeightingPath DefaultWeightingPath();

// FillWindowedInput on the given path, so that tests and benchmarks can reach each one; also
// false, touching nothing, when this machine cannot run the path.
bool FillWindowedInputOn(WeightingPath path, unsigned count, const uint8_t* data,
                         SampleCoding coding, int channels, int channel, double* input);

// Round(fftSize / (rate / 2 / frequencySpan)): bins 0 .. result - 1 cover twice the frequency
// span (186 for 2048 frames at 44100 Hz and 2000 Hz). rate in frames per second, span in Hz.
// A quotient that is not finite or below 0 gives 0; one above 2^30 gives 2^30.
int SpanBinCount(unsigned fftSize, uint32_t rate, double frequencySpan);

// The bin of a low cut-off of `hz` (0 or more) in a window of fftSize frames at `rate` frames per
// second: Round(hz / (rate / (fftSize - 1))); 0 when rate is not above 0, 2^32 - 1 when the
// quotient is larger than that.
uint32_t LowCutBinFor(double hz, double rate, unsigned fftSize);

// The peak threshold a newly held sound starts with: 5.0 for samples on the 16-bit scale (16-bit
// and every wider or float coding), else 0.1.
double PeakThresholdFor(SampleCoding coding);

// The bins i = 1 .. result - 1 whose neighbours i - 1 and i + 1 lie in the written half of the
// magnitudes (index <= fftSize / 2 - 1): min(binCount, fftSize / 2 - 1), at least 0.
int ReadableBinCount(int binCount, unsigned fftSize);

// The pure part of one channel's spectrum drawing pass, with D[k] = M[k] - N[k]:
// for i = 1 .. n - 1 (n = ReadableBinCount(binCount, fftSize)), when a capture is pending
// N[i - 1] = M[i - 1] first; then bin i is a peak when D[i - 1] < D[i] > D[i + 1] (strictly)
// and i > lowCutBin; drawPeak(i, D[i]) is called for each peak in increasing order.
// Returns the largest peak value, 0 when none is above 0. After a pending capture,
// peakThreshold becomes that value, at least 5.0, and capturePending is cleared.
template <typename DrawPeak>
double ScanSpectrumPeaks(int binCount, unsigned fftSize, const double* M, double* N,
                         unsigned lowCutBin, bool& capturePending, double& peakThreshold,
                         DrawPeak&& drawPeak) {
    const int n = ReadableBinCount(binCount, fftSize);
    double peakMax = 0.0;
    for (int i = 1; i < n; ++i) {
        if (capturePending) N[i - 1] = M[i - 1];
        const double vPrev = M[i - 1] - N[i - 1];
        const double v = M[i] - N[i];
        const double vNext = M[i + 1] - N[i + 1];
        if (!(vPrev < v && v > vNext && static_cast<unsigned>(i) > lowCutBin)) continue;
        if (v > peakMax) peakMax = v;
        drawPeak(i, v);
    }
    if (capturePending) {
        peakThreshold = peakMax;
        if (!(peakThreshold >= 5.0)) peakThreshold = 5.0;
        capturePending = false;
    }
    return peakMax;
}

}  // namespace sonabi

// From the detected harmonic list to the mixer's harmonic levels.
#pragma once
#include <cstdint>

namespace sonabi {

constexpr int kHarmonicCount = 20;  // harmonics 1 .. 20; level arrays have 21 entries, [0] unused

// Drops peaks from the end of the list while the last one's harmonic number is 20 or more
// (lowering peakCount, never below 0), then for each remaining peak i in order sets
// harmonicLevels[peakHarmonics[i]] = Round(peakLevels[i] * 100); a later peak with the same
// number overwrites an earlier one. peakLevels are relative (0 .. 1), levels 0 .. 100. Lists are
// 1-based; an entry whose number is below 1 is skipped.
void StoreHarmonicLevels(int& peakCount, const double* peakLevels, const int* peakHarmonics,
                         int* harmonicLevels);

// Number of harmonics of the mixer frequency below half the sample rate:
// min(20, Round(rate / 2) div freqPosition). rate in Hz (nSamplesPerSec), freqPosition in Hz.
// 22050 div 1500 = 14; 44100 Hz with 1000 Hz gives 20. A position of 0 or below gives 0.
int MaxHarmonicCount(uint32_t rate, int freqPosition);

// What the 20 harmonic sliders do with harmonicLevels when they start at level 0 (position 100)
// and are moved to 100 - level each: a slider that moves to a harmonic above
// MaxHarmonicCount(rate, freqPosition) snaps back and its level becomes 0; a slider that cannot
// move (level 0, or a negative level beyond the track) leaves its level as it is.
void ApplyFreshSliderRule(int* harmonicLevels, uint32_t rate, int freqPosition);

}  // namespace sonabi

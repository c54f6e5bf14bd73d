// The harmonic mixer's additive synthesis: a 16-bit mono tone from up to 20 harmonics of a
// fundamental, with the volume cut that keeps it below clipping and the fade-out at its end.
// Also the small rules that feed it: the fade length and the phases taken from an analysis.
#pragma once
#include <array>
#include <cstdint>

#include "analysis/Fft.h"

namespace sonabi {

constexpr int kHarmonicSlots = 20;  // harmonics 1..20
constexpr int kToneLimit = 28672;   // largest |sample| the body may reach before the volume is cut
constexpr int kMaxVolumeCuts = 96;  // enough for any int volume: each cut takes at least 1/5 off

// Everything the synthesis reads. Arrays are indexed 1..20 like the mixer's tables; [0] is unused.
struct ToneSettings {
    int frequency = 100;     // F: fundamental in Hz, the `freq` position (1..2000)
    int volume = 10;         // V: the `volume` position, 0..300
    int fadeSamples = 2205;  // R: `FadeSamples`, length of the fade-out in samples
    int harmonicCount = 0;   // K: harmonics synthesised, 0..20 (larger values count as 20)
    std::array<int, kHarmonicSlots + 1> levels{};     // L[k]: 0..100; 0 means silent and skipped
    std::array<double, kHarmonicSlots + 1> phases{};  // phi[k]: radians
};

// What the synthesis did to the volume. The window sets the `volume` slider to cuts[0], cuts[1],
// ... in turn (each restart of the body shows its new volume); the last one equals `volume`.
struct ToneResult {
    int volume = 0;    // the volume the tone was written with
    int cutCount = 0;  // number of restarts, 0..kMaxVolumeCuts
    std::array<int, kMaxVolumeCuts> cuts{};
};

// Writes byteCount div 2 little-endian signed 16-bit samples to out (no alignment needed) at
// `rate` samples per second (44100 in the program; rate <= 0 writes nothing). Sample t of the body
// (t = 0 .. n - R) is Round(V * sum over sounding k of sin(2pi F k t / rate + phi[k]) * L[k]);
// whenever one reaches |s| > kToneLimit, V := Round(V * 0.8) and the body starts again. The
// remaining samples fade out: the running sum is multiplied by h^2, h = (n - t) / R, after each
// sounding harmonic. Exactly n samples are written whatever R is; the fade, which has no limit
// test, saturates at the 16-bit range instead of wrapping around.
//
// GenerateToneLiteral follows that description step by step, one long-double sine per harmonic and
// sample, restarts included. GenerateTone gives the same samples and the same cuts in a fraction
// of the time: it finds the final volume from the largest body sum first and writes once, with
// sines from per-harmonic rotations; a sample whose rounding the rotation's error bound cannot
// decide is recomputed exactly as the literal version does.
ToneResult GenerateToneLiteral(uint8_t* out, uint32_t byteCount, int rate,
                               const ToneSettings& settings);
ToneResult GenerateTone(uint8_t* out, uint32_t byteCount, int rate, const ToneSettings& settings);

// Bytes of a tone of `TBmixtime` position 1..30 (0.1 s steps, 16-bit mono at 44100 Hz):
// Round(position * 88200 / 10), that is position * 8820.
uint32_t ToneByteCount(int position);

// One step of the volume cut: Round(v * 0.8).
int CutVolume(int v);

// `FadeSamples` for a tone of `seconds` (the `TBmixtime` position * 0.1) at `curRate` Hz:
// 0.05 s worth of samples for tones longer than 0.5 s, proportionally less for shorter ones
// (2205 and 441 * position at 44100 Hz).
int FadeSamplesFor(int curRate, double seconds);

// Phases of the analysed peaks for resynthesis, in radians. peakHarmonics and peakValues (the
// peaks' complex spectrum values) are indexed 1..peakCount ([0] unused), phases 1..20. Each
// peak's angle is ArcTan2(re, im) (re as the y argument), 0 for a zero value, minus the angle of
// the first peak (the fundamental); peaks with a harmonic number outside 1..20 are skipped, and
// if the first peak is such a one nothing is subtracted. Harmonics without a peak keep their phase.
void TakeHarmonicPhases(int peakCount, const int* peakHarmonics, const Complex* peakValues,
                        double* phases);

}  // namespace sonabi

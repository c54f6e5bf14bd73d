// The fundamental to the cent, for the read-outs that are ours (the note and cents, the
// analyser's pitch, the profile's fundamental); the detection the window shows and its rounded Hz
// stay as they are. No Qt here.
#pragma once
#include <cstdint>

#include "common/Samples.h"

namespace sonabi {

constexpr unsigned kMaxRefineFrames = 2048;

// The pitch (Hz) of one window, refined from the detection's interpolated fundamental `hz`,
// which fixes the octave: the lag near a whole number of its periods at which the window best
// repeats itself, from the squared differences of a quarter window's samples, located
// first near one period and then near as many periods as fit, and interpolated between samples
// by a parabola. Where the window holds fewer than about two periods, or does not repeat itself
// near the detected period (noise, a detection of the wrong harmonic), `hz` is returned as it
// is. `frames` holds `n` (2 .. kMaxRefineFrames) whole frames of `channels` samples in
// `coding` (Readable()); `channel` is the one the detection searched; `scratch` takes n floats.
// Allocates nothing; the same inputs give the same bits on every CPU.
double RefinePitch(const uint8_t* frames, SampleCoding coding, int channels, int channel,
                   unsigned n, uint32_t rate, double hz, float* scratch);

// The sum over i < w of (x[i] - y[i])^2 (of x[i]^2 with y null) that the search compares, in
// sixteen float lanes added in a fixed order. Fastest takes AVX or SSE2 where the CPU has them;
// the others force a path (Avx falls back to SSE2 without AVX; Portable is the plain loop of
// other CPUs). Every path gives the same bits.
enum class SumPath { Fastest, Avx, Sse2, Portable };
double PitchSquareSum(const float* x, const float* y, unsigned w, SumPath path = SumPath::Fastest);

}  // namespace sonabi

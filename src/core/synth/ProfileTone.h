// The tone the mixer plays from a loaded harmonic profile: the settings its ミキサー button
// synthesises with once a profile has been loaded into a fresh window, and the tone's length.
#pragma once
#include <cstdint>

#include "synth/Profile.h"
#include "synth/ToneGenerator.h"

namespace sonabi {

// The synthesis settings of `profile` (ProfileError() == "") at `rate` Hz (> 0; the window's
// 44100): harmonics that lie at or above half the rate are silent, the fade-out is
// FadeSamplesFor(rate, length / 10).
ToneSettings ProfileToneSettings(const Profile& profile, int rate);

// Samples of the profile's tone at `rate` Hz: Round(length x rate / 10); at 44100 Hz that is
// ToneByteCount(length) / 2.
uint32_t ProfileToneSamples(const Profile& profile, int rate);

}  // namespace sonabi

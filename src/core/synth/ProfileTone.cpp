#include "synth/ProfileTone.h"

#include <cmath>

#include "analysis/Harmonics.h"

namespace sonabi {

ToneSettings ProfileToneSettings(const Profile& profile, int rate) {
    ToneSettings s;
    s.frequency = profile.fundamental;
    s.volume = profile.volume;
    s.fadeSamples = FadeSamplesFor(rate, profile.length * 0.1);
    s.levels = profile.levels;
    s.phases = profile.phases;
    // Loading moves every harmonic slider through its change rule, which silences those that
    // do not fit below half the rate; the synthesis then counts the harmonics that fit.
    s.harmonicCount = MaxHarmonicCount(static_cast<uint32_t>(rate), profile.fundamental);
    for (int k = 1; k <= kHarmonicSlots; ++k)
        if (k > s.harmonicCount) s.levels[k] = 0;
    s.levels[0] = 0;
    return s;
}

uint32_t ProfileToneSamples(const Profile& profile, int rate) {
    // Exact in long double; at 44100 Hz a whole number.
    return static_cast<uint32_t>(
        std::llrintl(static_cast<long double>(profile.length) * rate / 10));
}

}  // namespace sonabi

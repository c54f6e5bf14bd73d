// A recording's harmonic profile: its strongest analysed window, and the profile the mixer
// plays that timbre from. What the analyser's --profile and the Python module share.
#pragma once
#include <cstdint>

#include "analysis/AnalysisPlan.h"
#include "analysis/WindowAnalysis.h"
#include "synth/Profile.h"

namespace sonabi {

// The strongest detected window of a range: the highest level, the first of equals.
struct StrongestWindow {
    bool found = false;
    WindowResult result;
    double phases[21] = {};  // radians, [1 .. 20], as the mixer's button takes them from the window
};

// The strongest of windows first .. first + count - 1 of the plan over wave's samples.
StrongestWindow FindStrongestWindow(const WaveFileData& wave, const AnalysisPlan& plan,
                                    uint64_t first, uint64_t count, AnalysisWorkspace& ws);

// Folds the strongest window of a later range into best: it wins only with a higher level.
void KeepStronger(StrongestWindow& best, const StrongestWindow& later);

// The profile of a found window: its levels and phases, its refined pitch and, to the whole
// hertz within the frequency slider's range, its fundamental; volume and length stay the mixer's
// start-up values.
Profile ProfileOfWindow(const StrongestWindow& strongest);

}  // namespace sonabi

#include "synth/ProfileOfSound.h"

#include <algorithm>
#include <cmath>

#include "synth/ToneGenerator.h"

namespace sonabi {

StrongestWindow FindStrongestWindow(const WaveFileData& wave, const AnalysisPlan& plan,
                                    uint64_t first, uint64_t count, AnalysisWorkspace& ws) {
    StrongestWindow best;
    WindowResult result;
    for (uint64_t i = first; i < first + count; ++i) {
        const uint64_t offset = plan.firstOffset + i * plan.stepBytes;
        AnalyzeWindow(wave.data, wave.size, wave.format, offset, plan.settings, ws, result);
        if (!result.detected || (best.found && result.level <= best.result.level)) continue;
        best.found = true;
        best.result = result;
        // A fresh mixer's phases are all 0; harmonics without a peak keep theirs.
        std::fill(std::begin(best.phases), std::end(best.phases), 0.0);
        const DetectionResult& d = ws.detection;
        TakeHarmonicPhases(d.PeakCount, d.PeakHarmonics, d.PeakValues, best.phases);
    }
    return best;
}

void KeepStronger(StrongestWindow& best, const StrongestWindow& later) {
    if (later.found && (!best.found || later.result.level > best.result.level)) best = later;
}

Profile ProfileOfWindow(const StrongestWindow& strongest) {
    Profile profile;
    const WindowResult& r = strongest.result;
    // Harmonics 1 .. 20; entry 0 stays 0.
    std::copy(r.harmonicLevels + 1, r.harmonicLevels + 21, profile.levels.begin() + 1);
    std::copy(strongest.phases + 1, strongest.phases + 21, profile.phases.begin() + 1);
    // The refined pitch, to the slider's whole hertz; the fraction is kept beside it.
    profile.pitch = r.pitch;
    profile.fundamental =
        std::clamp(static_cast<int>(std::lround(r.pitch)), kMinFundamental, kMaxFundamental);
    return profile;
}

}  // namespace sonabi

// --profile: the harmonic profile of a recording, in the profile file's JSON, so the mixer can
// load it and play the recording's timbre.
#include "synth/Profile.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "analysis_options.h"
#include "cli.h"
#include "common/Blocks.h"
#include "ordered_pool.h"
#include "synth/ToneGenerator.h"

using namespace sonabi;

namespace cli {

namespace {

// The strongest detected window of a range: the highest level, the first of equals.
struct Strongest {
    bool found = false;
    WindowResult result;
    double phases[21] = {};  // radians, as the mixer's button takes them from the window
};

Strongest FindStrongest(const WaveFileData& wave, const AnalysisPlan& plan, uint64_t first,
                        uint64_t count, AnalysisWorkspace& ws) {
    Strongest best;
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

// One file's profile, its members after `lead`; the file's status.
int ProfileOfFile(const std::string& file, const AnalysisOptions& options, const std::string& lead,
                  std::ostream& out, std::ostream& err) {
    WaveFileData wave;
    AnalysisPlan plan;
    if (const int status = LoadOneFile(file, options, wave, plan, out, err); status >= 0)
        return status;
    const uint64_t windows = PlannedWindows(options, plan, wave);
    const Workspaces workspaces = MakeWorkspaces();
    const auto batch = [&](size_t part, unsigned worker) {
        const uint64_t first = part * kBatchWindows;
        return FindStrongest(wave, plan, first, std::min(kBatchWindows, windows - first),
                             *workspaces[worker]);
    };
    // The batches come in order: a later one wins only with a higher level.
    Strongest best;
    RunJobsInOrder<Strongest>(
        1, AnalysisThreads(), 2 * size_t{AnalysisThreads()},
        [&](size_t) {
            return OpenedJob<Strongest>{BatchCount(windows), batch};
        },
        [&](size_t, Strongest&& part) {
            if (part.found && (!best.found || part.result.level > best.result.level)) best = part;
        });
    blocks::Release(wave.data);
    if (!best.found) {
        out << ErrorObject(file, "No pitch");
        return kExitRefused;
    }
    Profile profile;  // volume and length stay the mixer's start-up values
    std::copy(best.result.harmonicLevels, best.result.harmonicLevels + 21, profile.levels.begin());
    profile.levels[0] = 0;
    std::copy(best.phases, best.phases + 21, profile.phases.begin());
    profile.phases[0] = 0.0;
    // The refined pitch, to the slider's whole hertz; the fraction is kept beside it.
    profile.pitch = best.result.pitch;
    profile.fundamental = std::clamp(static_cast<int>(std::lround(best.result.pitch)),
                                     kMinFundamental, kMaxFundamental);
    out << '{' << lead << ProfileToJson(profile).substr(1);
    out.flush();
    return kExitOk;
}

}  // namespace

int RunProfile(const Args& args, std::ostream& out, std::ostream& err) {
    const ParsedArgs parsed = ParseArgs(args, AnalysisOptionSpecs());
    if (!parsed.error.empty()) return UsageError(err, parsed.error);
    const Args& files = parsed.positional;
    if (files.empty()) return UsageError(err, "--profile needs a FILE");
    AnalysisOptions options;
    if (const std::string error = ReadAnalysisOptions(parsed, options); !error.empty()) {
        return UsageError(err, error);
    }
    if (files.size() > 1) {
        if (const std::string bad = UnfitFile(files, options); !bad.empty())
            return UsageError(err, bad);
    }
    // One line a file, in the order given; with several, each names its file first.
    int status = kExitOk;
    for (const std::string& file : files) {
        const std::string lead = files.size() > 1 ? "\"file\":" + JsonString(file) + "," : "";
        const int one = ProfileOfFile(file, options, lead, out, err);
        if (one == kExitUsage) return one;
        status = std::max(status, one);
    }
    return status;
}

}  // namespace cli

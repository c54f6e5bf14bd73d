// --profile: the harmonic profile of a recording, in the profile file's JSON, so the mixer can
// load it and play the recording's timbre.
#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "analysis_options.h"
#include "cli.h"
#include "common/Blocks.h"
#include "ordered_pool.h"
#include "synth/ProfileOfSound.h"

using namespace sonabi;

namespace cli {

namespace {

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
        return FindStrongestWindow(wave, plan, first, std::min(kBatchWindows, windows - first),
                                   *workspaces[worker]);
    };
    // The batches come in order: a later one wins only with a higher level.
    StrongestWindow best;
    RunJobsInOrder<StrongestWindow>(
        1, AnalysisThreads(), 2 * size_t{AnalysisThreads()},
        [&](size_t) {
            return OpenedJob<StrongestWindow>{BatchCount(windows), batch};
        },
        [&](size_t, StrongestWindow&& part) { KeepStronger(best, part); });
    blocks::Release(wave.data);
    if (!best.found) {
        out << ErrorObject(file, "No pitch");
        return kExitRefused;
    }
    const Profile profile = ProfileOfWindow(best);
    out << '{' << lead << ProfileToJson(profile).substr(1);
    return kExitOk;
}

}  // namespace

int RunProfile(const Args& args, std::ostream& out, std::ostream& err) {
    const AnalysisCommand c = ReadAnalysisCommand(args, false, "--profile needs a FILE", err);
    if (c.status >= 0) return c.status;
    const Args& files = c.parsed.positional;
    // One line a file, in the order given; with several, each names its file first.
    return EachFile(files, out, [&](const std::string& file) {
        const std::string lead = files.size() > 1 ? "\"file\":" + JsonString(file) + "," : "";
        return ProfileOfFile(file, c.options, lead, out, err);
    });
}

}  // namespace cli

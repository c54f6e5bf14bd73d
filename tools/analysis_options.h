// The analysis options shared by the verbs that analyse windows (the default verb and
// --profile): reading them from the command line and turning them into the window's settings
// for one file's format; the loading of a file for analysis; the spreading of windows over the
// cores.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "analysis/WindowAnalysis.h"
#include "cli.h"
#include "wavfile/WavFile.h"

namespace cli {

struct AnalysisOptions {
    uint64_t offset = 0;  // bytes
    uint64_t step = 0;    // frames; 0 = half a window
    uint64_t count = UINT64_MAX;
    bool countGiven = false;
    unsigned fftSize = 0;  // 0 = 2048, or 256 for a sound shorter than that
    double span = 2000.0;  // Hz
    double lowCutHz = 30.0;
    bool lowCutGiven = false;  // --low-cut on the command line
    double threshold = -1.0;   // < 0: 5.0 for 16-bit data, else 0.1
};

// --offset, --step, --count, --fft-size, --span, --low-cut and --threshold, all with values.
std::vector<OptionSpec> AnalysisOptionSpecs();

// Fills options from the command line; returns "" or what is wrong (a usage error).
std::string ReadAnalysisOptions(const ParsedArgs& parsed, AnalysisOptions& options);

// Where and how one file's windows are analysed.
struct AnalysisPlan {
    sonabi::AnalysisSettings settings;
    uint64_t firstOffset = 0;     // bytes, --offset rounded down to a whole frame
    uint64_t stepBytes = 0;       // > 0
    uint64_t bytesPerSecond = 0;  // rate x block align
};

// The window's settings for a file of this format and size. Returns "" or the usage error of
// an option whose byte extent is beyond what any WAV file holds (it would wrap, and a step
// that wrapped to 0 would divide by zero). wave needs its format and size only, and the usage
// errors depend on its block align alone.
std::string PlanAnalysis(const AnalysisOptions& options, const sonabi::WaveFileData& wave,
                         AnalysisPlan& plan);

// Windows of the loaded wave that the plan analyses: those that fit, at most --count.
uint64_t PlannedWindows(const AnalysisOptions& options, const AnalysisPlan& plan,
                        const sonabi::WaveFileData& wave);

// Loads a file for analysis: its format first, so that a bad option is refused before a large
// file is read or decoded, then the samples, from which the plan is made. Returns "" (wave holds
// the samples: release them with blocks::Release), or sets usageError (the option that cannot apply
// to this file) or loadError (the reader's text: the file is refused) and returns that text.
struct LoadOutcome {
    std::string usageError, loadError;
};
LoadOutcome LoadForAnalysis(const std::string& file, const AnalysisOptions& options,
                            sonabi::WaveFileData& wave, AnalysisPlan& plan);

// LoadForAnalysis for a verb of one file: -1 when the samples are loaded, else the exit status,
// after the usage error on err or the file's error object on out.
int LoadOneFile(const std::string& file, const AnalysisOptions& options, sonabi::WaveFileData& wave,
                AnalysisPlan& plan, std::ostream& out, std::ostream& err);

// {"file":..,"ok":false,"error":..} and '\n', the --info error object.
std::string ErrorObject(const std::string& file, const std::string& error);

// Threads the analysis of one file may use: the cores, at most 8.
unsigned AnalysisThreads();

// Runs work(first, count, part) over windows 0 .. windows - 1 in `parts` consecutive ranges on
// as many threads (part 0 on the calling thread), and returns when all are done.
void SplitWindows(uint64_t windows, unsigned parts,
                  const std::function<void(uint64_t first, uint64_t count, unsigned part)>& work);

}  // namespace cli

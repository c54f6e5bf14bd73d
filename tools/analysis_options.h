// The analysis options shared by the verbs that analyse windows (the default verb and
// --profile): reading them from the command line and turning them into the window's settings
// for one file's format; the loading of a file for analysis; what the workers analysing windows
// share.
#pragma once
#include <cstdint>
#include <memory>
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
    double a4 = 440.0;         // Hz, 415 .. 466: the notes' and cents' reference
};

// --offset, --step, --count, --fft-size, --span, --low-cut, --threshold and --a4, all with
// values.
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

// Whether PlanAnalysis accepts the options for every file: its usage errors grow with the block
// align, so it is asked with the largest one a header can hold (65535).
bool PlanFitsEveryFile(const AnalysisOptions& options);

// The usage error ("... for FILE") of the first of several files whose format an option cannot
// apply to, read from the formats alone; "" when the options fit them all. Files that cannot be
// read are left to be refused in their turn.
std::string UnfitFile(const std::vector<std::string>& files, const AnalysisOptions& options);

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

// Worker threads of an analysis: the cores, at most 8.
unsigned AnalysisThreads();

// Windows analysed as one part of a file's work: small enough to spread a short file over the
// workers and to keep little text waiting, large enough that taking a part costs nothing.
constexpr uint64_t kBatchWindows = 256;
// Parts of a file of `windows` windows: at least 1, the last one maybe short or empty.
size_t BatchCount(uint64_t windows);

// One workspace for each worker of AnalysisThreads(), indexed by the worker.
using Workspaces = std::vector<std::unique_ptr<sonabi::AnalysisWorkspace>>;
Workspaces MakeWorkspaces();

}  // namespace cli

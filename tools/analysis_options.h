// The analysis options shared by the verbs that analyse windows (the default verb and
// --profile): reading them from the command line (their planning is the core's, AnalysisPlan.h);
// what the workers analysing windows share.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "analysis/AnalysisPlan.h"
#include "analysis/WindowAnalysis.h"
#include "cli.h"
#include "wavfile/WavFile.h"

namespace cli {

// The options and their planning live in the core, shared with the Python module.
using sonabi::AnalysisOptions;
using sonabi::AnalysisPlan;
using sonabi::LoadForAnalysis;
using sonabi::LoadOutcome;
using sonabi::PlanAnalysis;
using sonabi::PlannedWindows;
using sonabi::UnfitFile;

// --offset, --step, --count, --fft-size, --span, --low-cut, --threshold and --a4, all with
// values.
std::vector<OptionSpec> AnalysisOptionSpecs();

// Fills options from the command line; returns "" or what is wrong (a usage error).
std::string ReadAnalysisOptions(const ParsedArgs& parsed, AnalysisOptions& options);

// The command line of a verb that analyses files: the analysis options (and --csv with `csv`),
// then at least one FILE (`noFile` is the error without one). With several files, an option that
// cannot apply to one of them is an error too, before anything is printed.
struct AnalysisCommand {
    ParsedArgs parsed;  // the FILEs are parsed.positional
    AnalysisOptions options;
    bool csv = false;
    int status = -1;  // -1 when all is well, else the exit status of the usage error on err
};
AnalysisCommand ReadAnalysisCommand(const Args& args, bool csv, const char* noFile,
                                    std::ostream& err);

// Runs `one` on each file in turn, flushing out after each, so that every file's lines appear as
// it is done: the worst exit status, or at once a usage error's.
int EachFile(const Args& files, std::ostream& out,
             const std::function<int(const std::string& file)>& one);

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

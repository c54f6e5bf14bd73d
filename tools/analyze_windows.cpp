// The default verb: the pitch analysis of sound files, window by window, each window analysed
// as the window program analyses it right after opening the file. The windows are analysed
// batch by batch on all cores and printed in order on the calling thread. Several files are
// loaded on the workers too; one file alone is loaded first, as its refusal needs no header.
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "analysis/AnalysisTable.h"
#include "analysis_options.h"
#include "cli.h"
#include "common/Blocks.h"
#include "ordered_pool.h"
#include "wavfile/SoundFile.h"

using namespace sonabi;

namespace cli {

namespace {

// What one file's windows are printed as, and the lead of each line.
struct Output {
    TableForm form = TableForm::JsonLines;
    std::string lead;  // "" for one file; the file field for several
};

// A loaded file, shared by the workers analysing its batches and released with the last.
struct LoadedFile {
    WaveFileData wave;
    AnalysisPlan plan;
    uint64_t windows = 0;
    ~LoadedFile() { blocks::Release(wave.data); }
};

// The batches of a loaded file as parts of a job, each batch's lines a part's text.
OpenedJob<std::string> Batches(std::shared_ptr<const LoadedFile> file, Output output,
                               const Workspaces& workspaces) {
    const size_t parts = BatchCount(file->windows);
    return {parts, [file, output, &workspaces](size_t part, unsigned worker) {
                const uint64_t first = part * kBatchWindows;
                const uint64_t count = std::min(kBatchWindows, file->windows - first);
                const WaveFileData& wave = file->wave;
                std::string text;
                text.reserve(count * (140 + output.lead.size()));
                AppendWindowTable(text, output.form, output.lead, wave.data, wave.size, wave.format,
                                  file->plan.settings,
                                  {file->plan.firstOffset, file->plan.stepBytes, first, count},
                                  nullptr, 0, *workspaces[worker]);
                return text;
            }};
}

int RunOneFile(const std::string& path, const AnalysisOptions& options, bool csv, std::ostream& out,
               std::ostream& err) {
    auto file = std::make_shared<LoadedFile>();
    if (const int status = LoadOneFile(path, options, file->wave, file->plan, out, err);
        status >= 0)
        return status;
    if (csv) out << AnalysisCsvHeader();
    file->windows = PlannedWindows(options, file->plan, file->wave);
    const Output output{csv ? TableForm::Csv : TableForm::JsonLines, ""};
    const Workspaces workspaces = MakeWorkspaces();
    RunJobsInOrder<std::string>(
        1, AnalysisThreads(), 2 * size_t{AnalysisThreads()},
        [&](size_t) { return Batches(std::move(file), output, workspaces); },
        [&](size_t, std::string&& text) { out << text; });
    out.flush();
    return kExitOk;
}

// One file of several, loaded on a worker: its batches, or its error object as the one part
// with refused set.
OpenedJob<std::string> OpenOneOfMany(const std::string& path, const AnalysisOptions& options,
                                     bool csv, const Workspaces& workspaces, char& refused) {
    std::string error;
    try {
        auto file = std::make_shared<LoadedFile>();
        const LoadOutcome loaded = LoadForAnalysis(path, options, file->wave, file->plan);
        // The options were checked against every file's headers before any output: a usage
        // error here means the file changed since, and it is refused like a broken one.
        error = loaded.loadError + loaded.usageError;
        if (error.empty()) {
            file->windows = PlannedWindows(options, file->plan, file->wave);
            const Output output =
                csv ? Output{TableForm::Csv, CsvField(path) + ","}
                    : Output{TableForm::JsonLines, "\"file\":" + JsonString(path) + ","};
            return Batches(std::move(file), output, workspaces);
        }
    } catch (const std::bad_alloc&) {
        error = "No Memory";
    }
    refused = 1;
    return {1, [text = ErrorObject(path, error)](size_t, unsigned) { return text; }};
}

int RunManyFiles(const Args& files, const AnalysisOptions& options, bool csv, std::ostream& out,
                 std::ostream& err) {
    if (csv) out << "file," << AnalysisCsvHeader();
    std::vector<char> refused(files.size(), 0);
    const Workspaces workspaces = MakeWorkspaces();
    RunJobsInOrder<std::string>(
        files.size(), AnalysisThreads(), 2 * size_t{AnalysisThreads()},
        [&](size_t i) { return OpenOneOfMany(files[i], options, csv, workspaces, refused[i]); },
        [&](size_t i, std::string&& text) {
            // With CSV, standard output stays one table: error objects go to standard error.
            (refused[i] && csv ? err : out) << text;
        });
    out.flush();
    const bool anyRefused = std::find(refused.begin(), refused.end(), 1) != refused.end();
    return anyRefused ? kExitRefused : kExitOk;
}

}  // namespace

int RunAnalyze(const Args& args, std::ostream& out, std::ostream& err) {
    const AnalysisCommand c = ReadAnalysisCommand(args, true, "no FILE given", err);
    if (c.status >= 0) return c.status;
    const Args& files = c.parsed.positional;
    if (files.size() == 1) return RunOneFile(files[0], c.options, c.csv, out, err);
    return RunManyFiles(files, c.options, c.csv, out, err);
}

}  // namespace cli

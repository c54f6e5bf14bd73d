// The default verb: the pitch analysis of sound files, window by window, each window analysed
// as the window program analyses it right after opening the file. One file is spread over the
// cores window by window; several files are spread over the cores file by file.
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

// Every window of a loaded file, a batch at a time, each batch shared between the cores; the
// batches keep the text held at once small whatever the file's length.
void AnalyzeAll(const WaveFileData& wave, const AnalysisPlan& plan, uint64_t windows,
                const Output& output, std::ostream& out) {
    const unsigned threads = AnalysisThreads();
    std::vector<std::unique_ptr<AnalysisWorkspace>> workspaces(threads);
    for (auto& ws : workspaces) ws = std::make_unique<AnalysisWorkspace>();
    constexpr uint64_t kBatch = 16384;
    for (uint64_t start = 0; start < windows; start += kBatch) {
        const uint64_t batch = std::min(kBatch, windows - start);
        std::vector<std::string> texts(threads);
        SplitWindows(batch, threads, [&](uint64_t first, uint64_t count, unsigned part) {
            texts[part].reserve(count * 140);
            AppendWindowTable(texts[part], output.form, output.lead, wave.data, wave.size,
                              wave.format, plan.settings,
                              {plan.firstOffset, plan.stepBytes, start + first, count}, nullptr, 0,
                              *workspaces[part]);
        });
        for (const std::string& text : texts) out << text;
    }
}

int RunOneFile(const std::string& file, const AnalysisOptions& options, bool csv, std::ostream& out,
               std::ostream& err) {
    WaveFileData wave;
    AnalysisPlan plan;
    if (const int status = LoadOneFile(file, options, wave, plan, out, err); status >= 0)
        return status;
    if (csv) out << AnalysisCsvHeader();
    AnalyzeAll(wave, plan, PlannedWindows(options, plan, wave),
               {csv ? TableForm::Csv : TableForm::JsonLines, ""}, out);
    out.flush();
    blocks::Release(wave.data);
    return kExitOk;
}

// A file name as one CSV field: quoted (quotes doubled) when it holds a comma, a quote or a line
// break; its bytes as they are otherwise.
std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

// One file of several, analysed on one thread; returns its lines, or its error object with
// refused set.
std::string AnalyzeOneOfMany(const std::string& file, const AnalysisOptions& options, bool csv,
                             char& refused) {
    WaveFileData wave;
    AnalysisPlan plan;
    try {
        const LoadOutcome loaded = LoadForAnalysis(file, options, wave, plan);
        if (!loaded.usageError.empty() || !loaded.loadError.empty()) {
            // The options were checked against every file's headers before any output: a usage
            // error here means the file changed since, and it is refused like a broken one.
            refused = 1;
            return ErrorObject(file, loaded.loadError + loaded.usageError);
        }
        const Output output =
            csv ? Output{TableForm::Csv, CsvField(file) + ","}
                : Output{TableForm::JsonLines, "\"file\":" + JsonString(file) + ","};
        const uint64_t windows = PlannedWindows(options, plan, wave);
        auto ws = std::make_unique<AnalysisWorkspace>();
        std::string text;
        text.reserve(std::min<uint64_t>(windows, 1u << 16) * (140 + output.lead.size()));
        AppendWindowTable(text, output.form, output.lead, wave.data, wave.size, wave.format,
                          plan.settings, {plan.firstOffset, plan.stepBytes, 0, windows}, nullptr, 0,
                          *ws);
        blocks::Release(wave.data);
        return text;
    } catch (const std::bad_alloc&) {
        blocks::Release(wave.data);
        refused = 1;
        return ErrorObject(file, "No Memory");
    }
}

int RunManyFiles(const Args& files, const AnalysisOptions& options, bool csv, std::ostream& out,
                 std::ostream& err) {
    // Every file's format first, so that an option that cannot apply to one of them is a
    // usage error before anything is printed, as it is for a single file.
    for (const std::string& file : files) {
        WaveFileData headers;
        headers.format = StartUpFormat();
        AnalysisPlan plan;
        if (!LoadSoundFile(file, headers, SoundPart::kFormat).empty()) continue;  // in its turn
        if (const std::string bad = PlanAnalysis(options, headers, plan); !bad.empty()) {
            return UsageError(err, bad + " for " + file);
        }
    }
    if (csv) out << "file," << AnalysisCsvHeader();
    std::vector<char> refused(files.size(), 0);
    const unsigned threads = AnalysisThreads();
    RunInOrder(
        files.size(), threads, 2 * size_t{threads},
        [&](size_t i) { return AnalyzeOneOfMany(files[i], options, csv, refused[i]); },
        [&](size_t i, std::string&& text) {
            // With CSV, standard output stays one table: error objects go to standard error.
            (refused[i] && csv ? err : out) << text;
        });
    out.flush();
    const bool anyRefused = std::find(refused.begin(), refused.end(), 1) != refused.end();
    return anyRefused ? kExitRefused : kExitOk;
}

int RunAnalyze(const Args& args, std::ostream& out, std::ostream& err) {
    std::vector<OptionSpec> specs = AnalysisOptionSpecs();
    specs.push_back({"--csv", false});
    const ParsedArgs parsed = ParseArgs(args, specs);
    if (!parsed.error.empty()) return UsageError(err, parsed.error);
    if (parsed.positional.empty()) return UsageError(err, "no FILE given");
    AnalysisOptions options;
    if (const std::string error = ReadAnalysisOptions(parsed, options); !error.empty()) {
        return UsageError(err, error);
    }
    const bool csv = parsed.options.count("--csv") != 0;
    if (parsed.positional.size() == 1)
        return RunOneFile(parsed.positional[0], options, csv, out, err);
    return RunManyFiles(parsed.positional, options, csv, out, err);
}

const VerbRegistration kAnalyzeVerb{{
    "",
    "[--offset BYTES] [--step FRAMES] [--count N] [--fft-size N] [--span HZ] [--low-cut HZ] "
    "[--threshold X] [--csv] FILE...",
    "Analyse each FILE window by window as the window does after opening it, and print one\n"
    "JSON object per window and line:\n"
    "  {\"offset\":0,\"time\":0.0,\"detected\":true,\"frequency\":440,\"level\":2324,\n"
    "   \"harmonics\":[100,0,...],\"hz\":439.97,\"note\":\"A4\",\"cents\":0} or\n"
    "  {\"offset\":4096,\"time\":0.046,\"detected\":false}\n"
    "harmonics: the 20 harmonic levels; hz: the unrounded fundamental (two decimals) that\n"
    "frequency rounds; note: the nearest equal-tempered note (A4 = 440 Hz, sharps, octaves from\n"
    "C: B3 then C4); cents: -49 .. +50 from it (exactly halfway is the lower note at +50).\n"
    "Windows start at byte --offset (0, rounded down to a whole frame) and advance by --step\n"
    "frames (half a window) while a whole window fits; --count stops after N. --fft-size: 256,\n"
    "512, 1024 or 2048 (2048, or 256 for a sound shorter than that); --span: the spectrum's\n"
    "range in Hz (2000; the detection searches bins up to twice it); --low-cut: lowest\n"
    "frequency in Hz, converted to a bin with the file's rate and window length as a Shift +\n"
    "right click does (default: the window's start-up bin, 30 Hz at 44100 Hz and 2048 frames,\n"
    "kept for every file); --threshold: peak threshold (0.1 for 8-bit data, else 5.0).\n"
    "The harmonics are the sliders of a fresh mixer: measured with the frequency slider at\n"
    "100 Hz for every window. --csv prints a header and comma-separated rows instead:\n"
    "  offset,time,detected,frequency,level,h1,...,h20,hz,note,cents\n"
    "(a window without a pitch leaves frequency .. cents empty). A file that cannot be loaded\n"
    "prints the --info error object; exit status 2.\n"
    "With several FILEs, they are analysed on all cores and printed in the order given, each\n"
    "line starting with \"file\":NAME (JSON), or under one header with a first column file\n"
    "(CSV; names quoted as CSV needs). A refused file prints its error object in its place\n"
    "(on standard error with --csv) and the others still run; exit status 2 if any was refused.",
    RunAnalyze,
}};

}  // namespace

}  // namespace cli

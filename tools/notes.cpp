// --notes: the held notes of each file with their intonation and vibrato, the table the window's
// take report shows and saves (HeldNotes.h).
#include <algorithm>
#include <new>
#include <sstream>
#include <string>

#include "analysis/HeldNotes.h"
#include "analysis_options.h"
#include "cli.h"
#include "common/Blocks.h"

using namespace sonabi;

namespace cli {

namespace {

// A file name as one CSV field, quoted as the default verb quotes it.
std::string CsvName(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

// One file's rows; its status. With several files each row names its file.
int NotesOfFile(const std::string& file, const AnalysisOptions& options, bool csv, bool several,
                std::ostream& out, std::ostream& err) {
    WaveFileData wave;
    AnalysisPlan plan;
    if (const int status = LoadOneFile(file, options, wave, plan, out, err); status >= 0) {
        return status;
    }
    // The contour's own step unless --step gives one.
    if (options.step == 0)
        plan.stepBytes =
            uint64_t{ContourStepFrames(plan.settings.fftSize)} * wave.format.nBlockAlign;
    const WindowRange range{plan.firstOffset, plan.stepBytes, 0, options.count};
    std::string text;
    try {
        const TakeReport report =
            MakeTakeReport(wave.data, wave.size, wave.format, plan.settings, nullptr, 0, &range);
        if (csv)
            AppendHeldNotesCsv(text, several ? CsvName(file) + "," : "", report.notes);
        else
            AppendHeldNotesJson(text, several ? "\"file\":" + JsonString(file) + "," : "",
                                report.notes);
    } catch (const std::bad_alloc&) {
        blocks::Release(wave.data);
        (csv ? err : out) << ErrorObject(file, "No Memory");
        return kExitRefused;
    }
    blocks::Release(wave.data);
    out << text;
    out.flush();
    return kExitOk;
}

}  // namespace

int RunNotes(const Args& args, std::ostream& out, std::ostream& err) {
    std::vector<OptionSpec> specs = AnalysisOptionSpecs();
    specs.push_back({"--csv", false});
    const ParsedArgs parsed = ParseArgs(args, specs);
    if (!parsed.error.empty()) return UsageError(err, parsed.error);
    const Args& files = parsed.positional;
    if (files.empty()) return UsageError(err, "--notes needs a FILE");
    AnalysisOptions options;
    if (const std::string error = ReadAnalysisOptions(parsed, options); !error.empty()) {
        return UsageError(err, error);
    }
    if (files.size() > 1) {
        if (const std::string bad = UnfitFile(files, options); !bad.empty())
            return UsageError(err, bad);
    }
    const bool csv = parsed.options.count("--csv") != 0;
    const bool several = files.size() > 1;
    if (csv) out << (several ? "file," : "") << HeldNotesCsvHeader();
    int status = kExitOk;
    for (const std::string& file : files) {
        // With CSV, standard output stays one table: a refused file's object goes to stderr.
        std::ostringstream refused;
        const int one = NotesOfFile(file, options, csv, several, csv ? refused : out, err);
        if (one == kExitUsage) return one;
        if (csv) (one == kExitOk ? out : err) << refused.str();
        status = std::max(status, one);
    }
    return status;
}

}  // namespace cli

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

// One file's rows; its status. With several files each row names its file.
int NotesOfFile(const std::string& file, const AnalysisOptions& options, bool csv, bool several,
                std::ostream& out, std::ostream& err);

}  // namespace

int RunNotes(const Args& args, std::ostream& out, std::ostream& err) {
    const AnalysisCommand c = ReadAnalysisCommand(args, true, "--notes needs a FILE", err);
    if (c.status >= 0) return c.status;
    const bool csv = c.csv, several = c.parsed.positional.size() > 1;
    if (csv) out << (several ? "file," : "") << HeldNotesCsvHeader();
    return EachFile(c.parsed.positional, out, [&](const std::string& file) {
        // With CSV, standard output stays one table: a refused file's object goes to stderr.
        std::ostringstream refused;
        const int one = NotesOfFile(file, c.options, csv, several, csv ? refused : out, err);
        if (csv && one != kExitUsage) (one == kExitOk ? out : err) << refused.str();
        return one;
    });
}

namespace {

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
            AppendHeldNotesCsv(text, several ? CsvField(file) + "," : "", report.notes);
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
    return kExitOk;
}

}  // namespace

}  // namespace cli

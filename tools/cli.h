// sonabi-analyze: verbs and the helpers they share.
//
// A verb is chosen by its option anywhere before "--" ("--info", "--help", "--version"); with
// no verb option the default verb runs (the window-by-window analysis of one FILE). Each verb's
// run function lives in its own file and is declared here; the table of verbs in cli.cpp gives
// each its option, synopsis and help text.
#pragma once
#include <map>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace cli {

using Args = std::vector<std::string>;

// Exit statuses of every verb.
constexpr int kExitOk = 0;
constexpr int kExitUsage = 1;    // bad command line (usage on stderr)
constexpr int kExitRefused = 2;  // some input could not be loaded or analysed

// A verb's run function: runs with every argument except the verb's own option; returns an
// exit status.
using RunVerb = int (*)(const Args& args, std::ostream& out, std::ostream& err);

struct Verb {
    std::string_view option;    // "--info"; "" for the default verb
    std::string_view synopsis;  // "--info FILE..." as shown in the usage
    std::string_view summary;   // text for --help, lines separated by '\n'
    RunVerb run;
};

// Every verb: the default verb first, then by option.
std::span<const Verb> Verbs();

// The program: chooses the verb and runs it. args excludes the program name.
int Main(const Args& args, std::ostream& out, std::ostream& err);
// Usage lines built from the verbs.
void PrintUsage(std::ostream& os);
// "sonabi-analyze: <message>" and the usage on err; returns kExitUsage.
int UsageError(std::ostream& err, const std::string& message);

// The verbs, as their help texts in cli.cpp describe them.
int RunAnalyze(const Args& args, std::ostream& out, std::ostream& err);  // the default verb
int RunHelp(const Args& args, std::ostream& out, std::ostream& err);
int RunInfo(const Args& args, std::ostream& out, std::ostream& err);
int RunNotes(const Args& args, std::ostream& out, std::ostream& err);
int RunProfile(const Args& args, std::ostream& out, std::ostream& err);
int RunVersion(const Args& args, std::ostream& out, std::ostream& err);

// Options of a verb: "--name value", "--name=value" or a bare flag; "--" ends the options and
// "-" alone is a positional argument. Unknown options and missing values set error.
struct OptionSpec {
    std::string name;  // with the dashes: "--offset"
    bool takesValue = false;
};
struct ParsedArgs {
    std::map<std::string, std::string> options;  // flags map to ""
    Args positional;
    std::string error;  // "" when the command line is fine
};
ParsedArgs ParseArgs(const Args& args, const std::vector<OptionSpec>& known);

// A file name as one CSV field: quoted (quotes doubled) when it holds a comma, a quote or a line
// break; its bytes as they are otherwise.
std::string CsvField(const std::string& text);

// s as a quoted JSON string, valid JSON whatever a file name holds. Valid UTF-8 is written as it
// is; each byte b that is not valid UTF-8 becomes \udcXX (U+DC80 + b, XX its hex digits, as
// Python's surrogateescape reads it), so the name can be recovered from the text.
std::string JsonString(const std::string& s);
// v with up to 6 significant digits, always with a decimal point or an exponent ("1.0", not
// "1"); non-finite values, which JSON cannot hold, give "null".
std::string JsonNumber(double v);

}  // namespace cli

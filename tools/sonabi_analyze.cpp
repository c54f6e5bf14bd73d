// sonabi-analyze: the command-line analyser. It loads sound files with the window's own loader
// and analyses them with the window's own functions, so the two never disagree.
#include <algorithm>
#include <iostream>
#include <sstream>

#include "cli.h"

#ifndef SONABI_VERSION
#define SONABI_VERSION "0.0"
#endif

namespace cli {

namespace {

// The build passes the full project version ("1.40.0"); the program calls itself by major and
// minor only, as in the window's caption.
std::string ShortVersion(const std::string& full) {
    const size_t first = full.find('.');
    if (first == std::string::npos) return full;
    return full.substr(0, full.find('.', first + 1));
}

}  // namespace

int RunHelp(const Args&, std::ostream& out, std::ostream&) {
    out << "sonabi-analyze " << ShortVersion(SONABI_VERSION)
        << ": looks at sound files the way the Sonabi window does.\n\n";
    PrintUsage(out);
    out << "\nVerbs:\n";
    for (const Verb& verb : Verbs()) {
        out << "  " << verb.synopsis << "\n";
        std::istringstream lines{std::string(verb.summary)};
        for (std::string line; std::getline(lines, line);) out << "      " << line << "\n";
    }
    out << "\nExit status: 0 success, 1 usage error, 2 some file refused.\n";
    return kExitOk;
}

int RunVersion(const Args&, std::ostream& out, std::ostream&) {
    out << "sonabi-analyze " << ShortVersion(SONABI_VERSION) << "\n";
    return kExitOk;
}

void PrintUsage(std::ostream& os) {
    os << "Usage:\n";
    for (const Verb& verb : Verbs()) os << "  sonabi-analyze " << verb.synopsis << "\n";
}

int Main(const Args& args, std::ostream& out, std::ostream& err) {
    if (args.empty()) return UsageError(err, "no FILE given");
    // --help and --version win wherever they stand; otherwise at most one verb option.
    const std::span<const Verb> verbs = Verbs();
    const Verb* chosen = nullptr;
    Args rest;
    bool optionsEnded = false;
    for (const std::string& arg : args) {
        if (!optionsEnded && arg == "--") optionsEnded = true;
        const auto found = std::ranges::find(verbs, std::string_view(arg), &Verb::option);
        const Verb* verb = optionsEnded || found == verbs.end() ? nullptr : &*found;
        if (!verb || verb->option.empty()) {
            rest.push_back(arg);
            continue;
        }
        if (arg == "--help" || arg == "--version") return verb->run({}, out, err);
        if (chosen && chosen != verb) {
            return UsageError(err, std::string(chosen->option) + " and " +
                                       std::string(verb->option) + " together");
        }
        chosen = verb;
    }
    return (chosen ? chosen : &verbs[0])->run(rest, out, err);  // the default verb comes first
}

}  // namespace cli

int main(int argc, char** argv) {
    return cli::Main(cli::Args(argv + 1, argv + argc), std::cout, std::cerr);
}

#include "cli.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace cli {

namespace {

// The usage and help texts of the verbs that take options or files.
constexpr std::string_view kAnalyzeSynopsis =
    "[--offset BYTES] [--step FRAMES] [--count N] [--fft-size N] [--span HZ] [--low-cut HZ] "
    "[--threshold X] [--a4 HZ] [--csv] FILE...";
constexpr std::string_view kAnalyzeSummary =
    "Analyse each FILE window by window as the window does after opening it, and print one\n"
    "JSON object per window and line:\n"
    "  {\"offset\":0,\"time\":0.0,\"detected\":true,\"frequency\":440,\"level\":2324,\n"
    "   \"harmonics\":[100,0,...],\"hz\":439.97,\"note\":\"A4\",\"cents\":0,\"pitch\":440.00} or\n"
    "  {\"offset\":4096,\"time\":0.046,\"detected\":false}\n"
    "harmonics: the 20 harmonic levels; hz: the unrounded fundamental (two decimals) that\n"
    "frequency rounds; pitch: that fundamental refined to the cent from the window's samples\n"
    "(two decimals); note: the equal-tempered note nearest to pitch (A4 = --a4 Hz, 440 unless\n"
    "given, 415 .. 466; sharps, octaves from C: B3 then C4); cents: -49 .. +50 from it (exactly\n"
    "halfway is the lower note at +50).\n"
    "Windows start at byte --offset (0, rounded down to a whole frame) and advance by --step\n"
    "frames (half a window) while a whole window fits; --count stops after N. --fft-size: 256,\n"
    "512, 1024 or 2048 (2048, or 256 for a sound shorter than that); --span: the spectrum's\n"
    "range in Hz (2000; the detection searches bins up to twice it); --low-cut: lowest\n"
    "frequency in Hz, converted to a bin with the file's rate and window length as a Shift +\n"
    "right click does (default: the window's start-up bin, 30 Hz at 44100 Hz and 2048 frames,\n"
    "kept for every file); --threshold: peak threshold (0.1 for 8-bit data, else 5.0).\n"
    "The harmonics are the sliders of a fresh mixer: measured with the frequency slider at\n"
    "100 Hz for every window. --csv prints a header and comma-separated rows instead:\n"
    "  offset,time,detected,frequency,level,h1,...,h20,hz,note,cents,pitch\n"
    "(a window without a pitch leaves frequency .. pitch empty). A file that cannot be loaded\n"
    "prints the --info error object; exit status 2.\n"
    "With several FILEs, they are analysed on all cores and printed in the order given, each\n"
    "line starting with \"file\":NAME (JSON), or under one header with a first column file\n"
    "(CSV; names quoted as CSV needs). A refused file prints its error object in its place\n"
    "(on standard error with --csv) and the others still run; exit status 2 if any was refused.";
constexpr std::string_view kInfoSummary =
    "Print the format of each sound file as the window would hold it, one JSON object per line:\n"
    "  {\"file\":..,\"ok\":true,\"channels\":..,\"rate\":..,\"bits\":..,\"encoding\":..,\n"
    "   \"blockAlign\":..,\"dataSize\":..,\"frames\":..,\"seconds\":..}\n"
    "encoding: pcm8, pcm16, pcm24, pcm32, float32 or float64 for WAV files; flac, vorbis, opus,\n"
    "mp3, aiff, caf, w64, ... for files decoded by libsndfile (held as 16- or 24-bit PCM, or as\n"
    "32-bit floats for float and lossy sources). frames and dataSize are what decodes, whatever\n"
    "a header claims: a compressed file is decoded to count them.\n"
    "or {\"file\":..,\"ok\":false,\"error\":\"No fmttag\"} with the text the window shows.\n"
    "Exit status 2 when any file was refused.";
constexpr std::string_view kProfileSynopsis =
    "--profile [--offset BYTES] [--step FRAMES] [--count N] [--fft-size N] [--span HZ] "
    "[--low-cut HZ] [--threshold X] [--a4 HZ] FILE...";
constexpr std::string_view kProfileSummary =
    "Print the harmonic profile of each FILE as a profile file the mixer loads (one line; with\n"
    "several FILEs, in the order given, each line starting with \"file\":NAME):\n"
    "  {\"sonabi-profile\":1,\"fundamental\":440,\"volume\":10,\"length\":0.5,\n"
    "   \"levels\":[100,0,...],\"phases\":[0,...],\"pitch\":440.02} (20 levels 0..100, 20\n"
    "phases in radians)\n"
    "It is taken from the strongest window: of the windows the default verb would analyse\n"
    "(with the same options), the detected one with the highest level, the first of equals.\n"
    "levels: that window's harmonics; phases: taken from its peaks as the mixer's button takes\n"
    "them (each peak's angle minus the fundamental's; 0 where no peak); pitch: its refined\n"
    "pitch in Hz; fundamental: that pitch to the whole hertz, kept within the frequency\n"
    "slider's 1 .. 2000; volume 10 and length 0.5 s,\n"
    "the mixer's start-up values. A file that cannot be loaded prints the --info error object,\n"
    "one without any detected window {\"file\":..,\"ok\":false,\"error\":\"No pitch\"}; exit 2.";

constexpr std::string_view kNotesSynopsis =
    "--notes [--offset BYTES] [--step FRAMES] [--count N] [--fft-size N] [--span HZ] "
    "[--low-cut HZ] [--threshold X] [--a4 HZ] [--csv] FILE...";
constexpr std::string_view kNotesSummary =
    "Print the held notes of each FILE, the take report's table, one JSON object per note:\n"
    "  {\"start\":1.097,\"end\":3.082,\"note\":\"A4\",\"cents\":0.7,\"spread\":20.9,\n"
    "   \"rate\":5.50,\"depth\":29.5}\n"
    "The windows are those of the default verb with the same options, but a quarter window\n"
    "apart unless --step is given. A held note: windows with a pitch that stay within 60 cents\n"
    "of the mean of the note's windows so far (one window without a pitch or outside that band\n"
    "is bridged, two end the note), at least 150 ms long. start, end: seconds, from half a step\n"
    "before the centre of its first window to half a step after that of its last. The rest is\n"
    "taken from its inner windows, at least a window from its first and last: note: the note\n"
    "nearest to their mean pitch (A4 = --a4 Hz); cents: their mean distance from it; spread:\n"
    "the standard deviation of their cents; rate (Hz, 3 .. 9) and depth (cents, half the swing)\n"
    "of a sine fitted to their cents beside a straight line, null when the depth is below 5\n"
    "cents, the sine explains less than half of what the line leaves, or they span fewer than\n"
    "two cycles. --csv prints a header and rows:\n"
    "  start,end,note,cents,spread,rate,depth\n"
    "(cents signed; rate and depth empty without vibrato). A sound without held notes prints\n"
    "no rows. With several FILEs, in the order given, each line starting with \"file\":NAME or\n"
    "each row with a first column file; a refused file prints the --info error object (on\n"
    "standard error with --csv) and the others still run; exit status 2 if any was refused.";

// Every verb, the default verb first and then by option, as --help and the usage list them.
const Verb kVerbs[] = {
    {"", kAnalyzeSynopsis, kAnalyzeSummary, RunAnalyze},
    {"--help", "--help", "Show this text.", RunHelp},
    {"--info", "--info FILE...", kInfoSummary, RunInfo},
    {"--notes", kNotesSynopsis, kNotesSummary, RunNotes},
    {"--profile", kProfileSynopsis, kProfileSummary, RunProfile},
    {"--version", "--version", "Print the program's name and version.", RunVersion},
};

// Length of the valid UTF-8 sequence starting at s[i], or 0 when the byte starts none.
size_t Utf8SequenceLength(const std::string& s, size_t i) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c = byte(i);
    size_t n = 0;
    unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
    if (c >= 0xC2 && c <= 0xDF)
        n = 2;
    else if (c >= 0xE0 && c <= 0xEF)
        n = 3, lo = c == 0xE0 ? 0xA0 : 0x80, hi = c == 0xED ? 0x9F : 0xBF;
    else if (c >= 0xF0 && c <= 0xF4)
        n = 4, lo = c == 0xF0 ? 0x90 : 0x80, hi = c == 0xF4 ? 0x8F : 0xBF;
    else
        return 0;
    if (i + n > s.size() || byte(i + 1) < lo || byte(i + 1) > hi) return 0;
    for (size_t k = 2; k < n; ++k) {
        if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return 0;
    }
    return n;
}

}  // namespace

std::span<const Verb> Verbs() { return kVerbs; }

int UsageError(std::ostream& err, const std::string& message) {
    err << "sonabi-analyze: " << message << "\n";
    PrintUsage(err);
    return kExitUsage;
}

ParsedArgs ParseArgs(const Args& args, const std::vector<OptionSpec>& known) {
    ParsedArgs parsed;
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            parsed.positional.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        const size_t eq = arg.find('=');
        const std::string name = arg.substr(0, eq);
        const auto option = std::ranges::find(known, name, &OptionSpec::name);
        if (option == known.end()) {
            parsed.error = "unknown option " + name;
            return parsed;
        }
        if (!option->takesValue) {
            if (eq != std::string::npos) {
                parsed.error = "option " + name + " takes no value";
                return parsed;
            }
            parsed.options[name] = "";
        } else if (eq != std::string::npos) {
            parsed.options[name] = arg.substr(eq + 1);
        } else if (i + 1 < args.size()) {
            parsed.options[name] = args[++i];
        } else {
            parsed.error = "option " + name + " needs a value";
            return parsed;
        }
    }
    return parsed;
}

std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

std::string JsonString(const std::string& s) {
    std::string out = "\"";
    const auto escape = [&out](unsigned code) {
        char buf[8];
        std::snprintf(buf, sizeof buf, "\\u%04x", code);
        out += buf;
    };
    static constexpr char kNamed[] = "\"\\\b\f\n\r\t", kNames[] = "\"\\bfnrt";
    for (size_t i = 0; i < s.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (c >= 0x80) {
            if (const size_t n = Utf8SequenceLength(s, i)) {
                out.append(s, i, n);
                i += n - 1;
            } else {
                // A byte b that is not UTF-8 is written as the lone surrogate U+DC80 + b, as
                // Python names undecodable file names: os.fsencode gives the exact bytes back,
                // and no valid name is ever written that way.
                escape(0xDC00u + c);
            }
        } else if (const char* named = c ? std::strchr(kNamed, c) : nullptr) {
            out += '\\';
            out += kNames[named - kNamed];
        } else if (c < 0x20 || c == 0x7F) {
            escape(c);
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string JsonNumber(double v) {
    if (!std::isfinite(v)) return "null";
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.6g", v);
    std::string text = buf;
    if (text.find_first_of(".e") == std::string::npos) text += ".0";
    return text;
}

}  // namespace cli

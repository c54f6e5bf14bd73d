#include "analysis_options.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <thread>

#include "analysis/NoteName.h"

using namespace sonabi;

namespace cli {

namespace {

constexpr uint64_t kMaxBytes = uint64_t{1} << 32;  // more than any WAV file's data

// The whole text as a number (uint64_t or a finite double).
template <typename T>
bool Parse(const std::string& text, T& value) {
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end && !text.empty() && std::isfinite(double(value));
}

}  // namespace

std::vector<OptionSpec> AnalysisOptionSpecs() {
    return {{"--offset", true}, {"--step", true},    {"--count", true},     {"--fft-size", true},
            {"--span", true},   {"--low-cut", true}, {"--threshold", true}, {"--a4", true}};
}

int EachFile(const Args& files, std::ostream& out,
             const std::function<int(const std::string& file)>& one) {
    int status = kExitOk;
    for (const std::string& file : files) {
        const int result = one(file);
        out.flush();
        if (result == kExitUsage) return result;
        status = std::max(status, result);
    }
    return status;
}

AnalysisCommand ReadAnalysisCommand(const Args& args, bool csv, const char* noFile,
                                    std::ostream& err) {
    std::vector<OptionSpec> specs = AnalysisOptionSpecs();
    if (csv) specs.push_back({"--csv", false});
    AnalysisCommand c;
    c.parsed = ParseArgs(args, specs);
    c.csv = c.parsed.options.count("--csv") != 0;
    const Args& files = c.parsed.positional;
    std::string error = c.parsed.error;
    if (error.empty() && files.empty()) error = noFile;
    if (error.empty()) error = ReadAnalysisOptions(c.parsed, c.options);
    if (error.empty() && files.size() > 1) error = UnfitFile(files, c.options);
    if (!error.empty()) c.status = UsageError(err, error);
    return c;
}

std::string ReadAnalysisOptions(const ParsedArgs& parsed, AnalysisOptions& o) {
    auto has = [&](const char* name) { return parsed.options.count(name) != 0; };
    // Given, and not a number of value's type; a missing option leaves value at its default.
    auto unread = [&](const char* name, auto& value) {
        return has(name) && !Parse(parsed.options.at(name), value);
    };
    uint64_t n = 2048;
    // A WAV file holds at most 2^32 bytes of sound: an offset beyond that cannot be meant.
    if (unread("--offset", o.offset) || o.offset > kMaxBytes)
        return "bad --offset (bytes, at most 2^32)";
    if (unread("--step", o.step) || (has("--step") && o.step == 0))
        return "bad --step (frames, at least 1)";
    o.countGiven = has("--count");
    if (unread("--count", o.count)) return "bad --count";
    if (unread("--fft-size", n) || (n != 256 && n != 512 && n != 1024 && n != 2048))
        return "bad --fft-size (256, 512, 1024 or 2048)";
    if (has("--fft-size")) o.fftSize = static_cast<unsigned>(n);
    if (unread("--span", o.span) || o.span <= 0) return "bad --span (Hz, above 0)";
    o.lowCutGiven = has("--low-cut");
    if (unread("--low-cut", o.lowCutHz) || o.lowCutHz < 0) return "bad --low-cut (Hz, 0 or more)";
    if (unread("--threshold", o.threshold) || (has("--threshold") && o.threshold < 0))
        return "bad --threshold (0 or more)";
    if (unread("--a4", o.a4) || o.a4 < sonabi::kMinA4 || o.a4 > sonabi::kMaxA4)
        return "bad --a4 (Hz, 415 .. 466)";
    return "";
}

int LoadOneFile(const std::string& file, const AnalysisOptions& options, WaveFileData& wave,
                AnalysisPlan& plan, std::ostream& out, std::ostream& err) {
    const LoadOutcome loaded = LoadForAnalysis(file, options, wave, plan);
    if (!loaded.usageError.empty()) return UsageError(err, loaded.usageError);
    if (!loaded.loadError.empty()) {
        out << ErrorObject(file, loaded.loadError);
        return kExitRefused;
    }
    return -1;
}

std::string ErrorObject(const std::string& file, const std::string& error) {
    return "{\"file\":" + JsonString(file) + ",\"ok\":false,\"error\":" + JsonString(error) + "}\n";
}

unsigned AnalysisThreads() {
    return std::max(1u, std::min(8u, std::thread::hardware_concurrency()));
}

size_t BatchCount(uint64_t windows) {
    return static_cast<size_t>(
        std::max<uint64_t>(1, (windows + kBatchWindows - 1) / kBatchWindows));
}

Workspaces MakeWorkspaces() {
    Workspaces workspaces(AnalysisThreads());
    for (auto& ws : workspaces) ws = std::make_unique<AnalysisWorkspace>();
    return workspaces;
}

}  // namespace cli

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

std::string ReadAnalysisOptions(const ParsedArgs& parsed, AnalysisOptions& o) {
    auto has = [&](const char* name) { return parsed.options.count(name) != 0; };
    auto text = [&](const char* name) { return parsed.options.at(name); };
    uint64_t n;
    // A WAV file holds at most 2^32 bytes of sound: an offset beyond that cannot be meant.
    if (has("--offset") && (!Parse(text("--offset"), o.offset) || o.offset > kMaxBytes)) {
        return "bad --offset (bytes, at most 2^32)";
    }
    if (has("--step") && (!Parse(text("--step"), o.step) || o.step == 0)) {
        return "bad --step (frames, at least 1)";
    }
    o.countGiven = has("--count");
    if (o.countGiven && !Parse(text("--count"), o.count)) return "bad --count";
    if (has("--fft-size")) {
        if (!Parse(text("--fft-size"), n) || (n != 256 && n != 512 && n != 1024 && n != 2048)) {
            return "bad --fft-size (256, 512, 1024 or 2048)";
        }
        o.fftSize = static_cast<unsigned>(n);
    }
    if (has("--span") && (!Parse(text("--span"), o.span) || o.span <= 0)) {
        return "bad --span (Hz, above 0)";
    }
    o.lowCutGiven = has("--low-cut");
    if (has("--low-cut") && (!Parse(text("--low-cut"), o.lowCutHz) || o.lowCutHz < 0)) {
        return "bad --low-cut (Hz, 0 or more)";
    }
    if (has("--threshold") && (!Parse(text("--threshold"), o.threshold) || o.threshold < 0)) {
        return "bad --threshold (0 or more)";
    }
    if (has("--a4") &&
        (!Parse(text("--a4"), o.a4) || o.a4 < sonabi::kMinA4 || o.a4 > sonabi::kMaxA4)) {
        return "bad --a4 (Hz, 415 .. 466)";
    }
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

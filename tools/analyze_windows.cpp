// The default verb: the pitch analysis of a WAV file, window by window, each window analysed
// as the window program analyses it right after opening the file.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "analysis/WindowAnalysis.h"
#include "cli.h"
#include "common/Blocks.h"
#include "wavfile/SoundFile.h"

using namespace sonabi;

namespace cli {

namespace {

constexpr uint64_t kMaxBytes = uint64_t{1} << 32;  // more than any WAV file's data

struct Options {
    uint64_t offset = 0;  // bytes
    uint64_t step = 0;    // frames; 0 = half a window
    uint64_t count = UINT64_MAX;
    bool countGiven = false;
    unsigned fftSize = 0;  // 0 = 2048, or 256 for a sound shorter than that
    double span = 2000.0;  // Hz
    double lowCutHz = 30.0;
    bool lowCutGiven = false;  // --low-cut on the command line
    double threshold = -1.0;   // < 0: 5.0 for 16-bit data, else 0.1
    bool csv = false;
};

bool ParseUnsigned(const std::string& text, uint64_t& value) {
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end && !text.empty();
}

bool ParseReal(const std::string& text, double& value) {
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end && !text.empty() && std::isfinite(value);
}

// Fills options from the command line; returns "" or what is wrong.
std::string ReadOptions(const ParsedArgs& parsed, Options& o) {
    auto has = [&](const char* name) { return parsed.options.count(name) != 0; };
    auto text = [&](const char* name) { return parsed.options.at(name); };
    uint64_t n;
    // A WAV file holds at most 2^32 bytes of sound: an offset beyond that cannot be meant.
    if (has("--offset") && (!ParseUnsigned(text("--offset"), o.offset) || o.offset > kMaxBytes)) {
        return "bad --offset (bytes, at most 2^32)";
    }
    if (has("--step") && (!ParseUnsigned(text("--step"), o.step) || o.step == 0)) {
        return "bad --step (frames, at least 1)";
    }
    o.countGiven = has("--count");
    if (o.countGiven && !ParseUnsigned(text("--count"), o.count)) return "bad --count";
    if (has("--fft-size")) {
        if (!ParseUnsigned(text("--fft-size"), n) ||
            (n != 256 && n != 512 && n != 1024 && n != 2048)) {
            return "bad --fft-size (256, 512, 1024 or 2048)";
        }
        o.fftSize = static_cast<unsigned>(n);
    }
    if (has("--span") && (!ParseReal(text("--span"), o.span) || o.span <= 0)) {
        return "bad --span (Hz, above 0)";
    }
    o.lowCutGiven = has("--low-cut");
    if (has("--low-cut") && (!ParseReal(text("--low-cut"), o.lowCutHz) || o.lowCutHz < 0)) {
        return "bad --low-cut (Hz, 0 or more)";
    }
    if (has("--threshold") && (!ParseReal(text("--threshold"), o.threshold) || o.threshold < 0)) {
        return "bad --threshold (0 or more)";
    }
    o.csv = has("--csv");
    return "";
}

struct Job {
    const uint8_t* data;
    uint32_t size;
    WAVEFORMATEX format;
    AnalysisSettings settings;
    uint64_t firstOffset, stepBytes;
    uint64_t bytesPerSecond;
    bool csv;
};

void AppendInt(std::string& out, long long v) {
    char buf[24];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, end);
}

// Seconds to the millisecond, exactly at any length: "0.0", "0.046", "1234.567".
std::string Milliseconds(uint64_t offset, uint64_t bytesPerSecond) {
    // offset < 2^33 and bytesPerSecond < 2^35: the products stay far inside 64 bits.
    const uint64_t ms = (offset * 1000 * 2 + bytesPerSecond) / (bytesPerSecond * 2);
    std::string text = std::to_string(ms / 1000) + '.';
    const uint64_t fraction = ms % 1000;
    if (fraction == 0) return text + '0';
    char digits[4];
    std::snprintf(digits, sizeof digits, "%03u", static_cast<unsigned>(fraction));
    std::string f = digits;
    while (f.back() == '0') f.pop_back();
    return text + f;
}

void AppendLine(std::string& out, uint64_t offset, const Job& job, const WindowResult& r) {
    // Milliseconds are enough to tell windows apart; the offset is exact.
    const std::string time = Milliseconds(offset, job.bytesPerSecond);
    if (job.csv) {
        AppendInt(out, static_cast<long long>(offset));
        out += ',' + time + (r.detected ? ",true," : ",false,");
        if (r.detected) {
            AppendInt(out, r.frequency);
            out += ',';
            AppendInt(out, r.level);
        } else {
            out += ',';
        }
        for (int k = 1; k <= 20; ++k) {
            out += ',';
            if (r.detected) AppendInt(out, r.harmonicLevels[k]);
        }
        out += '\n';
        return;
    }
    out += "{\"offset\":";
    AppendInt(out, static_cast<long long>(offset));
    out += ",\"time\":" + time;
    if (!r.detected) {
        out += ",\"detected\":false}\n";
        return;
    }
    out += ",\"detected\":true,\"frequency\":";
    AppendInt(out, r.frequency);
    out += ",\"level\":";
    AppendInt(out, r.level);
    out += ",\"harmonics\":[";
    for (int k = 1; k <= 20; ++k) {
        if (k > 1) out += ',';
        AppendInt(out, r.harmonicLevels[k]);
    }
    out += "]}\n";
}

// Windows first .. first + count - 1 into text, in order.
void AnalyzeRange(const Job& job, uint64_t first, uint64_t count, std::string& text) {
    auto workspace = std::make_unique<AnalysisWorkspace>();
    WindowResult result;
    text.reserve(count * 110);
    for (uint64_t i = first; i < first + count; ++i) {
        const uint64_t offset = job.firstOffset + i * job.stepBytes;
        AnalyzeWindow(job.data, job.size, job.format, offset, job.settings, *workspace, result);
        AppendLine(text, offset, job, result);
    }
}

// Every window, a batch at a time, each batch shared between the cores.
void AnalyzeAll(const Job& job, uint64_t windows, std::ostream& out) {
    const unsigned threads = std::max(1u, std::min(8u, std::thread::hardware_concurrency()));
    constexpr uint64_t kBatch = 16384;
    for (uint64_t start = 0; start < windows; start += kBatch) {
        const uint64_t batch = std::min(kBatch, windows - start);
        const uint64_t share = (batch + threads - 1) / threads;
        std::vector<std::string> texts(threads);
        std::vector<std::thread> workers;
        for (unsigned t = 1; t < threads && t * share < batch; ++t) {
            workers.emplace_back(AnalyzeRange, std::cref(job), start + t * share,
                                 std::min(share, batch - t * share), std::ref(texts[t]));
        }
        AnalyzeRange(job, start, std::min(share, batch), texts[0]);
        for (std::thread& w : workers) w.join();
        for (const std::string& text : texts) out << text;
    }
}

// The window's settings for a file of this format and size, and the step in bytes; "" or the
// usage error of an option whose byte extent is beyond what any WAV file holds (it would wrap,
// and a step that wrapped to 0 would divide by zero).
std::string Settle(const Options& o, const WaveFileData& wave, Job& job) {
    const WAVEFORMATEX& f = wave.format;
    const uint64_t frames = wave.size / f.nBlockAlign;
    AnalysisSettings& s = job.settings;
    s.fftSize = o.fftSize ? o.fftSize : frames < 2048 ? 256 : 2048;
    s.frequencySpan = o.span;
    // The window works its cut-off bin out once at start-up (44100 Hz, 2048 frames) and keeps it
    // for every file opened; only a new cut-off is converted with the file's rate and window.
    const bool ownCut = o.lowCutGiven;
    s.lowCutBin =
        LowCutBinFor(o.lowCutHz, ownCut ? f.nSamplesPerSec : 44100, ownCut ? s.fftSize : 2048);
    s.peakThreshold = o.threshold >= 0 ? o.threshold : PeakThresholdFor(CodingOf(f));
    s.harmonicsFromAnalysis = true;
    s.freqPosition = 100;
    // A window never starts inside a frame: the offset is rounded down to one, as the window's
    // scroll bar puts its position on a frame.
    job.firstOffset = o.offset - o.offset % f.nBlockAlign;
    const uint64_t stepFrames = o.step ? o.step : s.fftSize / 2;
    if (stepFrames > kMaxBytes / f.nBlockAlign) return "bad --step (its bytes pass 2^32)";
    job.stepBytes = stepFrames * f.nBlockAlign;
    if (o.countGiven && o.count > 1 && o.count - 1 > kMaxBytes / job.stepBytes) {
        return "bad --count (its windows pass 2^32 bytes)";
    }
    job.bytesPerSecond = uint64_t{f.nSamplesPerSec} * f.nBlockAlign;
    return "";
}

int RunAnalyze(const Args& args, std::ostream& out, std::ostream& err) {
    const ParsedArgs parsed = ParseArgs(args, {{"--offset", true},
                                               {"--step", true},
                                               {"--count", true},
                                               {"--fft-size", true},
                                               {"--span", true},
                                               {"--low-cut", true},
                                               {"--threshold", true},
                                               {"--csv", false}});
    if (!parsed.error.empty()) return UsageError(err, parsed.error);
    if (parsed.positional.size() != 1) return UsageError(err, "give exactly one FILE");
    Options o;
    if (const std::string error = ReadOptions(parsed, o); !error.empty()) {
        return UsageError(err, error);
    }
    const std::string& file = parsed.positional[0];
    WaveFileData wave;
    wave.format = StartUpFormat();
    // The headers first: the settings and the checks of the options need no samples, so a bad
    // value is refused before a large file is read.
    std::string error = LoadSoundFile(file, wave, false);
    Job job{nullptr, 0, wave.format, {}, o.offset, 0, 0, o.csv};
    if (error.empty()) {
        if (const std::string bad = Settle(o, wave, job); !bad.empty()) return UsageError(err, bad);
        error = LoadSoundFile(file, wave);
    }
    if (!error.empty()) {
        out << "{\"file\":" << JsonString(file) << ",\"ok\":false,\"error\":" << JsonString(error)
            << "}\n";
        return kExitRefused;
    }
    job.data = wave.data;
    job.size = wave.size;
    const WAVEFORMATEX& f = wave.format;
    const AnalysisSettings& s = job.settings;

    const uint64_t windowBytes = uint64_t{s.fftSize} * f.nBlockAlign;
    uint64_t windows = 0;
    const uint64_t first = job.firstOffset;
    if (first <= wave.size && windowBytes <= wave.size - first) {
        windows = std::min(o.count, (wave.size - first - windowBytes) / job.stepBytes + 1);
    }
    if (o.csv) {
        out << "offset,time,detected,frequency,level";
        for (int k = 1; k <= 20; ++k) out << ",h" << k;
        out << "\n";
    }
    AnalyzeAll(job, windows, out);
    out.flush();
    blocks::Release(wave.data);
    return kExitOk;
}

const VerbRegistration kAnalyzeVerb{{
    "",
    "[--offset BYTES] [--step FRAMES] [--count N] [--fft-size N] [--span HZ] [--low-cut HZ] "
    "[--threshold X] [--csv] FILE",
    "Analyse FILE window by window as the window does after opening it, and print one JSON\n"
    "object per window and line:\n"
    "  {\"offset\":0,\"time\":0.0,\"detected\":true,\"frequency\":440,\"level\":2324,\n"
    "   \"harmonics\":[100,0,...]} (the 20 harmonic levels) or\n"
    "  {\"offset\":4096,\"time\":0.046,\"detected\":false}\n"
    "Windows start at byte --offset (0, rounded down to a whole frame) and advance by --step\n"
    "frames (half a window) while a whole window fits; --count stops after N. --fft-size: 256,\n"
    "512, 1024 or 2048 (2048, or 256 for a sound shorter than that); --span: the spectrum's\n"
    "range in Hz (2000; the detection searches bins up to twice it); --low-cut: lowest\n"
    "frequency in Hz, converted to a bin with the file's rate and window length as a Shift +\n"
    "right click does (default: the window's start-up bin, 30 Hz at 44100 Hz and 2048 frames,\n"
    "kept for every file); --threshold: peak threshold (0.1 for 8-bit data, else 5.0).\n"
    "The harmonics are the sliders of a fresh mixer: measured with the frequency slider at\n"
    "100 Hz for every window. --csv prints a header and comma-separated rows instead. A file\n"
    "that cannot be loaded prints the --info error object; exit status 2.",
    RunAnalyze,
}};

}  // namespace

}  // namespace cli

#include "analysis/AnalysisTable.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <memory>
#include <new>

#include "analysis/NoteName.h"

namespace sonabi {

namespace {

void AppendInt(std::string& out, long long v) {
    char buf[24];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, end);
}

}  // namespace

std::string AnalysisCsvHeader() {
    std::string header = "offset,time,detected,frequency,level";
    for (int k = 1; k <= 20; ++k) header += ",h" + std::to_string(k);
    return header + ",hz,note,cents,pitch\n";
}

std::string MillisecondsText(uint64_t offset, uint64_t bytesPerSecond) {
    if (bytesPerSecond == 0) return "0.0";  // no format: nothing was analysed anyway
    // offset < 2^33 and bytesPerSecond < 2^35: the products stay far inside 64 bits.
    const uint64_t ms = (offset * 1000 * 2 + bytesPerSecond) / (bytesPerSecond * 2);
    std::string fraction = std::to_string(1000 + ms % 1000).substr(1);  // three digits
    fraction.erase(std::max<size_t>(1, fraction.find_last_not_of('0') + 1));
    return std::to_string(ms / 1000) + '.' + fraction;
}

std::string HzText(double hz) {
    if (!std::isfinite(hz)) return "";
    char buf[400];  // %.2f of the largest double has 309 digits before the point
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, hz, std::chars_format::fixed, 2);
    return ec == std::errc() ? std::string(buf, end) : std::string();
}

namespace {

// One window's CSV row or JSON line: the two forms put the same values in the same order.
void AppendWindowRow(std::string& out, TableForm form, const std::string& lead, uint64_t offset,
                     uint64_t bytesPerSecond, const WindowResult& r, double a4) {
    const bool json = form == TableForm::JsonLines;
    // A field's separator and, in JSON, its name; a missing value is JSON's null or left empty.
    const auto field = [&](const char* name) {
        out += ',';
        if (json) out.append("\"").append(name).append("\":");
    };
    const auto text = [&](const std::string& v) { out += json && v.empty() ? "null" : v.c_str(); };
    if (json) out += '{';
    out += lead;
    if (json) out += "\"offset\":";
    AppendInt(out, static_cast<long long>(offset));
    field("time");
    // Milliseconds are enough to tell windows apart; the offset is exact.
    out += MillisecondsText(offset, bytesPerSecond);
    field("detected");
    if (!r.detected) {
        // CSV: frequency, level, h1..h20, hz, note, cents, pitch: 26 empty columns.
        out += json ? "false}\n" : "false" + std::string(26, ',') + "\n";
        return;
    }
    out += "true";
    field("frequency");
    AppendInt(out, r.frequency);
    field("level");
    AppendInt(out, r.level);
    field("harmonics");
    if (json) out += '[';
    for (int k = 1; k <= 20; ++k) {
        if (k > 1) out += ',';
        AppendInt(out, r.harmonicLevels[k]);
    }
    if (json) out += ']';
    field("hz");
    text(HzText(r.hz));
    const NearestNote note = NearestNoteOf(r.pitch, a4);
    field("note");
    text(note.valid && json ? '"' + note.name + '"' : note.name);  // names need no JSON escapes
    field("cents");
    text(note.valid ? std::to_string(note.cents) : "");
    field("pitch");
    text(HzText(r.pitch));
    out += json ? "}\n" : "\n";
}

}  // namespace

void AppendAnalysisCsvRow(std::string& out, const std::string& lead, uint64_t offset,
                          uint64_t bytesPerSecond, const WindowResult& r, double a4) {
    AppendWindowRow(out, TableForm::Csv, lead, offset, bytesPerSecond, r, a4);
}

void AppendAnalysisJsonLine(std::string& out, const std::string& lead, uint64_t offset,
                            uint64_t bytesPerSecond, const WindowResult& r, double a4) {
    AppendWindowRow(out, TableForm::JsonLines, lead, offset, bytesPerSecond, r, a4);
}

uint64_t WindowCountOf(uint64_t dataSize, const WAVEFORMATEX& format, unsigned fftSize,
                       uint64_t startOffset, uint64_t stepBytes) {
    const uint64_t windowBytes = uint64_t{fftSize} * format.nBlockAlign;
    if (stepBytes == 0 || windowBytes == 0 || startOffset > dataSize ||
        windowBytes > dataSize - startOffset)
        return 0;
    return (dataSize - startOffset - windowBytes) / stepBytes + 1;
}

void AppendWindowTable(std::string& out, TableForm form, const std::string& lead,
                       const uint8_t* data, size_t dataSize, const WAVEFORMATEX& format,
                       const AnalysisSettings& settings, const WindowRange& range,
                       const double* noise, size_t noiseCount, AnalysisWorkspace& ws) {
    std::fill(std::begin(ws.noise), std::end(ws.noise), 0.0);
    if (noise) std::copy_n(noise, std::min<size_t>(noiseCount, kMaxWindowFrames), ws.noise);
    ws.noiseCapturePending = false;
    const uint64_t bytesPerSecond = uint64_t{format.nSamplesPerSec} * format.nBlockAlign;
    if (bytesPerSecond == 0 || range.stepBytes == 0) return;  // a format no window can be read in
    WindowResult result;
    for (uint64_t i = range.first; i < range.first + range.count; ++i) {
        const uint64_t offset = range.startOffset + i * range.stepBytes;
        AnalyzeWindow(data, dataSize, format, offset, settings, ws, result);
        AppendWindowRow(out, form, lead, offset, bytesPerSecond, result, settings.a4);
    }
}

bool AnalyzeWindowsCsv(const uint8_t* data, size_t dataSize, const WAVEFORMATEX& format,
                       const AnalysisSettings& settings, uint64_t stepBytes, uint64_t first,
                       uint64_t count, const double* noise, size_t noiseCount, std::string& csv) {
    csv.clear();
    std::unique_ptr<AnalysisWorkspace> ws(new (std::nothrow) AnalysisWorkspace);
    if (!ws) return false;
    const uint64_t fit = WindowCountOf(dataSize, format, settings.fftSize, 0, stepBytes);
    const uint64_t from = std::min(first, fit);
    const WindowRange range{0, stepBytes, from, std::min(count, fit - from)};
    try {
        csv = AnalysisCsvHeader();
        AppendWindowTable(csv, TableForm::Csv, "", data, dataSize, format, settings, range, noise,
                          noiseCount, *ws);
    } catch (const std::bad_alloc&) {
        csv.clear();
        csv.shrink_to_fit();
        return false;
    }
    return true;
}

}  // namespace sonabi

#include "analysis/HeldNotes.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <memory>

#include "analysis/NoteName.h"

namespace sonabi {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kRateGridHz = 0.02;  // the first search's step; a finer search follows

// Cents above C-1 (A4 = 6900) of a pitch against a4.
double CentsOf(double hz, double a4) { return 6900.0 + 1200.0 * std::log2(hz / a4); }

bool Pitched(const ContourPoint& p) { return std::isfinite(p.pitch) && p.pitch > 0.0; }

// Solves the n x n system a x = b (n <= 4) by elimination with partial pivoting; false when it
// is singular.
bool Solve(int n, double a[4][4], double b[4], double x[4]) {
    for (int c = 0; c < n; ++c) {
        int pivot = c;
        for (int r = c + 1; r < n; ++r)
            if (std::fabs(a[r][c]) > std::fabs(a[pivot][c])) pivot = r;
        if (!(std::fabs(a[pivot][c]) > 1e-12)) return false;
        std::swap(a[c], a[pivot]);
        std::swap(b[c], b[pivot]);
        for (int r = c + 1; r < n; ++r) {
            const double f = a[r][c] / a[c][c];
            for (int k = c; k < n; ++k) a[r][k] -= f * a[c][k];
            b[r] -= f * b[c];
        }
    }
    for (int r = n - 1; r >= 0; --r) {
        double s = b[r];
        for (int k = r + 1; k < n; ++k) s -= a[r][k] * x[k];
        x[r] = s / a[r][r];
    }
    return true;
}

// The least-squares fit of y by 1, t and, when rate > 0, cos and sin of 2 pi rate t: the sum
// of squared residuals, and the sine's amplitude.
struct Fit {
    bool ok = false;
    double residual = 0.0;
    double amplitude = 0.0;
};

Fit FitAt(const std::vector<double>& t, const std::vector<double>& y, double rate) {
    const int n = rate > 0 ? 4 : 2;
    double a[4][4] = {}, b[4] = {}, x[4] = {};
    const double w = 2 * kPi * rate;
    for (size_t i = 0; i < t.size(); ++i) {
        const double f[4] = {1.0, t[i], std::cos(w * t[i]), std::sin(w * t[i])};
        for (int r = 0; r < n; ++r) {
            for (int c = 0; c < n; ++c) a[r][c] += f[r] * f[c];
            b[r] += f[r] * y[i];
        }
    }
    Fit fit;
    if (!Solve(n, a, b, x)) return fit;
    fit.ok = true;
    for (size_t i = 0; i < t.size(); ++i) {
        double e = y[i] - x[0] - x[1] * t[i];
        if (n == 4) e -= x[2] * std::cos(w * t[i]) + x[3] * std::sin(w * t[i]);
        fit.residual += e * e;
    }
    if (n == 4) fit.amplitude = std::hypot(x[2], x[3]);
    return fit;
}

// The vibrato of a note's points (t in s from the note's middle, y in cents from its mean).
void FindVibrato(const std::vector<double>& t, const std::vector<double>& y, HeldNote& note) {
    const double length = t.back() - t.front();
    if (t.size() < 8 || length * kMaxVibratoHz < 2.0) return;
    const Fit line = FitAt(t, y, 0.0);
    if (!line.ok || !(line.residual > 0.0)) return;
    double bestRate = 0.0;
    Fit best;
    for (double rate = kMinVibratoHz; rate <= kMaxVibratoHz + 1e-9; rate += kRateGridHz) {
        const Fit fit = FitAt(t, y, rate);
        if (fit.ok && (!best.ok || fit.residual < best.residual)) best = fit, bestRate = rate;
    }
    if (!best.ok) return;
    // Golden-section search between the neighbours of the best grid rate.
    double lo = std::max(kMinVibratoHz, bestRate - kRateGridHz);
    double hi = std::min(kMaxVibratoHz, bestRate + kRateGridHz);
    const double g = 0.6180339887498949;
    for (int k = 0; k < 24; ++k) {
        const double m1 = hi - g * (hi - lo), m2 = lo + g * (hi - lo);
        const Fit f1 = FitAt(t, y, m1), f2 = FitAt(t, y, m2);
        if (!f1.ok || !f2.ok) break;
        if (f1.residual <= f2.residual)
            hi = m2;
        else
            lo = m1;
    }
    const double rate = 0.5 * (lo + hi);
    const Fit fit = FitAt(t, y, rate);
    if (fit.ok && fit.residual <= best.residual) best = fit, bestRate = rate;
    const double depth = best.amplitude;
    const bool periodic = best.residual <= 0.5 * line.residual;
    if (depth >= kMinVibratoCents && periodic && length * bestRate >= 2.0) {
        note.vibrato = true;
        note.rate = bestRate;
        note.depth = depth;
    }
}

// The note of the points `members` of the contour, with cents c (from C-1).
HeldNote MakeNote(const std::vector<ContourPoint>& contour, const std::vector<double>& c,
                  const std::vector<size_t>& members, double step, double a4,
                  double windowSeconds) {
    HeldNote note;
    note.first = members.front();
    note.last = members.back();
    note.start = contour[note.first].time - step / 2;
    note.end = contour[note.last].time + step / 2;
    // The points whose windows lie wholly within the note; all of them when that leaves fewer
    // than three.
    std::vector<size_t> inner;
    const double from = contour[note.first].time + windowSeconds;
    const double to = contour[note.last].time - windowSeconds;
    for (size_t i : members)
        if (contour[i].time >= from - 1e-9 && contour[i].time <= to + 1e-9) inner.push_back(i);
    const std::vector<size_t>& used = inner.size() >= 3 ? inner : members;
    double sum = 0.0;
    for (size_t i : used) sum += c[i];
    const double mean = sum / used.size();
    const NearestNote nearest = NearestNoteOf(a4 * std::exp2((mean - 6900.0) / 1200.0), a4);
    note.midi = nearest.midi;
    note.name = nearest.name;
    note.cents = mean - 100.0 * nearest.midi;
    double squares = 0.0;
    for (size_t i : used) squares += (c[i] - mean) * (c[i] - mean);
    note.spread = std::sqrt(squares / used.size());
    const double middle = 0.5 * (contour[note.first].time + contour[note.last].time);
    std::vector<double> t, y;
    t.reserve(used.size());
    y.reserve(used.size());
    for (size_t i : used) {
        t.push_back(contour[i].time - middle);
        y.push_back(c[i] - mean);
    }
    FindVibrato(t, y, note);
    return note;
}

void AppendFixed(std::string& out, double value, int decimals) {
    char buf[400];
    auto [end, ec] =
        std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals);
    if (ec == std::errc()) out.append(buf, end);
}

}  // namespace

std::vector<ContourPoint> PitchContourOf(const uint8_t* data, size_t dataSize,
                                         const WAVEFORMATEX& format,
                                         const AnalysisSettings& settings, const WindowRange& range,
                                         const double* noise, size_t noiseCount,
                                         AnalysisWorkspace& ws) {
    std::vector<ContourPoint> contour;
    std::fill(std::begin(ws.noise), std::end(ws.noise), 0.0);
    if (noise) std::copy_n(noise, std::min<size_t>(noiseCount, kMaxWindowFrames), ws.noise);
    ws.noiseCapturePending = false;
    const uint64_t bytesPerSecond = uint64_t{format.nSamplesPerSec} * format.nBlockAlign;
    if (bytesPerSecond == 0 || range.stepBytes == 0) return contour;
    contour.reserve(range.count);
    const uint64_t halfWindow = uint64_t{settings.fftSize} * format.nBlockAlign / 2;
    WindowResult result;
    for (uint64_t i = range.first; i < range.first + range.count; ++i) {
        const uint64_t offset = range.startOffset + i * range.stepBytes;
        AnalyzeWindow(data, dataSize, format, offset, settings, ws, result);
        ContourPoint point;
        point.time = static_cast<double>(offset + halfWindow) / bytesPerSecond;
        if (result.detected && std::isfinite(result.pitch) && result.pitch > 0)
            point.pitch = result.pitch;
        contour.push_back(point);
    }
    return contour;
}

std::vector<HeldNote> FindHeldNotes(const std::vector<ContourPoint>& contour, double step,
                                    double a4, double windowSeconds) {
    std::vector<HeldNote> notes;
    std::vector<double> c(contour.size(), 0.0);
    for (size_t i = 0; i < contour.size(); ++i)
        if (Pitched(contour[i])) c[i] = CentsOf(contour[i].pitch, a4);
    std::vector<size_t> members;
    size_t i = 0;
    while (i < contour.size()) {
        if (!Pitched(contour[i])) {
            ++i;
            continue;
        }
        // A note starts here and takes every point near its running centre, bridging single
        // misses; the first point it leaves behind may start the next one.
        members.assign(1, i);
        double sum = c[i];
        int misses = 0;
        for (size_t j = i + 1; j < contour.size(); ++j) {
            const double centre = sum / members.size();
            if (Pitched(contour[j]) && std::fabs(c[j] - centre) <= kHeldNoteBand) {
                members.push_back(j);
                sum += c[j];
                misses = 0;
            } else if (++misses > kMaxBridgedPoints) {
                break;
            }
        }
        const double length = contour[members.back()].time - contour[members.front()].time + step;
        if (length >= kMinHeldSeconds - 1e-9)
            notes.push_back(MakeNote(contour, c, members, step, a4, windowSeconds));
        i = members.back() + 1;
    }
    return notes;
}

std::vector<double> ContourCents(const std::vector<ContourPoint>& contour,
                                 const std::vector<HeldNote>& notes, double a4) {
    std::vector<double> cents(contour.size(), NAN);
    size_t k = 0;  // the first note that does not end before point i
    for (size_t i = 0; i < contour.size(); ++i) {
        if (!Pitched(contour[i])) continue;
        while (k < notes.size() && notes[k].last < i) ++k;
        const double c = CentsOf(contour[i].pitch, a4);
        if (k < notes.size() && notes[k].first <= i) {
            cents[i] = c - 100.0 * notes[k].midi;
        } else {
            const NearestNote own = NearestNoteOf(contour[i].pitch, a4);
            cents[i] = c - 100.0 * own.midi;
        }
    }
    return cents;
}

TakeReport MakeTakeReport(const uint8_t* data, size_t dataSize, const WAVEFORMATEX& format,
                          const AnalysisSettings& settings, const double* noise, size_t noiseCount,
                          const WindowRange* range) {
    TakeReport report;
    const uint64_t bytesPerSecond = uint64_t{format.nSamplesPerSec} * format.nBlockAlign;
    if (bytesPerSecond == 0) return report;
    WindowRange r;
    if (range) {
        r = *range;
    } else {
        r.stepBytes = uint64_t{ContourStepFrames(settings.fftSize)} * format.nBlockAlign;
        r.count = UINT64_MAX;
    }
    const uint64_t fit =
        WindowCountOf(dataSize, format, settings.fftSize, r.startOffset, r.stepBytes);
    r.first = std::min(r.first, fit);
    r.count = std::min(r.count, fit - r.first);
    if (r.stepBytes == 0) return report;
    auto ws = std::make_unique<AnalysisWorkspace>();
    report.step = static_cast<double>(r.stepBytes) / bytesPerSecond;
    report.windowSeconds = static_cast<double>(settings.fftSize) / format.nSamplesPerSec;
    report.contour = PitchContourOf(data, dataSize, format, settings, r, noise, noiseCount, *ws);
    report.notes = FindHeldNotes(report.contour, report.step, settings.a4, report.windowSeconds);
    return report;
}

std::string FixedText(double value, int decimals, bool sign) {
    std::string text;
    AppendFixed(text, value, decimals);
    // A value that rounds to zero is written without a sign, whichever side it lies.
    if (text.find_first_not_of("-0.") == std::string::npos)
        return text[0] == '-' ? text.substr(1) : text;
    if (sign && value > 0) text.insert(text.begin(), '+');
    return text;
}

std::string HeldNotesCsvHeader() { return "start,end,note,cents,spread,rate,depth\n"; }

void AppendHeldNotesCsv(std::string& out, const std::string& lead,
                        const std::vector<HeldNote>& notes) {
    for (const HeldNote& n : notes) {
        out += lead;
        out += FixedText(n.start, 3) + ',' + FixedText(n.end, 3) + ',' + n.name + ',';
        out += FixedText(n.cents, 1, true) + ',' + FixedText(n.spread, 1) + ',';
        if (n.vibrato)
            out += FixedText(n.rate, 2) + ',' + FixedText(n.depth, 1);
        else
            out += ',';
        out += '\n';
    }
}

void AppendHeldNotesJson(std::string& out, const std::string& lead,
                         const std::vector<HeldNote>& notes) {
    for (const HeldNote& n : notes) {
        out += '{';
        out += lead;
        out += "\"start\":" + FixedText(n.start, 3) + ",\"end\":" + FixedText(n.end, 3);
        out += ",\"note\":\"" + n.name + "\"";  // names need no JSON escapes
        out += ",\"cents\":" + FixedText(n.cents, 1) + ",\"spread\":" + FixedText(n.spread, 1);
        if (n.vibrato)
            out += ",\"rate\":" + FixedText(n.rate, 2) + ",\"depth\":" + FixedText(n.depth, 1);
        else
            out += ",\"rate\":null,\"depth\":null";
        out += "}\n";
    }
}

}  // namespace sonabi

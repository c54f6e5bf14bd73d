#include "analysis/PitchDetection.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <limits>

#include "analysis/Extended.h"
#include "analysis/Spectrum.h"

namespace sonabi {

namespace {

void MovePeak(DetectionResult& r, int from, int to) {
    r.PeakLevels[to] = r.PeakLevels[from];
    r.PeakValues[to] = r.PeakValues[from];
    r.PeakBins[to] = r.PeakBins[from];
    r.PeakHarmonics[to] = r.PeakHarmonics[from];
}

// Removes, in one pass and keeping the order, every entry i in from .. PeakCount for which
// drop(i) holds; later entries of all four lists move down to close the gap.
template <typename Drop>
void RemovePeaks(DetectionResult& r, int from, Drop drop) {
    int kept = from - 1;
    for (int i = from; i <= r.PeakCount; ++i)
        if (!drop(i)) MovePeak(r, i, ++kept);
    r.PeakCount = kept;
}

// Round(bin / b1): the multiple of the first peak's bin nearest to bin.
long long NearestMultiple(int bin, int b1) {
    return RoundExtended(static_cast<long double>(bin) / b1);
}

// Every local maximum of D above the threshold, with its log level for the voiceprint.
// Returns the strongest level (0 when none); logHigh and logLow span the log levels and 0.
double FindPeaks(const DetectionInput& in, DetectionResult& r, double& logHigh, double& logLow) {
    const double* M = in.magnitudes;
    const double* Z = in.noise;
    auto D = [M, Z](int k) { return Z ? M[k] - Z[k] : M[k]; };
    // Bin j + 2 must be a written magnitude too: the interpolation reads it.
    const int end = std::min(r.SpanBinCount, static_cast<int>(in.fftSize / 2) - 2);
    double strongest = 0.0;
    logHigh = 0.0;
    logLow = 0.0;
    for (int j = 1; j < end; ++j) {
        if (!(static_cast<unsigned>(j) > in.lowCutBin)) continue;
        const double m = D(j);
        if (!(D(j - 1) < m) || !(m > D(j + 1))) continue;
        if (r.PeakCount >= kPeakCapacity) break;
        if (!(m > in.peakThreshold)) continue;
        const int i = ++r.PeakCount;
        r.PeakLevels[i] = m;
        r.PeakValues[i] = in.fftOutput ? in.fftOutput[j] : Complex{0.0, 0.0};
        r.PeakBins[i] = j;
        if (m > strongest) strongest = m;
        if (m > 0) {
            const double level =
                static_cast<double>(100.0L * std::log10(static_cast<long double>(m)));
            const int e = ++r.PeakLogCount;
            r.PeakLogLevels[e] = level;
            r.PeakLogBins[e] = j;
            if (level > logHigh) logHigh = level;
            if (level < logLow) logLow = level;
        }
    }
    return strongest;
}

// The interpolated position of the fundamental at bin k, on the side of the larger raw
// neighbour.
double InterpolatePeak(const double* M, int k) {
    double x;
    if (M[k + 1] > M[k - 1]) {
        x = LineIntersectPeak(k - 1, k + 2, M[k - 1], M[k], M[k + 1], M[k + 2]);
    } else if (k >= 2) {
        x = LineIntersectPeak(k - 2, k + 1, M[k - 2], M[k - 1], M[k], M[k + 1]);
    } else {
        x = k;  // bin -1 does not exist
    }
    return std::isnan(x) ? k : x;
}

// Harmonic numbers, keeping one peak of each run of equal numbers.
void AssignHarmonics(DetectionResult& r) {
    const int b1 = r.PeakBins[1];
    for (int i = 1; i <= r.PeakCount; ++i) {
        r.PeakHarmonics[i] =
            static_cast<int>(std::llabs(r.PeakBins[i] - NearestMultiple(r.PeakBins[i], b1) * b1));
    }
    RemovePeaks(r, 2, [&r](int i) { return r.PeakHarmonics[i] > 3; });
    for (int i = 1; i <= r.PeakCount; ++i) {
        r.PeakHarmonics[i] = static_cast<int>(NearestMultiple(r.PeakBins[i], b1));
    }
    for (int first = 1; first <= r.PeakCount - 1; ++first) {
        int last = first;
        while (last < r.PeakCount && r.PeakHarmonics[last + 1] == r.PeakHarmonics[last]) ++last;
        double best = r.PeakLevels[first];
        for (int e = first + 1; e <= last; ++e) {
            const int loser = r.PeakLevels[e] > best ? e - 1 : e;
            if (loser == e - 1) best = r.PeakLevels[e];
            r.PeakLevels[loser] = 0.0;
            r.PeakValues[loser] = {0.0, 0.0};
        }
    }
    RemovePeaks(r, 1, [&r](int i) { return r.PeakLevels[i] == 0.0; });
}

}  // namespace

double LineIntersectPeak(double x1, double x4, double y1, double y2, double y3, double y4) {
    const long double rise = static_cast<long double>(y2) - y1;
    const long double fall = static_cast<long double>(y4) - y3;
    const long double denominator = rise - fall;
    if (denominator == 0) return std::numeric_limits<double>::quiet_NaN();
    return static_cast<double>(((static_cast<long double>(y4) - y1) + rise * x1 - fall * x4) /
                               denominator);
}

bool DetectPitch(const DetectionInput& in, DetectionResult& r) {
    r.frequencyWritten = false;
    r.harmonicLevelsCleared = false;
    if (!in.magnitudes) return false;
    r.SpanBinCount = SpanBinCount(in.fftSize, in.curRate, in.frequencySpan);
    r.PeakCount = 0;
    r.PeakLogCount = 0;

    double logHigh, logLow;
    const double strongest = FindPeaks(in, r, logHigh, logLow);
    if (strongest == 0.0) return false;
    if (!(logHigh > logLow)) return false;
    for (int i = 1; i <= r.PeakLogCount; ++i) {
        r.PeakLogLevels[i] =
            static_cast<double>((r.PeakLogLevels[i] - static_cast<long double>(logLow)) /
                                (static_cast<long double>(logHigh) - logLow));
    }

    // Weak peaks, then a lowest peak far below the mean spacing, then a lone non-multiple.
    RemovePeaks(r, 1, [&r, strongest](int i) {
        return static_cast<long double>(r.PeakLevels[i]) / strongest < 0.05L;
    });
    if (r.PeakCount > 3) {
        const int b1 = r.PeakBins[1];
        long double ratio = 1;
        for (int i = 2; i <= r.PeakCount; ++i)
            ratio += static_cast<long double>(r.PeakBins[i]) / b1;
        ratio /= r.PeakCount;
        if (2.2L * b1 < ratio) RemovePeaks(r, 1, [](int i) { return i == 1; });
    }
    if (r.PeakCount == 2) {
        const long long dist = std::llabs(
            r.PeakBins[2] - NearestMultiple(r.PeakBins[2], r.PeakBins[1]) * r.PeakBins[1]);
        if (dist > 3 && r.PeakLevels[1] < r.PeakLevels[2]) {
            MovePeak(r, 2, 1);
            r.PeakCount = 1;
        }
    }

    const double x = InterpolatePeak(in.magnitudes, r.PeakBins[1]);
    const long double hz = static_cast<long double>(in.sampleRate) * x / (in.fftSize - 1);
    const bool representable = hz < 2147483647.5L && hz > -2147483648.5L;
    r.DetectedFrequency = representable ? static_cast<int>(RoundExtended(hz))
                          : hz < 0      ? INT_MIN
                                        : INT_MAX;
    r.PeakLevel = static_cast<int>(RoundExtended(strongest));
    r.FundamentalPosition = x;
    r.frequencyWritten = true;
    if (!representable || r.DetectedFrequency < 0) return false;

    for (int i = 1; i <= r.PeakCount; ++i) {
        r.PeakLevels[i] =
            static_cast<double>(r.PeakLevels[i] / static_cast<long double>(strongest));
    }
    if (!in.harmonicsFromAnalysis) return true;
    r.harmonicLevelsCleared = true;
    AssignHarmonics(r);
    return true;
}

}  // namespace sonabi

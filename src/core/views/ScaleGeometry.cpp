#include "views/ScaleGeometry.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace sonabi {

namespace {

long long RoundExt(long double x) { return std::llrintl(x); }

// The 32-bit integer products of the grid formulas wrap around as 32-bit arithmetic does.
int32_t Product32(long long a, long long b, long long c) {
    const uint64_t product =
        static_cast<uint64_t>(a) * static_cast<uint64_t>(b) * static_cast<uint64_t>(c);
    return static_cast<int32_t>(static_cast<uint32_t>(product));
}

int ClampToInt(long long v) {
    return static_cast<int>(std::clamp<long long>(v, INT32_MIN, INT32_MAX));
}

// Lines k = 1 .. Round(span / step) - 1; none for a step or span that gives no line.
int LineCount(double span, int step) {
    if (step == 0 || !std::isfinite(span)) return 0;
    const long double ratio = span / static_cast<long double>(step);
    if (!(std::fabs(ratio) < 1e9)) return 0;
    return static_cast<int>(std::max<long long>(RoundExt(ratio) - 1, 0));
}

HorizontalLines MakeScaleLines(int height, int step, double top, double bottom) {
    HorizontalLines lines;
    lines.height = height;
    lines.step = step;
    lines.top = top;
    lines.bottom = bottom;
    if (step != 0 && top != bottom && std::isfinite(top) && std::isfinite(bottom)) {
        lines.kLow = ClampToInt(RoundExt(bottom / static_cast<long double>(step)));
        lines.kHigh = ClampToInt(RoundExt(top / static_cast<long double>(step)));
    }
    return lines;
}

}  // namespace

int VerticalLines::X(int k) const {
    return ClampToInt(RoundExt(Product32(k, width, step) / static_cast<long double>(span)));
}

int VerticalLines::LabelX(int k) const {
    return X(k) - static_cast<int>(RoundExt(LabelLength(Value(k)) / 2.0L * 5));
}

int VerticalLines::NextColumn(int k) const {
    if (k >= count) return count + 1;
    const int x = X(k);
    if (width == 0) return count + 1;  // every line on column 0
    // X only moves right while neither k * width * step nor k * step wraps around 32 bits and
    // the span is positive; then the first line of the next column is found from an estimate.
    const long double perLine = static_cast<long double>(width) * step / span;
    const long double top = (static_cast<long double>(count) + 1) * step;
    const bool monotone = width > 0 && step > 0 && span > 0 && top * width < 2147483648.0L;
    if (!monotone) {
        int j = k + 1;
        while (j <= count && X(j) == x) ++j;
        return j;
    }
    const long double guess = std::min<long double>((x + 0.5L) / perLine, count + 1.0L);
    int j = static_cast<int>(std::clamp<long double>(std::floor(guess) - 1, k + 1, count + 1));
    while (j > k + 1 && X(j - 1) != x) --j;
    while (j <= count && X(j) == x) ++j;
    return j;
}

int VerticalLines::LastOfLabelLength(int k, int last) const {
    // Lengths never fall as the values grow: the run ends where a binary search finds it.
    const int length = LabelLength(Value(k));
    int lo = k, hi = last;
    while (lo < hi) {
        const int mid = lo + (hi - lo + 1) / 2;
        if (LabelLength(Value(mid)) == length)
            lo = mid;
        else
            hi = mid - 1;
    }
    return lo;
}

VerticalGrid VerticalGridLines(int width, int fine, int coarse, double span) {
    VerticalGrid grid;
    grid.fine = {width, fine, span, LineCount(span, fine)};
    grid.coarse = {width, coarse, span, LineCount(span, coarse)};
    return grid;
}

int HorizontalLines::Y(int k) const {
    const long double range = top - bottom;
    const long double frequency = static_cast<long double>(Product32(k, step, 1)) - bottom;
    return ClampToInt(RoundExt((1 - frequency / range) * height));
}

FreqScale FreqScaleLines(int width, int height, int fine, int coarse, double top, double bottom) {
    FreqScale scale;
    scale.width = width;
    scale.dotted = MakeScaleLines(height, fine, top, bottom);
    scale.dotted.labelled = static_cast<long long>(scale.dotted.kHigh) - scale.dotted.kLow < 10;
    scale.solid = MakeScaleLines(height, coarse, top, bottom);
    scale.solid.labelled = true;
    return scale;
}

int LabelLength(int value) {
    int length = value < 0 ? 2 : 1;
    for (long long v = std::llabs(value); v >= 10; v /= 10) ++length;
    return length;
}

int VoiceprintRow(uint32_t bin, int spanBins, int height) {
    if (spanBins <= 0) return -1;
    const uint32_t doubled = 2u * bin;
    const long double y = (1 - doubled / static_cast<long double>(spanBins)) * height;
    return static_cast<int>(std::clamp<long double>(std::nearbyint(y), -1, height));
}

int ColourBarX(int level, int width) {
    return static_cast<int>(
        RoundExt(static_cast<long double>(static_cast<long long>(level) * width) / 255));
}

bool WindowFits(uint32_t dataSize, uint32_t offset, uint32_t align, uint32_t frames) {
    return uint64_t{dataSize} >= uint64_t{offset} + uint64_t{align} * frames;
}

uint32_t LastWindowStart(uint32_t dataSize, uint32_t align, uint32_t frames) {
    const uint64_t windowBytes = uint64_t{align} * frames;
    const uint32_t last =
        dataSize >= windowBytes ? static_cast<uint32_t>(dataSize - windowBytes) : 0;
    return align > 0 ? last - last % align : last;
}

double SpectrumUnitScale(int bitsPerSample) {
    return bitsPerSample == 8 ? -1.0 : bitsPerSample == 16 ? -1.0 / 255 : 0.0;
}

std::string ClickTimeText(double ms) {
    // Rounding to 5 digits and then to 3 decimals would round twice (1.02253 -> 1.0225 ->
    // 1.022): the place of the one rounding is the coarser of the two.
    int before = 0;
    for (double whole = std::floor(std::fabs(ms)); whole >= 1 && before < 400; whole /= 10)
        ++before;
    const int decimals = std::min(3, 5 - before);
    char text[400];
    if (decimals >= 0) {
        std::snprintf(text, sizeof text, "%.*f", decimals, ms);
    } else {
        const double unit = std::pow(10.0, -decimals);
        std::snprintf(text, sizeof text, "%.0f", std::nearbyint(ms / unit) * unit);
    }
    std::string out = text;
    const size_t point = out.find('.');
    const size_t have = point == std::string::npos ? 0 : out.size() - point - 1;
    if (point == std::string::npos) out += '.';
    out.append(3 - have, '0');
    return out;
}

}  // namespace sonabi

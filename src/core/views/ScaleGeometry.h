// Where the views' grid lines, scale lines, voiceprint marks and colour bar columns fall, so that
// the drawing code only paints. Pixel coordinates are relative to the box, y growing downward;
// every coordinate from a real number is rounded half to even. Nothing here allocates: the line
// sets compute each line on request.
#pragma once
#include <cstdint>
#include <string>

namespace sonabi {

// The spectrum view's vertical scale, pixels per unit of magnitude and gain step (negative: up):
// -1 for 8-bit samples, -1/255 for 16-bit ones, 0 for widths that have no scale.
double SpectrumUnitScale(int bitsPerSample);

// Where the analysis window may stand in a held sound of dataSize bytes, for a window of `frames`
// frames of `align` bytes each (nBlockAlign).
// True when the window starting at byte `offset` lies wholly inside the data.
bool WindowFits(uint32_t dataSize, uint32_t offset, uint32_t align, uint32_t frames);
// The start of the last whole window, on a frame boundary also when the last frame is cut short
// (an odd-length data chunk); 0 when not even one window fits.
uint32_t LastWindowStart(uint32_t dataSize, uint32_t align, uint32_t frames);

// Full-height vertical lines at the multiples k * step (k = 1 .. count) strictly inside a span
// (milliseconds for the time grid, Hz for the frequency grid) across a box W pixels wide.
struct VerticalLines {
    int width = 0;      // W of the box
    int step = 1;       // grid step, in the unit of span
    double span = 1.0;  // what the box's width stands for
    int count = 0;      // Round(span / step) - 1, at least 0

    int X(int k) const;  // Round((k * W * step) / span), k * W * step a 32-bit product
    int Value(int k) const { return k * step; }  // the label's number
    int LabelX(int k) const;                     // label's left edge: X(k) - Round(digits / 2 * 5)
    // The first line after k (k = 1 .. count) that lies in another pixel column, or count + 1.
    // A span of thousands of steps puts many lines on one column; this skips them in a few
    // evaluations of X, so drawing costs the box's width rather than the line count.
    int NextColumn(int k) const;
    // The last line of k .. last whose label has as many characters as line k's.
    int LastOfLabelLength(int k, int last) const;
};

// `DrawVerticalGrid`: dotted lines every fine step (no labels) and solid lines every coarse step,
// labelled with their value; a label's top edge is at y = 0.
struct VerticalGrid {
    VerticalLines fine;
    VerticalLines coarse;
};
VerticalGrid VerticalGridLines(int width, int fine, int coarse, double span);

// Horizontal full-width lines of a frequency scale at k * step for k = kLow + 1 .. kHigh - 1,
// with bottom at the foot of the box and top at its head.
struct HorizontalLines {
    int height = 0;       // H of the box
    int step = 1;         // Hz
    double top = 1.0;     // Hz at y = 0
    double bottom = 0.0;  // Hz at y = H
    int kLow = 0;         // Round(bottom / step)
    int kHigh = 0;        // Round(top / step)
    bool labelled = false;

    int First() const { return kLow + 1; }
    int Last() const { return kHigh - 1; }
    int Y(int k) const;  // Round((1 - (k * step - bottom) / (top - bottom)) * H)
    int Value(int k) const { return k * step; }
    static constexpr int kLabelX = 1;             // label's left edge
    int LabelY(int k) const { return Y(k) - 5; }  // label's top edge
};

// `DrawFreqScale`: dotted lines every fine step, labelled only when there are fewer than 10
// steps in the range, and solid lines every coarse step, always labelled; lines run from x = 0 to
// x = width.
struct FreqScale {
    int width = 0;
    HorizontalLines dotted;
    HorizontalLines solid;
};
FreqScale FreqScaleLines(int width, int height, int fine, int coarse, double top, double bottom);

// Number of characters of a label's decimal text.
int LabelLength(int value);

// Row of a voiceprint mark for FFT bin `bin` when spanBins bins cover twice the frequency span:
// Round((1 - (2 * bin) / spanBins) * H), 2 * bin an unsigned 32-bit product. Bin 0 lies at H,
// just below the box; rows outside the box are limited to -1 .. H, equally invisible. spanBins <= 0
// gives -1.
int VoiceprintRow(uint32_t bin, int spanBins, int height);

// Column of level L (0..255) in the colour bar W pixels wide: Round((L * W) / 255), L * W an
// integer product. L 255 falls at x = W, just outside the box.
int ColourBarX(int level, int width);

// The waveform's click label for a time of ms (0 or more) milliseconds: rounded once to at most
// 5 significant digits and at most 3 decimals, written with exactly 3 decimals ("1.023" for
// 1.02253, "123.460" for 123.4567, "140.920" for 140.917).
std::string ClickTimeText(double ms);

}  // namespace sonabi

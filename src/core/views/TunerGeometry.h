// Where the tuner draws, for a view of any size: the cents scale from -50 to +50 across the
// middle, its in-tune band and the needle. Pixels count from the view's top left corner.
#pragma once
#include <algorithm>
#include <cmath>

namespace sonabi {

constexpr int kTunerRangeCents = 50;  // the scale runs from -50 to +50 cents
constexpr int kInTuneBandCents = 5;   // the band around 0 that counts as in tune
constexpr int kTunerMinWidth = 200, kTunerMinHeight = 150;  // pixels

struct TunerLayout {
    int scaleLeft = 0, scaleRight = 0;  // x of -50 and of +50 cents (scaleRight > scaleLeft)
    int scaleTop = 0, scaleBottom = 0;  // y of the needle's ends
    int noteTop = 0, noteHeight = 0;    // the band of rows the note name is drawn in
    int textTop = 0, textHeight = 0;    // the rows of the pitch and reference line
};

inline TunerLayout TunerLayoutFor(int width, int height) {
    width = std::max(width, kTunerMinWidth);
    height = std::max(height, kTunerMinHeight);
    TunerLayout l;
    const int margin = std::max(16, width / 12);
    l.scaleLeft = margin;
    l.scaleRight = width - 1 - margin;
    l.noteTop = height / 20;
    l.noteHeight = height * 2 / 5;
    l.scaleTop = l.noteTop + l.noteHeight + height / 20;
    l.scaleBottom = l.scaleTop + height / 4;
    l.textTop = l.scaleBottom + height / 20;
    l.textHeight = height - l.textTop - height / 40;
    return l;
}

// x of a cents value on the scale; beyond +-50 the needle stays at the end it passed.
inline int CentsX(const TunerLayout& l, double cents) {
    const double c = std::clamp(cents, double(-kTunerRangeCents), double(kTunerRangeCents));
    const double unit = (l.scaleRight - l.scaleLeft) / (2.0 * kTunerRangeCents);
    return l.scaleLeft + static_cast<int>(std::lround((c + kTunerRangeCents) * unit));
}

}  // namespace sonabi

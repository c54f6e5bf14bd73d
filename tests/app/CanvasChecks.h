// Looking at the pixels of a paint box: rows and columns of one colour, colours present in a
// region, and text compared with the same text drawn on a fresh canvas.
#pragma once
#include <gtest/gtest.h>

#include <QString>
#include <set>

#include "toolkit/Canvas.h"
#include "toolkit/Controls.h"

namespace canvas {

// The colours found in columns x0..x1 and rows y0..y1 (inclusive, clipped to the box).
inline std::set<QRgb> ColoursIn(PaintBox* box, int x0, int y0, int x1, int y1) {
    const TCanvas& c = box->Canvas();
    std::set<QRgb> found;
    for (int y = std::max(y0, 0); y <= std::min(y1, c.Height() - 1); ++y)
        for (int x = std::max(x0, 0); x <= std::min(x1, c.Width() - 1); ++x)
            found.insert(c.Pixel(x, y));
    return found;
}

inline bool Contains(const std::set<QRgb>& colours, QRgb colour) {
    return colours.count(colour) > 0;
}

// Number of pixels of the given colour in column x, rows y0..y1.
inline int CountInColumn(PaintBox* box, int x, int y0, int y1, QRgb colour) {
    int n = 0;
    for (int y = y0; y <= y1; ++y) n += box->Canvas().Pixel(x, y) == colour;
    return n;
}

inline int CountInRow(PaintBox* box, int y, int x0, int x1, QRgb colour) {
    int n = 0;
    for (int x = x0; x <= x1; ++x) n += box->Canvas().Pixel(x, y) == colour;
    return n;
}

// Expects text written at (x, y) in fontColour on brush, exactly as a fresh canvas of the box's
// size and font draws it: the text's box matches pixel for pixel, and the text is not empty.
inline void ExpectTextAt(PaintBox* box, int x, int y, const QString& text, QRgb fontColour,
                         QRgb brush) {
    const TCanvas& shown = box->Canvas();
    TCanvas reference(shown.Width(), shown.Height());
    reference.Font = shown.Font;
    const QRgb unused = 0x123456;  // marks what the text leaves alone
    reference.BrushColor = unused;
    reference.FillRect(0, 0, shown.Width(), shown.Height());
    reference.BrushColor = brush;
    reference.FontColor = fontColour;
    reference.TextOut(x, y, text);
    int textPixels = 0, compared = 0;
    for (int py = 0; py < shown.Height(); ++py)
        for (int px = 0; px < shown.Width(); ++px) {
            const QRgb want = reference.Pixel(px, py);
            if (want == unused) continue;
            ++compared;
            textPixels += want == fontColour;
            ASSERT_EQ(shown.Pixel(px, py), want)
                << "\"" << text.toStdString() << "\" at " << px << "," << py;
        }
    EXPECT_GT(compared, 0) << text.toStdString();
    EXPECT_GT(textPixels, 0) << text.toStdString();
}

}  // namespace canvas

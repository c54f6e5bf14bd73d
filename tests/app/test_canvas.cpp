// The canvas the views draw on, checked against the plain rules it shortens.
//
// Random 8-bit noise at the highest wave gain draws 2048 lines thousands of pixels long, nearly
// all of them outside the view; walking them pixel by pixel made every refresh slow (the window
// fuzzer found it). A line now stops once it has left the image for good, and a steep one skips
// the rows above or below it: the pixels must be those of the plain walk.
//
// Shaping the grid's and scales' labels anew on every refresh was most of its cost; a canvas now
// keeps each label's pixels and copies them: the copies must be what drawing the text gives.
#include <QPainter>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "FormFixture.h"

namespace {

// The pixels the plain walk colours for a line from (x0, y0) to (x1, y1) on a w x h image.
std::vector<bool> WalkLine(int w, int h, int x0, int y0, int x1, int y1, bool dotted) {
    std::vector<bool> lit(size_t(w) * h);
    const int dx = std::abs(x1 - x0), sx = x0 < x1 ? 1 : -1;
    const int dy = -std::abs(y1 - y0), sy = y0 < y1 ? 1 : -1;
    int err = dx + dy;
    for (bool on = true; !(x0 == x1 && y0 == y1); on = !on) {
        if ((!dotted || on) && x0 >= 0 && y0 >= 0 && x0 < w && y0 < h)
            lit[size_t(y0) * w + x0] = true;
        const int e2 = 2 * err;
        if (e2 >= dy) err += dy, x0 += sx;
        if (e2 <= dx) err += dx, y0 += sy;
    }
    return lit;
}

}  // namespace

TEST(CanvasLines, ShortenedWalkColoursWhatThePlainWalkColours) {
    std::srand(7);
    int mismatches = 0;
    for (int i = 0; i < 20000; ++i) {
        const int x0 = std::rand() % 121 - 40, y0 = std::rand() % 601 - 300;
        // Every fourth line is vertical and every fourth horizontal: grid lines and flat runs.
        const int x1 = i % 4 == 2 ? x0 : std::rand() % 121 - 40;
        const int y1 = i % 4 == 3 ? y0 : std::rand() % 601 - 300;
        const bool dotted = i % 8 < 4;
        TCanvas c(41, 23);
        c.PenColor = 0xFFFFFF;
        c.Style = dotted ? PenStyle::psDot : PenStyle::psSolid;
        c.MoveTo(x0, y0);
        c.LineTo(x1, y1);
        const std::vector<bool> lit = WalkLine(41, 23, x0, y0, x1, y1, dotted);
        for (int y = 0; y < 23; ++y)
            for (int x = 0; x < 41; ++x)
                mismatches += (c.Pixel(x, y) != 0) != lit[size_t(y) * 41 + x];
    }
    EXPECT_EQ(mismatches, 0);
}

TEST(CanvasLines, PolylineColoursWhatItsLinesColour) {
    std::srand(5);
    int mismatches = 0;
    for (int i = 0; i < 4000; ++i) {
        // Half of them as a waveform draws: x rising by 0 or 1 a point, rows far past the edges;
        // the others anywhere, any direction. Every fourth is dotted.
        std::vector<sonabi::Point> points(1 + std::rand() % 40);
        int x = std::rand() % 61 - 10;
        for (sonabi::Point& p : points) {
            if (i % 2 == 0)
                x += std::rand() % 3 == 0;
            else
                x = std::rand() % 81 - 20;
            p = {x, std::rand() % (i % 3 == 0 ? 2001 : 61) - (i % 3 == 0 ? 1000 : 20)};
        }
        TCanvas merged(41, 23), lines(41, 23);
        for (TCanvas* c : {&merged, &lines}) {
            c->PenColor = 0x00FF00;
            c->Style = i % 4 == 3 ? PenStyle::psDot : PenStyle::psSolid;
        }
        merged.Polyline(points.data(), int(points.size()));
        lines.MoveTo(points[0].x, points[0].y);
        for (const sonabi::Point& p : points) lines.LineTo(p.x, p.y);
        mismatches += merged.Image() != lines.Image();
        // The pen ends where the lines end.
        merged.LineTo(0, 0), lines.LineTo(0, 0);
        mismatches += merged.Image() != lines.Image();
    }
    EXPECT_EQ(mismatches, 0);
}

TEST(CanvasLines, RectanglesColourTheirOutlineAndInsideClipped) {
    std::srand(11);
    int mismatches = 0;
    for (int i = 0; i < 3000; ++i) {
        const int x1 = std::rand() % 61 - 10, x2 = std::rand() % 61 - 10;
        const int y1 = std::rand() % 45 - 10, y2 = std::rand() % 45 - 10;
        TCanvas c(41, 23);
        c.PenColor = 0x0000FF, c.BrushColor = 0x00FF00;
        c.Style = i % 2 ? PenStyle::psDot : PenStyle::psSolid;  // outlines are solid either way
        const bool outlined = i % 3 != 0;
        outlined ? c.Rectangle(x1, y1, x2, y2) : c.FillRect(x1, y1, x2, y2);
        const int l = std::min(x1, x2), r = std::max(x1, x2);
        const int t = std::min(y1, y2), b = std::max(y1, y2);
        const bool drawn = !outlined || (r - l >= 1 && b - t >= 1);
        for (int y = 0; y < 23; ++y)
            for (int x = 0; x < 41; ++x) {
                QRgb want = 0;
                if (drawn && x >= l && x < r && y >= t && y < b)
                    want = outlined && (x == l || x == r - 1 || y == t || y == b - 1) ? 0x0000FF
                                                                                      : 0x00FF00;
                mismatches += c.Pixel(x, y) != want;
            }
    }
    EXPECT_EQ(mismatches, 0);
}

namespace {

// The window's own font, which the labels use.
class CanvasText : public FormTest {};

}  // namespace

TEST_F(CanvasText, KeptLabelsCopyWhatDrawingTheTextGives) {
    TCanvas c(120, 40);
    c.Font = form->PaintBoxGra->Canvas().Font;
    QImage direct(120, 40, QImage::Format_RGB32);
    int mismatches = 0;
    // Numbers are drawn a character at a time (where the font allows it), other text whole.
    QStringList texts{"5", "2047995", "-20", "23.22", "0.5", "Wj", "%"};
    for (int v = 10; v < 3000; v += 37) texts << QString::number(v);
    for (const QString& text : texts) {
        for (const QPoint at : {QPoint(3, 2), QPoint(-7, 30), QPoint(110, -9), QPoint(60, 12)}) {
            for (const QRgb brush : {0xFFFFFFu, 0x000000u}) {
                c.Restart();
                c.BrushColor = 0x204060;  // a ground the text's box and glyphs must show against
                c.FillRect(0, 0, 120, 40);
                direct.fill(QColor::fromRgb(0x204060));
                c.FontColor = 0xFF0000, c.BrushColor = brush;
                c.TextOut(at.x(), at.y(), text);
                c.TextOut(at.x(), at.y(), text);  // the second copy comes from the kept pixels
                QFont font = c.Font;
                font.setStyleStrategy(QFont::NoAntialias);
                const QFontMetrics metrics(font);
                QPainter painter(&direct);
                painter.setFont(font);
                painter.fillRect(
                    QRect(at.x(), at.y(), metrics.horizontalAdvance(text), metrics.height()),
                    QColor::fromRgb(brush));
                painter.setPen(QColor::fromRgb(0xFF0000));
                painter.drawText(at.x(), at.y() + metrics.ascent(), text);
                painter.end();
                for (int y = 0; y < 40; ++y)
                    for (int x = 0; x < 120; ++x)
                        mismatches += c.Pixel(x, y) != (direct.pixel(x, y) & 0xFFFFFF);
            }
        }
    }
    EXPECT_EQ(mismatches, 0);
}

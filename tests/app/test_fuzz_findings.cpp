// What the window fuzzer (tests/fuzz/fuzz_file_path.cpp) found, kept as regression tests.
//
// A file of one frame per second made the time grid span 2048 s with a line every 5 ms and a
// label every 10 ms: 600000 lines and 200000 labels per refresh, so opening it froze the window
// for minutes (777 s in the fuzzer). The grid now leaves out lines and labels that would be
// drawn again on the same pixels; the picture is the same pixel for pixel.
//
// Random 8-bit noise at the highest wave gain draws 2048 lines thousands of pixels long, nearly
// all of them outside the view; walking them pixel by pixel made every refresh slow. A line now
// stops once it has left the image for good, and a steep one skips the rows above or below it.
//
// Shaping the grid's and scales' labels anew on every refresh was most of its cost; a canvas now
// keeps each label's pixels and copies them.
//
// A data chunk of an odd length (8-bit stereo, 8995 bytes) scrolled to its end and then given
// the longer window put the window at byte 4899, between two frames: the channels swapped in
// the views and a 16-bit sound played from there as loud noise. The last window now starts on a
// frame boundary wherever it is computed.
#include <QElapsedTimer>
#include <QPainter>
#include <QTemporaryDir>
#include <cmath>
#include <cstring>
#include <functional>

#include "FormFixture.h"
#include "views/Colours.h"
#include "views/ScaleGeometry.h"
#include "wavfile/WavFile.h"

using namespace sonabi;

namespace {

// The grid as the line-by-line rule draws it: every line and every label, in order.
void DrawGridLineByLine(TCanvas& c, int fine, int coarse, double span) {
    const VerticalGrid grid = VerticalGridLines(c.Width(), fine, coarse, span);
    c.PenColor = kGridGreen;
    c.Style = PenStyle::psDot;
    for (int k = 1; k <= grid.fine.count; ++k) {
        c.MoveTo(grid.fine.X(k), 0);
        c.LineTo(grid.fine.X(k), c.Height());
    }
    c.Style = PenStyle::psSolid;
    c.FontColor = kRed;
    for (int k = 1; k <= grid.coarse.count; ++k) {
        c.MoveTo(grid.coarse.X(k), 0);
        c.LineTo(grid.coarse.X(k), c.Height());
        c.TextOut(grid.coarse.LabelX(k), 0, QString::number(grid.coarse.Value(k)));
    }
}

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

class FuzzFindings : public FormTest {};

TEST_F(FuzzFindings, CrowdedTimeGridIsPixelForPixelTheLineByLineGrid) {
    TCanvas& box = form->PaintBoxGra->Canvas();
    // Spans from a few lines per column up to labels crossing 10, 100, 1000 and 10000.
    const struct {
        int fine, coarse;
        double span;
    } grids[] = {{5, 10, 1000.0}, {5, 10, 20480.0}, {5, 10, 40960.0},
                 {1, 2, 20480.0}, {2, 5, 9999.5},   {100, 500, 2000.0}};
    for (const auto& g : grids) {
        SCOPED_TRACE(std::to_string(g.span) + " / " + std::to_string(g.fine));
        form->ClearPaintBox(form->PaintBoxGra);
        TCanvas reference = box;
        DrawGridLineByLine(reference, g.fine, g.coarse, g.span);
        form->DrawVerticalGrid(form->PaintBoxGra, g.fine, g.coarse, g.span);
        int differing = 0;
        for (int y = 0; y < box.Height(); ++y)
            for (int x = 0; x < box.Width(); ++x)
                differing += box.Pixel(x, y) != reference.Pixel(x, y);
        EXPECT_EQ(differing, 0);
    }
}

TEST_F(FuzzFindings, SoundOfOneFramePerSecondOpensAndScrollsWithoutFreezing) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const WAVEFORMATEX f = MakePcmFormat(1, 16, 1);
    std::vector<uint8_t> data(8000);
    for (size_t i = 0; i < data.size(); i += 2) {
        const auto s = static_cast<int16_t>(9000 * std::sin(i * 0.3));
        std::memcpy(&data[i], &s, 2);
    }
    const QString path = dir.filePath("slow.wav");
    ASSERT_EQ(WriteWaveFile(path.toStdString(), f, data.data(), 8000), "");
    QElapsedTimer clock;
    clock.start();
    form->OpenPath(path);
    form->PlayScrollBar->triggerAction(QAbstractSlider::SliderToMaximum);
    form->UpDownChoicedata->Click(btNext);
    form->UpDownChoicedata->Click(btPrev);
    const qint64 ms = clock.elapsed();
    std::printf("[ measured ] 1 Hz sound: open, scroll and two window changes in %lld ms\n",
                static_cast<long long>(ms));
    EXPECT_EQ(form->WaveDataSize, 8000u);
    EXPECT_EQ(form->WaveFormat.nSamplesPerSec, 1u);
    // Five full refreshes; each drew hundreds of thousands of grid lines before.
    EXPECT_LT(ms, 10000);
    // The 2048 s window is one wall of grid lines: every column of the top row holds grid or
    // label colour, none is left black.
    int black = 0;
    for (int x = 1; x < form->PaintBoxGra->Canvas().Width() - 1; ++x)
        black += form->PaintBoxGra->Canvas().Pixel(x, 100) == 0;
    EXPECT_LT(black, 5);
}

TEST_F(FuzzFindings, KeptGridsAndShownWaveformFollowEveryChangeOfFormatWindowAndSpan) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    // A crowded grid (300 frames a second) and an ordinary one, in other channels and widths.
    const struct {
        uint16_t channels, bits;
        uint32_t rate;
    } sounds[] = {{1, 16, 300}, {2, 8, 22050}};
    std::vector<QString> paths;
    for (const auto& s : sounds) {
        std::vector<uint8_t> data(40000);
        for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7 % 251);
        paths.push_back(dir.filePath(QString::number(s.rate) + ".wav"));
        ASSERT_EQ(
            WriteWaveFile(paths.back().toStdString(), MakePcmFormat(s.channels, s.bits, s.rate),
                          data.data(), uint32_t(data.size())),
            "");
    }
    // Steps that come back to a window length, a span or a waveform shown before, that change
    // nothing on the waveform, or that draw over it.
    const std::function<void()> steps[] = {
        [&] { form->OpenPath(paths[0]); },
        [&] { form->PlayScrollBar->triggerAction(QAbstractSlider::SliderToMaximum); },
        [&] { form->PlayScrollBar->triggerAction(QAbstractSlider::SliderToMaximum); },
        [&] { form->UpDownChoicedata->Click(btNext); },
        [&] { form->UpDownfftscale->Click(btNext); },
        [&] { form->UpDownChoicedata->Click(btPrev); },
        [&] { form->UpDownChoicedata->Click(btNext); },
        [&] { form->UpDownfftscale->Click(btPrev); },
        [&] { form->ScrollBarFftTimesScroll(30); },
        [&] { form->PaintBoxGraMouseDown(Qt::LeftButton, Qt::NoModifier, 200, 5); },
        [&] { form->FullRefresh(); },
        [&] { form->OpenPath(paths[1]); },
        [&] { form->UpDownChoicedata->Click(btPrev); },
        [&] { form->UpDownfftscale->Click(btPrev); },
        [&] { form->OpenPath(paths[0]); },
        [&] { form->ScrollBarWaveTimesScroll(3); },
    };
    for (size_t i = 0; i < std::size(steps); ++i) {
        SCOPED_TRACE("step " + std::to_string(i));
        const uint64_t drawn = form->PaintBoxGra->Canvas().Changes();
        steps[i]();
        // A step that leaves the waveform's lines and grid as they were draws nothing there.
        if (i == 2 || i == 7 || i == 8) EXPECT_EQ(form->PaintBoxGra->Canvas().Changes(), drawn);
        const QImage wave = form->PaintBoxGra->Canvas().Image().copy();
        const QImage spectrum = form->PaintBoxFft->Canvas().Image().copy();
        if (i == 9) continue;  // the click's time read-out is on the view until the next refresh
        // Drawn again with nothing kept and nothing known of what the view shows, the views
        // come out the same.
        form->TimeGridKept = form->FreqGridKept = {};
        form->WaveShown.lines = -1;
        form->FullRefresh();
        EXPECT_TRUE(form->PaintBoxGra->Canvas().Image() == wave);
        EXPECT_TRUE(form->PaintBoxFft->Canvas().Image() == spectrum);
    }
}

TEST_F(FuzzFindings, OddLengthSoundNeverPutsTheWindowOrThePlaybackBetweenFrames) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    struct Case {
        uint16_t channels, bits;
        uint32_t bytes;
    } cases[] = {{2, 8, 8995}, {1, 16, 5001}, {2, 16, 9003}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.channels) + " x " + std::to_string(c.bits));
        const WAVEFORMATEX f = MakePcmFormat(c.channels, c.bits, 22050);
        std::vector<uint8_t> data(c.bytes, 0x40);
        const QString path = dir.filePath("odd.wav");
        ASSERT_EQ(WriteWaveFile(path.toStdString(), f, data.data(), c.bytes), "");
        form->OpenPath(path);
        ASSERT_EQ(form->WaveDataSize, c.bytes);
        const uint32_t align = f.nBlockAlign;
        // The shorter window, its end, then the longer window again: the fuzzer's steps.
        form->UpDownChoicedata->Click(btNext);
        form->PlayScrollBar->triggerAction(QAbstractSlider::SliderToMaximum);
        EXPECT_EQ(form->ViewOffset % align, 0u);
        form->UpDownChoicedata->Click(btPrev);
        EXPECT_EQ(form->ViewOffset % align, 0u) << form->ViewOffset;
        EXPECT_LE(form->ViewOffset + align * form->FftSize, c.bytes);
        // Played from there to the end: the block starts on a frame and the window stays on one.
        form->PlayButtonClick();
        ASSERT_TRUE(form->Playing);
        EXPECT_EQ(
            (reinterpret_cast<uint8_t*>(audio->OutputBlock()->lpData) - form->WaveData) % align, 0);
        audio->FinishOutput();
        Pump();
        EXPECT_FALSE(form->Playing);
        EXPECT_EQ(form->ViewOffset % align, 0u) << form->ViewOffset;
    }
}

}  // namespace

TEST_F(FuzzFindings, KeptLabelsCopyWhatDrawingTheTextGives) {
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

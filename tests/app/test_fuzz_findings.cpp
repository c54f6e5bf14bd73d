// What the window fuzzer (tests/fuzz/fuzz_file_path.cpp) found, kept as regression tests.
//
// A file of one frame per second made the time grid span 2048 s with a line every 5 ms and a
// label every 10 ms: 600000 lines and 200000 labels per refresh, so opening it froze the window
// for minutes (777 s in the fuzzer). The grid now leaves out lines and labels that would be
// drawn again on the same pixels; the picture is the same pixel for pixel.
//
// A data chunk of an odd length (8-bit stereo, 8995 bytes) scrolled to its end and then given
// the longer window put the window at byte 4899, between two frames: the channels swapped in
// the views and a 16-bit sound played from there as loud noise. The last window now starts on a
// frame boundary wherever it is computed.
#include <QElapsedTimer>
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

}  // namespace

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

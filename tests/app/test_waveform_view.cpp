// The waveform view: the millisecond grid, the lines of 8- and 16-bit mono and stereo windows,
// the clipping test at the start of a window, the gain scroll bar and the time of a left click.
#include <QTest>
#include <vector>

#include "CanvasChecks.h"
#include "FormFixture.h"
#include "SoundHelpers.h"
#include "views/Colours.h"
#include "views/ScaleGeometry.h"

using namespace sonabi;

namespace {

using canvas::ColoursIn;
using canvas::Contains;
using canvas::CountInColumn;
using canvas::CountInRow;

constexpr int kW = 545, kH = 171;

class WaveViewTest : public FormTest {
  protected:
    PaintBox* Box() { return form->PaintBoxGra; }
    // Holds a 2048-frame sound and shows its first window of `frames` frames.
    void Show(const std::vector<uint8_t>& bytes, const WAVEFORMATEX& format, uint32_t frames) {
        sound::HoldSound(*form, bytes, format);
        form->FftSize = frames;
        form->LevelOk = true;
        form->PaintBoxGraPaint();
    }
    void ShowMono16(uint32_t frames, const std::function<int(uint32_t)>& value) {
        Show(sound::Mono16(2048, value), MakePcmFormat(1, 16), frames);
    }
    // Everything in the box except the given rows is grid or background.
    bool RedOnlyIn(int x0, int x1) {
        return !Contains(ColoursIn(Box(), 0, 0, x0 - 1, kH - 1), kRed) &&
               !Contains(ColoursIn(Box(), x1 + 1, 0, kW - 1, kH - 1), kRed);
    }
};

// ---------------------------------------------------------------------------------------------
// Grid

TEST_F(WaveViewTest, GridOf2048FramesHasDottedLinesEvery5MsAndLabelledOnesEvery10) {
    // 46.44 ms: dotted at 5 .. 40 ms, solid at 10 .. 40 ms, nothing at 45 ms.
    const int dottedOnly[] = {59, 176, 293, 411};
    const int solid[] = {117, 235, 352, 469};
    const char* labels[] = {"10", "20", "30", "40"};
    ASSERT_EQ(form->FftSize, 2048u);
    ASSERT_EQ(form->TimeGridFineMs, 5);
    form->PaintBoxGraPaint();

    for (int x : dottedOnly) {
        // Dots and gaps all the way down, only the silence line crossing it.
        EXPECT_GT(CountInColumn(Box(), x, 0, kH - 1, kGridGreen), 60) << x;
        EXPECT_GT(CountInColumn(Box(), x, 0, kH - 1, kBlack), 60) << x;
        EXPECT_EQ(ColoursIn(Box(), x, 0, x, kH - 1), (std::set<QRgb>{kGridGreen, kBlack, kRed}))
            << x;
        EXPECT_EQ(ColoursIn(Box(), x - 1, 20, x - 1, 80), std::set<QRgb>{kBlack}) << x;
        EXPECT_EQ(ColoursIn(Box(), x + 1, 20, x + 1, 80), std::set<QRgb>{kBlack}) << x;
    }
    for (int i = 0; i < 4; ++i) {
        const int x = solid[i];
        // Solid below its label (the label box is 12 pixels high), the silence line at 86.
        EXPECT_EQ(CountInColumn(Box(), x, 14, kH - 1, kGridGreen), kH - 14 - 1) << x;
        EXPECT_EQ(Pixel(Box(), x, 86), kRed);
        canvas::ExpectTextAt(Box(), x - 5, 0, labels[i], kRed, kBlack);
    }
    // No line at 45 ms (x 528) nor anywhere else.
    int greenColumns = 0;
    for (int x = 0; x < kW; ++x)
        greenColumns += CountInColumn(Box(), x, 14, kH - 1, kGridGreen) > 0;
    EXPECT_EQ(greenColumns, 8);
    EXPECT_EQ(CountInColumn(Box(), 528, 0, kH - 1, kGridGreen), 0);
}

TEST_F(WaveViewTest, GridOf256FramesHasFineMillisecondLinesAndNoSolidOne) {
    form->TimeGridFineMs = 1;
    ShowMono16(256, [](uint32_t) { return 0; });
    // 5.8 ms: dotted at 1 .. 5 ms; Round(0.58) - 1 = 0 solid lines, no label.
    const int dotted[] = {94, 188, 282, 376, 469};
    int greenColumns = 0;
    for (int x = 0; x < kW; ++x) {
        const int green = CountInColumn(Box(), x, 0, kH - 1, kGridGreen);
        greenColumns += green > 0;
        EXPECT_LT(green, kH - 20) << "solid at " << x;
    }
    EXPECT_EQ(greenColumns, 5);
    for (int x : dotted) EXPECT_GT(CountInColumn(Box(), x, 0, kH - 1, kGridGreen), 60) << x;
    // Red only on the silence line: no label.
    EXPECT_EQ(ColoursIn(Box(), 0, 0, kW - 1, 85), (std::set<QRgb>{kGridGreen, kBlack}));
}

// ---------------------------------------------------------------------------------------------
// Lines

TEST_F(WaveViewTest, SilenceIsARedLineOnRow86) {
    form->PaintBoxGraPaint();
    EXPECT_EQ(CountInRow(Box(), 86, 0, kW - 1, kRed), kW);  // Round(85.5) = 86
    EXPECT_EQ(CountInRow(Box(), 85, 0, kW - 1, kRed), 0);
    EXPECT_EQ(CountInRow(Box(), 87, 0, kW - 1, kRed), 0);
}

TEST_F(WaveViewTest, StereoSixteenBitSilenceIsRedOn57AndBlueOn114) {
    Show(sound::Pcm16(2048, 2, [](uint32_t, int) { return 0; }), MakePcmFormat(2, 16), 2048);
    EXPECT_EQ(CountInRow(Box(), 57, 0, kW - 1, kRed), kW);
    EXPECT_EQ(CountInRow(Box(), 114, 0, kW - 1, kBlue), kW);
    EXPECT_FALSE(Contains(ColoursIn(Box(), 0, 14, kW - 1, 56), kRed));  // below the labels
    EXPECT_FALSE(Contains(ColoursIn(Box(), 0, 58, kW - 1, kH - 1), kRed));
    EXPECT_FALSE(Contains(ColoursIn(Box(), 0, 0, kW - 1, 113), kBlue));
    EXPECT_FALSE(Contains(ColoursIn(Box(), 0, 115, kW - 1, kH - 1), kBlue));
}

TEST_F(WaveViewTest, StereoChannelsAreDrawnFromTheirOwnSamples) {
    // Left 1000 (10 rows up at gain 7), right -1000 (10 rows down).
    Show(sound::Pcm16(2048, 2, [](uint32_t, int c) { return c == 0 ? 1000 : -1000; }),
         MakePcmFormat(2, 16), 2048);
    // 57 - 9.13 = 47.87 -> 48; 114 + 9.13 -> 123.
    EXPECT_EQ(CountInRow(Box(), 48, 0, kW - 1, kRed), kW);
    EXPECT_EQ(CountInRow(Box(), 123, 0, kW - 1, kBlue), kW);
}

TEST_F(WaveViewTest, EightBitSamplesAreDrawnAround128) {
    // 138 for the first half of the window, 118 for the second: 10 units at 171 / 512 x 7.
    Show(sound::Pcm8(2048, 1, [](uint32_t t, int) { return t < 1024 ? 138 : 118; }),
         MakePcmFormat(1, 8), 2048);
    EXPECT_EQ(CountInRow(Box(), 62, 0, 271, kRed), 272);             // Round(85.5 - 23.38)
    EXPECT_EQ(CountInRow(Box(), 109, 273, kW - 1, kRed), kW - 273);  // Round(85.5 + 23.38)
    EXPECT_EQ(CountInRow(Box(), 86, 0, kW - 1, kRed), 1);  // the step passes through the centre

    Show(sound::Pcm8(2048, 2, [](uint32_t, int) { return 128; }), MakePcmFormat(2, 8), 2048);
    EXPECT_EQ(CountInRow(Box(), 57, 0, kW - 1, kRed), kW);
    EXPECT_EQ(CountInRow(Box(), 114, 0, kW - 1, kBlue), kW);
    // Eight-bit data are never tested for clipping.
    Show(sound::Pcm8(2048, 1, [](uint32_t t, int) { return t == 5 ? 255 : 128; }),
         MakePcmFormat(1, 8), 256);
    EXPECT_TRUE(form->LevelOk);
    EXPECT_EQ(Pixel(Box(), 300, 86), kRed);
}

// A wider or float copy of a 16-bit window draws the very same pixels, clipping test included.
TEST_F(WaveViewTest, WiderAndFloatSamplesDrawAsTheirSixteenBitOriginal) {
    const auto original = sound::Pcm16(2048, 2, [](uint32_t t, int c) {
        return t == 7 && c == 0 ? 32100 : sound::Sine(c ? 9000 : 20000, 440, t);
    });
    Show(original, MakePcmFormat(2, 16), 2048);
    const QImage expected = Box()->Canvas().Image().copy();
    ASSERT_FALSE(form->LevelOk);
    for (const WAVEFORMATEX& format : {MakePcmFormat(2, 24), MakePcmFormat(2, 32),
                                       MakeFloatFormat(2, 32), MakeFloatFormat(2, 64)}) {
        SCOPED_TRACE(format.wBitsPerSample * (format.wFormatTag == WAVE_FORMAT_PCM ? 1 : -1));
        Show(sound::Widen(original, format), format, 2048);
        EXPECT_TRUE(Box()->Canvas().Image() == expected);
        EXPECT_FALSE(form->LevelOk);
    }
}

TEST_F(WaveViewTest, OtherSampleSizesAndChannelCountsDrawOnlyTheGrid) {
    WAVEFORMATEX float16 = MakeFloatFormat(1, 16);
    for (const WAVEFORMATEX& format :
         {MakePcmFormat(1, 40), MakePcmFormat(3, 16), MakePcmFormat(2, 64), float16}) {
        Show(std::vector<uint8_t>(format.nBlockAlign * 2048u, 0), format, 2048);
        EXPECT_EQ(ColoursIn(Box(), 0, 14, kW - 1, kH - 1), (std::set<QRgb>{kGridGreen, kBlack}))
            << format.nChannels << "x" << format.wBitsPerSample;
    }
}

// ---------------------------------------------------------------------------------------------
// Clipping at the start of a 16-bit window (256 frames: sample i at x = Round(i x 2.129))

TEST_F(WaveViewTest, ClippedSampleStopsTheLineAndClearsLevelOk) {
    ShowMono16(256, [](uint32_t t) { return t == 5 ? 32001 : 0; });
    EXPECT_FALSE(form->LevelOk);
    // Samples 0..4 reach x = 9; the line to sample 5 and everything after it is missing.
    EXPECT_EQ(CountInRow(Box(), 86, 0, 8, kRed), 9);
    EXPECT_TRUE(RedOnlyIn(0, 8));
}

TEST_F(WaveViewTest, SampleOf32000IsNotClipping) {
    ShowMono16(256, [](uint32_t t) { return t == 5 ? 32000 : 0; });
    EXPECT_TRUE(form->LevelOk);
    EXPECT_EQ(Pixel(Box(), 9, 86), kRed);  // the line rises towards sample 5
    EXPECT_EQ(Pixel(Box(), 300, 86), kRed);
}

TEST_F(WaveViewTest, OnlySamples1To19AreTestedForClipping) {
    struct Case {
        uint32_t at;
        int value;
        bool clips;
    };
    for (const Case c : {Case{0, 32767, false}, Case{1, 32001, true}, Case{19, 32001, true},
                         Case{20, 32767, false}, Case{3, -32768, false}}) {
        ShowMono16(256, [&](uint32_t t) { return t == c.at ? c.value : 0; });
        EXPECT_EQ(form->LevelOk, !c.clips) << c.at << " " << c.value;
        EXPECT_EQ(Pixel(Box(), 300, 86) == kRed, !c.clips) << c.at;
    }
    // Sample 19 lies at x 40 and sample 18 at x 38: the line ends there.
    ShowMono16(256, [](uint32_t t) { return t == 19 ? 32001 : 0; });
    EXPECT_EQ(CountInRow(Box(), 86, 0, 37, kRed), 38);
    EXPECT_TRUE(RedOnlyIn(0, 37));
}

TEST_F(WaveViewTest, StereoClippingStopsOnlyTheClippingChannel) {
    Show(sound::Pcm16(2048, 2, [](uint32_t t, int c) { return c == 0 && t == 5 ? 32001 : 0; }),
         MakePcmFormat(2, 16), 256);
    EXPECT_FALSE(form->LevelOk);
    EXPECT_EQ(CountInRow(Box(), 57, 0, kW - 1, kRed), 9);
    EXPECT_EQ(CountInRow(Box(), 114, 0, kW - 1, kBlue), 543);  // up to sample 255 at x 543
    EXPECT_TRUE(RedOnlyIn(0, 8));
}

// ---------------------------------------------------------------------------------------------
// Gain

TEST_F(WaveViewTest, GainScrollBarMapsPositionsToGainsAndRedraws) {
    ShowMono16(2048, [](uint32_t) { return 1000; });
    EXPECT_EQ(form->WaveGain(), 7);
    EXPECT_EQ(CountInRow(Box(), 76, 0, kW - 1, kRed), kW);  // Round(85.5 - 9.13)

    form->ScrollBarWaveTimesScroll(1);
    EXPECT_EQ(form->ScrollBarWaveTimes->Position(), 1u);
    EXPECT_EQ(form->WaveGain(), 10);
    EXPECT_EQ(CountInRow(Box(), 72, 0, kW - 1, kRed), kW);  // Round(85.5 - 13.05)
    EXPECT_EQ(CountInRow(Box(), 76, 0, kW - 1, kRed), 0);

    form->ScrollBarWaveTimesScroll(10);
    EXPECT_EQ(form->WaveGain(), 1);
    EXPECT_EQ(CountInRow(Box(), 84, 0, kW - 1, kRed), kW);  // Round(85.5 - 1.30)
}

TEST_F(WaveViewTest, GainScrollBarArrowRedrawsWithTheNewGain) {
    ShowMono16(2048, [](uint32_t) { return 1000; });
    form->ScrollBarWaveTimes->triggerAction(QAbstractSlider::SliderSingleStepSub);
    EXPECT_EQ(form->ScrollBarWaveTimes->Position(), 3u);
    EXPECT_EQ(form->WaveGain(), 8);
    EXPECT_EQ(CountInRow(Box(), 75, 0, kW - 1, kRed), kW);  // Round(85.5 - 10.44)
}

TEST_F(WaveViewTest, GainChangeWhileBusyWaitsForTheNextRefresh) {
    ShowMono16(2048, [](uint32_t) { return 1000; });
    const QImage before = Box()->Canvas().Image().copy();
    form->Playing = true;
    form->ScrollBarWaveTimesScroll(1);
    form->PaintBoxGraPaint();
    form->Playing = false;
    EXPECT_EQ(form->WaveGain(), 10);
    EXPECT_EQ(Box()->Canvas().Image(), before);
}

// ---------------------------------------------------------------------------------------------
// Time of a click

TEST_F(WaveViewTest, LeftClickWritesTheTimeOfThePoint) {
    form->show();
    Pump();
    QTest::mouseClick(Box(), Qt::LeftButton, {}, QPoint(0, 60));
    canvas::ExpectTextAt(Box(), 1, 0, "0.000", kRed, kBlack);

    // 100 x 46.4399 / 545 = 8.52109 ms.
    QTest::mouseClick(Box(), Qt::LeftButton, {}, QPoint(100, 60));
    canvas::ExpectTextAt(Box(), 101, 0, "8.521", kRed, kBlack);
    EXPECT_EQ(form->ViewOffset, 0u);
}

TEST_F(WaveViewTest, ClickTimeIsRoundedOnceToFiveDigitsAndThreeDecimals) {
    // 2048 frames at 8000 Hz: 256 ms over the box; x 300 is 140.917 ms, shown as 140.920.
    Show(sound::Mono16(2048, [](uint32_t) { return 0; }), MakePcmFormat(1, 16, 8000), 2048);
    form->PaintBoxGraMouseDown(Qt::LeftButton, {}, 300, 20);
    canvas::ExpectTextAt(Box(), 301, 0, "140.920", kRed, kBlack);
    form->PaintBoxGraPaint();
    form->PaintBoxGraMouseDown(Qt::LeftButton, {}, 2, 20);  // 0.939 ms
    canvas::ExpectTextAt(Box(), 3, 0, "0.939", kRed, kBlack);

    // 2048 frames at 44100 Hz: the time is rounded once (1.02253 gives 1.023, not 1.022).
    Show(sound::Mono16(2048, [](uint32_t) { return 0; }), MakePcmFormat(1, 16), 2048);
    const std::pair<int, const char*> clicks[] = {{2, "0.170"},   {12, "1.023"},  {26, "2.215"},
                                                  {64, "5.453"},  {102, "8.692"}, {300, "25.563"},
                                                  {497, "42.350"}};
    for (const auto& [x, text] : clicks) {
        form->PaintBoxGraPaint();
        form->PaintBoxGraMouseDown(Qt::LeftButton, {}, x, 20);
        canvas::ExpectTextAt(Box(), x + 1, 0, text, kRed, kBlack);
    }
    EXPECT_EQ(ClickTimeText(123.4567), "123.460");
    EXPECT_EQ(ClickTimeText(2047999.6), "2048000.000");
}

TEST_F(WaveViewTest, OtherButtonsAndClicksWhileBusyWriteNothing) {
    form->PaintBoxGraPaint();
    const QImage before = Box()->Canvas().Image().copy();
    form->PaintBoxGraMouseDown(Qt::RightButton, {}, 100, 20);
    form->PaintBoxGraMouseDown(Qt::MiddleButton, {}, 100, 20);
    EXPECT_EQ(Box()->Canvas().Image(), before);

    form->Playing = true;
    form->PaintBoxGraMouseDown(Qt::LeftButton, {}, 100, 20);
    form->Playing = false;
    form->Recording = true;
    form->PaintBoxGraMouseDown(Qt::LeftButton, {}, 100, 20);
    form->Recording = false;
    EXPECT_EQ(Box()->Canvas().Image(), before);
}

}  // namespace

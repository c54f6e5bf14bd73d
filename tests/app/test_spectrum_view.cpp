// The spectrum view: the frequency grid, peaks drawn as white lines or filled bars, one or two
// channels, the gain scroll bar, and the Shift-clicks that set the threshold and the low cut-off.
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTest>
#include <QWheelEvent>
#include <vector>

#include "CanvasChecks.h"
#include "FormFixture.h"
#include "SoundHelpers.h"
#include "analysis/Fft.h"
#include "analysis/Spectrum.h"
#include "common/Round.h"
#include "views/Colours.h"

using namespace sonabi;

namespace {

using canvas::ColoursIn;
using canvas::Contains;
using canvas::CountInColumn;
using canvas::CountInRow;

constexpr int kW = 545, kH = 169, kBase = 168;
constexpr double kUnit16 = -1.0 / 255;  // pixels per magnitude unit of 16-bit data, before gain

// The frequency of FFT bin k of a 2048-frame window at 44100 Hz.
double BinHz(int k) { return k * 44100.0 / 2048; }

// The magnitudes the window computes for one channel of the first 2048 frames of bytes.
std::vector<double> Magnitudes(const std::vector<uint8_t>& bytes, int bits, int channels,
                               int channel) {
    const unsigned n = 2048;
    std::vector<double> input(n), magnitudes(n);
    std::vector<Complex> work(n), output(n);
    EXPECT_TRUE(FillWindowedInput(n, bytes.data(), bits, channels, channel, input.data()));
    EXPECT_TRUE(ComputeFft(n, input.data(), work.data(), output.data(), magnitudes.data()));
    return magnitudes;
}

// Row of the top of a peak of level v at gain 66 over the baseline.
int TopRow(double v, int baseline = kBase, int gain = 66) {
    return static_cast<int>(Round(gain * kUnit16 * v + baseline));
}

class SpectrumViewTest : public FormTest {
  protected:
    PaintBox* Box() { return form->PaintBoxFft; }
    // One drawing pass of crafted magnitudes on a cleared box, as the first channel of 16-bit data.
    void Draw(const std::vector<std::pair<int, double>>& peaks, uint32_t frames = 2048) {
        std::fill(std::begin(m), std::end(m), 0.0);
        for (auto [bin, level] : peaks) m[bin] = level;
        form->ClearPaintBox(Box());
        Box()->Canvas().BrushColor = kRed;
        form->DrawSpectrumPeaks(44100, frames, Box(), kBase, kUnit16, m);
    }
    // A bar with columns x..x+3 and rows top..baseline-1: white outline, fill inside.
    void ExpectBar(int x, int top, int baseline, QRgb fill) {
        for (int y = top; y < baseline; ++y) {
            EXPECT_EQ(Pixel(Box(), x, y), kWhite) << x << "," << y;
            EXPECT_EQ(Pixel(Box(), x + 3, y), kWhite) << x + 3 << "," << y;
        }
        for (int cx = x; cx <= x + 3; ++cx) {
            EXPECT_EQ(Pixel(Box(), cx, top), kWhite) << cx << "," << top;
            EXPECT_EQ(Pixel(Box(), cx, baseline - 1), kWhite) << cx << "," << baseline - 1;
            EXPECT_NE(Pixel(Box(), cx, top - 1), kWhite) << "above the bar at " << cx;
            EXPECT_NE(Pixel(Box(), cx, baseline), kWhite) << "on the baseline at " << cx;
        }
        for (int y = top + 1; y < baseline - 1; ++y)
            for (int cx = x + 1; cx <= x + 2; ++cx)
                EXPECT_EQ(Pixel(Box(), cx, y), fill) << cx << "," << y;
        EXPECT_NE(Pixel(Box(), x + 4, (top + baseline) / 2), kWhite);
    }
    // A white line in column x from top down to the row above the baseline, and nothing beside.
    void ExpectLine(int x, int top) {
        EXPECT_EQ(CountInColumn(Box(), x, top, kBase - 1, kWhite), kBase - top) << x;
        EXPECT_NE(Pixel(Box(), x, top - 1), kWhite) << x;
        EXPECT_EQ(Pixel(Box(), x, kBase), kBlack) << x;
        EXPECT_EQ(CountInColumn(Box(), x + 1, 0, kH - 1, kWhite), 0) << x + 1;
    }
    bool AnyWhite() { return Contains(ColoursIn(Box(), 0, 0, kW - 1, kH - 1), kWhite); }

    double m[2048] = {};
};

// ---------------------------------------------------------------------------------------------
// Grid

TEST_F(SpectrumViewTest, FrequencyGridEvery100HzWithLabelledLinesEvery500) {
    form->PaintBoxFftPaint();
    // x = Round(27.25 k), halves to even: 54.5 -> 54, 163.5 -> 164, 381.5 -> 382, 490.5 -> 490.
    const int dottedOnly[] = {27,  54,  82,  109, 164, 191, 218, 245,
                              300, 327, 354, 382, 436, 463, 490, 518};
    for (int x : dottedOnly) {
        EXPECT_EQ(ColoursIn(Box(), x, 0, x, kH - 1), (std::set<QRgb>{kGridGreen, kBlack})) << x;
        EXPECT_GT(CountInColumn(Box(), x, 0, kH - 1, kGridGreen), 60) << x;
        EXPECT_GT(CountInColumn(Box(), x, 0, kH - 1, kBlack), 60) << x;
    }
    const int solid[] = {136, 272, 409};
    const char* labels[] = {"500", "1000", "1500"};
    const int shifts[] = {8, 10, 10};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(CountInColumn(Box(), solid[i], 14, kH - 1, kGridGreen), kH - 14) << solid[i];
        canvas::ExpectTextAt(Box(), solid[i] - shifts[i], 0, labels[i], kRed, kBlack);
    }
    int greenColumns = 0;
    for (int x = 0; x < kW; ++x)
        greenColumns += CountInColumn(Box(), x, 14, kH - 1, kGridGreen) > 0;
    EXPECT_EQ(greenColumns, 19);
    EXPECT_FALSE(AnyWhite());  // silence has no peaks
}

// ---------------------------------------------------------------------------------------------
// Peaks of crafted magnitudes

TEST_F(SpectrumViewTest, PeakOfLevel255Rises66PixelsAsARedBar) {
    Draw({{10, 255.0}});
    // Bin 10 at x = Round(10 x 1090 / 186) = 59; top at 168 - 66 = 102.
    ExpectBar(59, 102, kBase, kRed);
    EXPECT_EQ(form->SpectrumPeakMax, 255.0);
}

TEST_F(SpectrumViewTest, LevelAboveThresholdIsABarAtOrBelowItAWhiteLine) {
    form->PeakThreshold = 100.0;
    Draw({{20, 100.0}});  // x = Round(117.2) = 117, top Round(142.12) = 142
    ExpectLine(117, 142);
    Draw({{20, 100.5}});
    ExpectBar(117, 142, kBase, kRed);

    // The default threshold 5.0 at gain 80, where 5.0 is two rows high.
    form->PeakThreshold = 5.0;
    form->ScrollBarFftTimes->SetPosition(1);
    Draw({{20, 5.0}});
    ExpectLine(117, 166);
    Draw({{20, 5.01}});
    EXPECT_EQ(CountInRow(Box(), 166, 117, 120, kWhite), 4);
    EXPECT_EQ(CountInRow(Box(), 167, 117, 120, kWhite), 4);
}

TEST_F(SpectrumViewTest, PlateauIsNotAPeak) {
    Draw({{30, 50.0}, {31, 50.0}});
    EXPECT_FALSE(AnyWhite());
    EXPECT_EQ(form->SpectrumPeakMax, 0.0);
    Draw({{30, 50.0}, {31, 50.0}, {32, 60.0}});
    EXPECT_EQ(CountInRow(Box(), kBase - 1, 0, kW - 1, kWhite), 4);  // only bin 32
}

TEST_F(SpectrumViewTest, PeakAtTheLowCutBinIsNotDrawnOneAboveIs) {
    ASSERT_EQ(form->LowCutBin, 1u);
    Draw({{1, 50.0}});
    EXPECT_FALSE(AnyWhite());
    Draw({{2, 50.0}});  // x = Round(11.72) = 12
    ExpectBar(12, TopRow(50.0), kBase, kRed);

    form->LowCutBin = 0;
    Draw({{1, 50.0}});  // x = Round(5.86) = 6
    ExpectBar(6, TopRow(50.0), kBase, kRed);
}

TEST_F(SpectrumViewTest, PeaksAtTheRightEdgeAreClippedButCounted) {
    Draw({{92, 50.0}});  // x 539: columns 539..542 inside
    ExpectBar(539, TopRow(50.0), kBase, kRed);
    Draw({{93, 70.0}});  // x 545: outside
    EXPECT_FALSE(AnyWhite());
    EXPECT_EQ(form->SpectrumPeakMax, 70.0);
    Draw({{150, 80.0}});  // far beyond the edge, still inside the loop's bins
    EXPECT_FALSE(AnyWhite());
    EXPECT_EQ(form->SpectrumPeakMax, 80.0);
}

TEST_F(SpectrumViewTest, SpanOf250HzWith256FramesExaminesOnlyBins1And2) {
    form->FrequencySpan = 250.0;
    form->LowCutBin = 0;
    // n = Round(256 / (22050 / 250)) = 3, dx = 363.33: bin 1 at x 363, bin 2 at 727.
    Draw({{1, 50.0}}, 256);
    ExpectBar(363, TopRow(50.0), kBase, kRed);
    Draw({{1, 10.0}, {2, 70.0}}, 256);
    EXPECT_FALSE(AnyWhite());
    EXPECT_EQ(form->SpectrumPeakMax, 70.0);
    Draw({{3, 90.0}}, 256);
    EXPECT_EQ(form->SpectrumPeakMax, 0.0);
}

// ---------------------------------------------------------------------------------------------
// Peaks of held sounds

TEST_F(SpectrumViewTest, HeldSineIsABarAtItsBin) {
    const auto bytes =
        sound::Mono16(2048, [](uint32_t t) { return sound::Sine(944, BinHz(20), t); });
    sound::HoldSound(*form, bytes, MakePcmFormat(1, 16));
    const std::vector<double> mags = Magnitudes(bytes, 16, 1, 0);
    ASSERT_NEAR(mags[20], 255.0, 5.0);
    EXPECT_NEAR(TopRow(mags[20]), 102, 1);
    ExpectBar(117, TopRow(mags[20]), kBase, kRed);
}

TEST_F(SpectrumViewTest, StereoChannelsHaveTheirOwnBaselinesAndFills) {
    const auto bytes = sound::Pcm16(
        2048, 2, [](uint32_t t, int c) { return sound::Sine(944, BinHz(c == 0 ? 10 : 40), t); });
    sound::HoldSound(*form, bytes, MakePcmFormat(2, 16));
    const std::vector<double> left = Magnitudes(bytes, 16, 2, 0);
    const std::vector<double> right = Magnitudes(bytes, 16, 2, 1);
    // First channel over Round(169 / 2) = 84 in red, second over 168 in blue.
    ExpectBar(59, TopRow(left[10], 84), 84, kRed);
    ExpectBar(234, TopRow(right[40]), kBase, kBlue);
    EXPECT_EQ(CountInRow(Box(), 84, 59, 62, kWhite), 0);
}

// ---------------------------------------------------------------------------------------------
// Gain

TEST_F(SpectrumViewTest, GainScrollBarRunsFrom80AtTheTopTo1AtTheBottom) {
    const auto bytes =
        sound::Mono16(2048, [](uint32_t t) { return sound::Sine(944, BinHz(20), t); });
    sound::HoldSound(*form, bytes, MakePcmFormat(1, 16));
    const double v = Magnitudes(bytes, 16, 1, 0)[20];

    form->ScrollBarFftTimesScroll(80);
    EXPECT_EQ(form->ScrollBarFftTimes->Position(), 80u);
    EXPECT_EQ(form->FftTimes, 1.0);
    EXPECT_EQ(Pixel(Box(), 118, TopRow(v, kBase, 1)), kWhite);
    EXPECT_EQ(CountInColumn(Box(), 117, 0, kBase, kWhite), kBase - TopRow(v, kBase, 1));

    form->ScrollBarFftTimesScroll(1);
    EXPECT_EQ(form->FftTimes, 80.0);
    ExpectBar(117, TopRow(v, kBase, 80), kBase, kRed);
}

// A click in the trough and a wheel notch move either gain bar one step and redraw its view; the
// thumb keeps the style's smallest size.
TEST_F(SpectrumViewTest, GainBarsPageAndWheelByOneStep) {
    sound::HoldSound(*form,
                     sound::Mono16(2048, [](uint32_t t) { return sound::Sine(2000, 440, t); }),
                     MakePcmFormat(1, 16));
    for (ScrollBar* bar : {form->ScrollBarWaveTimes, form->ScrollBarFftTimes}) {
        PaintBox* box = bar == form->ScrollBarFftTimes ? form->PaintBoxFft : form->PaintBoxGra;
        SCOPED_TRACE(bar == form->ScrollBarFftTimes ? "fft" : "wave");
        const uint32_t start = bar->Position();
        QImage before = box->Canvas().Image().copy();
        bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
        EXPECT_EQ(bar->Position(), start + 1);
        EXPECT_NE(box->Canvas().Image(), before);
        before = box->Canvas().Image().copy();
        QWheelEvent wheel(QPointF(8, 60), bar->mapToGlobal(QPointF(8, 60)), {}, QPoint(0, 120),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(bar, &wheel);
        EXPECT_EQ(bar->Position(), start);
        EXPECT_NE(box->Canvas().Image(), before);

        QStyleOptionSlider option;
        option.initFrom(bar);
        option.orientation = Qt::Vertical;
        option.minimum = bar->minimum(), option.maximum = bar->maximum();
        option.sliderPosition = option.sliderValue = bar->value();
        option.pageStep = 0;
        const QRect smallest = bar->style()->subControlRect(QStyle::CC_ScrollBar, &option,
                                                            QStyle::SC_ScrollBarSlider, bar);
        option.pageStep = bar->pageStep();
        EXPECT_EQ(
            bar->style()
                ->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, bar)
                .height(),
            smallest.height());
    }
    EXPECT_EQ(form->FftTimes, 81.0 - form->ScrollBarFftTimes->Position());
}

TEST_F(SpectrumViewTest, GainChangeAndRepaintWhileBusyLeaveThePictureAsItWas) {
    const auto bytes =
        sound::Mono16(2048, [](uint32_t t) { return sound::Sine(944, BinHz(20), t); });
    sound::HoldSound(*form, bytes, MakePcmFormat(1, 16));
    const QImage before = Box()->Canvas().Image().copy();
    form->Recording = true;
    form->ScrollBarFftTimesScroll(70);
    form->PaintBoxFftPaint();
    form->Recording = false;
    EXPECT_EQ(form->FftTimes, 11.0);
    EXPECT_EQ(Box()->Canvas().Image(), before);
    form->PaintBoxFftPaint();
    EXPECT_NE(Box()->Canvas().Image(), before);  // the next redraw uses gain 11
}

// ---------------------------------------------------------------------------------------------
// Shift-clicks

TEST_F(SpectrumViewTest, ShiftLeftClickSetsTheThresholdAtTheClickedRow) {
    form->show();
    Pump();
    QTest::mouseClick(Box(), Qt::LeftButton, Qt::ShiftModifier, QPoint(200, 100));
    EXPECT_DOUBLE_EQ(form->PeakThreshold, 68.0 * 255 / 66);  // 262.7
    EXPECT_EQ(CountInRow(Box(), 100, 0, kW - 1, kGridGreen), kW);

    QTest::mouseClick(Box(), Qt::LeftButton, Qt::ShiftModifier, QPoint(200, kBase));
    EXPECT_EQ(form->PeakThreshold, 0.0);
    EXPECT_EQ(CountInRow(Box(), kBase, 0, kW - 1, kGridGreen), kW);
    // The refresh before the line removed the earlier one.
    EXPECT_EQ(Pixel(Box(), 200, 100), kBlack);
}

TEST_F(SpectrumViewTest, ThresholdZeroMakesEveryPositivePeakABar) {
    // A quiet sine: a peak of level below 5, one row high.
    const auto bytes =
        sound::Mono16(2048, [](uint32_t t) { return sound::Sine(10, BinHz(20), t); });
    sound::HoldSound(*form, bytes, MakePcmFormat(1, 16));
    ASSERT_LT(Magnitudes(bytes, 16, 1, 0)[20], 5.0);
    EXPECT_EQ(Pixel(Box(), 117, 167), kWhite);
    EXPECT_EQ(Pixel(Box(), 118, 167), kBlack);
    form->PaintBoxFftMouseDown(Qt::LeftButton, Qt::ShiftModifier, 300, kBase);
    EXPECT_EQ(CountInRow(Box(), 167, 117, 120, kWhite), 4);
}

TEST_F(SpectrumViewTest, ShiftLeftClickOnEightBitDataUsesUnitScale) {
    sound::HoldSound(*form, std::vector<uint8_t>(2048, 128), MakePcmFormat(1, 8));
    form->PaintBoxFftMouseDown(Qt::LeftButton, Qt::ShiftModifier, 10, 100);
    EXPECT_DOUBLE_EQ(form->PeakThreshold, 68.0 / 66);
    EXPECT_EQ(CountInRow(Box(), 100, 0, kW - 1, kGridGreen), kW);
}

TEST_F(SpectrumViewTest, ShiftRightClickSetsTheLowCutOffWithItsMarkerAndLabel) {
    form->show();
    Pump();
    QTest::mouseClick(Box(), Qt::RightButton, Qt::ShiftModifier, QPoint(100, 50));
    EXPECT_EQ(form->LowCutHz, 367u);  // Round(100 x 2000 / 545)
    EXPECT_EQ(form->LowCutBin, 17u);  // Round(367 / (44100 / 2047))
    EXPECT_EQ(form->LowCutX, 100);
    EXPECT_EQ(CountInColumn(Box(), 100, 0, kH - 1, kGridGreen), kH);
    // Opaque on the brush left by the last channel drawn: red for one channel.
    canvas::ExpectTextAt(Box(), 101, 0, "367", kGridGreen, kRed);

    QTest::mouseClick(Box(), Qt::RightButton, Qt::ShiftModifier, QPoint(0, 50));
    EXPECT_EQ(form->LowCutHz, 0u);
    EXPECT_EQ(form->LowCutBin, 0u);
    EXPECT_EQ(form->LowCutX, 0);
    EXPECT_EQ(CountInColumn(Box(), 0, 0, kH - 1, kGridGreen), kH);
    canvas::ExpectTextAt(Box(), 1, 0, "0", kGridGreen, kRed);
    EXPECT_NE(Pixel(Box(), 100, 80), kGridGreen);  // the earlier marker is gone
}

TEST_F(SpectrumViewTest, LowCutLabelOfStereoDataIsOnBlue) {
    sound::HoldSound(*form, std::vector<uint8_t>(4 * 2048), MakePcmFormat(2, 16));
    form->PaintBoxFftMouseDown(Qt::RightButton, Qt::ShiftModifier, 200, 50);
    canvas::ExpectTextAt(Box(), 201, 0, QString::number(form->LowCutHz), kGridGreen, kBlue);
    EXPECT_EQ(form->LowCutHz, 734u);  // Round(200 x 2000 / 545)
}

TEST_F(SpectrumViewTest, ShiftClicksWhileBusyOnlyDrawTheMarkers) {
    form->PaintBoxFftPaint();
    form->Playing = true;
    QImage expected = Box()->Canvas().Image().copy();
    form->PaintBoxFftMouseDown(Qt::RightButton, Qt::ShiftModifier, 50, 20);
    form->PaintBoxFftMouseDown(Qt::LeftButton, Qt::ShiftModifier, 50, 120);
    form->Playing = false;
    EXPECT_EQ(form->LowCutX, 50);
    EXPECT_EQ(form->LowCutHz, 183u);  // Round(183.49)
    EXPECT_DOUBLE_EQ(form->PeakThreshold, 48.0 * 255 / 66);
    // Only the two green lines changed the picture; no label.
    for (int y = 0; y < kH; ++y) expected.setPixel(50, y, 0xFF000000u | kGridGreen);
    for (int x = 0; x < kW; ++x) expected.setPixel(x, 120, 0xFF000000u | kGridGreen);
    EXPECT_EQ(Box()->Canvas().Image(), expected);
}

TEST_F(SpectrumViewTest, ClicksWithoutShiftChangeNothing) {
    form->PaintBoxFftPaint();
    const QImage before = Box()->Canvas().Image().copy();
    form->show();
    Pump();
    QTest::mouseClick(Box(), Qt::LeftButton, {}, QPoint(100, 100));
    QTest::mouseClick(Box(), Qt::RightButton, {}, QPoint(100, 100));
    QTest::mouseClick(Box(), Qt::MiddleButton, Qt::ShiftModifier, QPoint(100, 100));
    EXPECT_EQ(form->PeakThreshold, 5.0);
    EXPECT_EQ(form->LowCutHz, 30u);
    EXPECT_EQ(form->LowCutBin, 1u);
    EXPECT_EQ(form->LowCutX, 8);
    EXPECT_EQ(Box()->Canvas().Image(), before);
}

}  // namespace

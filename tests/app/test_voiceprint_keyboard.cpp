// The voiceprint beside its frequency scale and colour bar, and the keyboard's highlight of the
// detected pitch: columns of peak marks, the sweep and its wrap, the scale for several spans, the
// colour bar, a click that clears, and the key colours for frequencies on and between keys.
#include <QTest>
#include <vector>

#include "CanvasChecks.h"
#include "FormFixture.h"
#include "SoundHelpers.h"
#include "common/Round.h"
#include "synth/Keyboard.h"
#include "views/Colours.h"

using namespace sonabi;

namespace {

using canvas::ColoursIn;
using canvas::Contains;
using canvas::CountInRow;

constexpr int kW = 206, kH = 395;

// (255, u, u): a key lit in a shade of red.
uint32_t Pink(int u) { return MakeRgb(255, u, u); }

class VoiceprintTest : public FormTest {
  protected:
    PaintBox* Box() { return form->PaintBoxSeimon; }
    PaintBox* Scale() { return form->PaintBoxSeimonScale; }
    // One published column of peaks (bin, level 0..1) with the default span of 186 bins.
    void Column(const std::vector<std::pair<int, double>>& peaks, int spanBins = 186) {
        std::vector<double> levels;
        std::vector<int> bins;
        for (auto [bin, level] : peaks) {
            bins.push_back(bin);
            levels.push_back(level);
        }
        form->DrawVoiceprintColumn(static_cast<int>(peaks.size()), levels.data(), spanBins,
                                   bins.data());
    }
    // The box holds exactly these marks (x, y, colour), each two pixels wide.
    void ExpectMarks(const std::vector<std::tuple<int, int, QRgb>>& marks) {
        QImage expected(kW, kH, QImage::Format_RGB32);
        expected.fill(Qt::black);
        for (auto [x, y, colour] : marks)
            for (int dx = 0; dx < 2; ++dx)
                if (x + dx < kW && y >= 0 && y < kH)
                    expected.setPixel(x + dx, y, 0xFF000000u | colour);
        EXPECT_EQ(Box()->Canvas().Image(), expected);
    }
    bool Blank() { return ColoursIn(Box(), 0, 0, kW - 1, kH - 1) == std::set<QRgb>{kBlack}; }
};

// ---------------------------------------------------------------------------------------------
// Columns

TEST_F(VoiceprintTest, HeldToneOf440HzDrawsItsFirstColumnAndLightsA4) {
    const auto bytes = sound::Mono16(2048, [](uint32_t t) { return sound::Sine(8000, 440, t); });
    sound::HoldSound(*form, bytes, MakePcmFormat(1, 16));
    EXPECT_EQ(form->DetectedFrequency, 440);
    EXPECT_EQ(form->LbfftValue->text(), "440");
    EXPECT_EQ(form->Panels[34]->Colour(), kRed);
    EXPECT_EQ(form->VoiceprintX, 2);
    // The strongest peak, bin 20, at level 1.0: red on row Round((1 - 40 / 186) x 395) = 310.
    EXPECT_EQ(Pixel(Box(), 2, 310), LevelColour(255));
    EXPECT_EQ(Pixel(Box(), 3, 310), kRed);
    EXPECT_EQ(Pixel(Box(), 4, 310), kBlack);
    EXPECT_FALSE(Contains(ColoursIn(Box(), 0, 0, 1, kH - 1), kRed));
    EXPECT_EQ(ColoursIn(Box(), 4, 0, kW - 1, kH - 1), std::set<QRgb>{kBlack});
}

TEST_F(VoiceprintTest, MarksSitAtTheirBinsRowsInTheirLevelsColours) {
    form->ResetVoiceprint();
    Column({{46, 1.0}, {93, 0.5}, {20, 0.0}, {10, 149.0 / 255}});
    // Bin 46: Round(199.62) = 200; bin 93: 0; bin 20: 310; bin 10: Round(352.53) = 353.
    ExpectMarks({{2, 200, kRed},
                 {2, 0, MakeRgb(128, 255, 255)},
                 {2, 310, kBlue},
                 {2, 353, MakeRgb(188, 255, 128)}});
    EXPECT_EQ(form->VoiceprintX, 2);
}

TEST_F(VoiceprintTest, LevelsOutsideTheMapAndBinsOutsideTheBoxLeaveNoMark) {
    form->ResetVoiceprint();
    // L = Round(255.51) = 256 and Round(-0.77) = -1 are black; bin 0 is on row 395, bin 100 above.
    Column({{46, 1.002}, {47, -0.003}, {0, 1.0}, {100, 1.0}});
    EXPECT_TRUE(Blank());
    EXPECT_EQ(form->VoiceprintX, 2);
}

TEST_F(VoiceprintTest, SweepRunsAcrossTheBoxAndWrapsOnlyWithPeaks) {
    form->ResetVoiceprint();
    std::vector<std::tuple<int, int, QRgb>> marks;
    for (int x = 2; x <= 204; x += 2) {
        Column({{46, 1.0}});
        EXPECT_EQ(form->VoiceprintX, x);
        marks.push_back({x, 200, kRed});
    }
    ExpectMarks(marks);
    // 206: the column lies just outside the box.
    Column({{46, 1.0}});
    EXPECT_EQ(form->VoiceprintX, 206);
    ExpectMarks(marks);
    // Without peaks the sweep moves on, nothing is cleared.
    Column({});
    EXPECT_EQ(form->VoiceprintX, 208);
    ExpectMarks(marks);
    // The next column with peaks clears the box and starts at the left edge, all its marks there.
    Column({{46, 1.0}, {20, 0.0}});
    EXPECT_EQ(form->VoiceprintX, 0);
    ExpectMarks({{0, 200, kRed}, {0, 310, kBlue}});
    Column({{46, 1.0}});
    EXPECT_EQ(form->VoiceprintX, 2);
    ExpectMarks({{0, 200, kRed}, {0, 310, kBlue}, {2, 200, kRed}});
}

TEST_F(VoiceprintTest, SweepWrapsAfter206WhenPeaksKeepComing) {
    form->ResetVoiceprint();
    for (int i = 0; i < 103; ++i) Column({{46, 0.5}});
    ASSERT_EQ(form->VoiceprintX, 206);
    Column({{93, 1.0}});
    EXPECT_EQ(form->VoiceprintX, 0);
    ExpectMarks({{0, 0, kRed}});
}

TEST_F(VoiceprintTest, ClickClearsTheVoiceprintAndRestartsTheSweep) {
    form->show();
    Pump();
    form->VoiceprintX = 0;
    Column({{46, 1.0}});
    Column({{46, 1.0}});
    ASSERT_FALSE(Blank());
    // Only the left button clicks.
    QTest::mouseClick(Box(), Qt::RightButton, {}, QPoint(50, 50));
    QTest::mouseClick(Box(), Qt::MiddleButton, {}, QPoint(50, 50));
    EXPECT_FALSE(Blank());
    QTest::mouseClick(Box(), Qt::LeftButton, {}, QPoint(50, 50));
    EXPECT_TRUE(Blank());
    EXPECT_EQ(form->VoiceprintX, 0);
    EXPECT_TRUE(Contains(ColoursIn(Scale(), 0, 0, 24, kH - 1), kGridGreen));
    Column({{46, 1.0}});
    ExpectMarks({{2, 200, kRed}});
}

TEST_F(VoiceprintTest, ClickClearsAlsoWhilePlaying) {
    form->ResetVoiceprint();
    Column({{46, 1.0}});
    form->Playing = true;
    form->PaintBoxSeimonClick();
    form->Playing = false;
    EXPECT_TRUE(Blank());
    EXPECT_EQ(form->VoiceprintX, 0);
}

// ---------------------------------------------------------------------------------------------
// Frequency scale and colour bar

TEST_F(VoiceprintTest, ScaleOf2000HzHasUnlabelledDottedRowsAndThreeLabelledSolidOnes) {
    form->ResetVoiceprint();
    // Dotted rows every 19.75 pixels, halves to even: 100 Hz at 375, 200 Hz at Round(355.5) = 356.
    EXPECT_EQ(Pixel(Scale(), 0, 375), kGridGreen);
    EXPECT_EQ(Pixel(Scale(), 0, 356), kGridGreen);
    EXPECT_EQ(Pixel(Scale(), 0, 355), kBlack);
    EXPECT_GT(CountInRow(Scale(), 375, 0, 24, kBlack), 5);  // dotted, and no label on it
    EXPECT_FALSE(Contains(ColoursIn(Scale(), 0, 360, 24, 394), kRed));
    int dottedRows = 0;
    for (int y = 0; y < kH; ++y) dottedRows += Pixel(Scale(), 0, y) == kGridGreen;
    EXPECT_EQ(dottedRows, 19);  // 500, 1000, 1500 Hz fall on dotted rows
    const int solid[] = {296, 198, 99};
    const char* labels[] = {"500", "1000", "1500"};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(Pixel(Scale(), 0, solid[i]), kGridGreen);
        canvas::ExpectTextAt(Scale(), 1, solid[i] - 5, labels[i], kRed, kBlack);
    }
    // The labels cover the solid rows but for their ends.
    EXPECT_EQ(Pixel(Scale(), 24, 296), kGridGreen);
}

TEST_F(VoiceprintTest, ScaleOf500HzLabelsItsFourDottedRowsAndHasNoSolidOne) {
    form->FrequencySpan = 500.0;
    form->ResetVoiceprint();
    const int rows[] = {316, 237, 158, 79};
    const char* labels[] = {"100", "200", "300", "400"};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(Pixel(Scale(), 0, rows[i]), kGridGreen) << rows[i];
        canvas::ExpectTextAt(Scale(), 1, rows[i] - 5, labels[i], kRed, kBlack);
    }
    int greenRows = 0;
    for (int y = 0; y < kH; ++y) {
        greenRows += Pixel(Scale(), 0, y) == kGridGreen;
        EXPECT_LT(CountInRow(Scale(), y, 0, 24, kGridGreen), 25) << "solid row " << y;
    }
    EXPECT_EQ(greenRows, 4);
}

TEST_F(VoiceprintTest, ScaleOf1000HzHasTenStepsSoItsDottedRowsAreUnlabelled) {
    form->FrequencySpan = 1000.0;
    form->ResetVoiceprint();
    int greenRows = 0;
    for (int y = 0; y < kH; ++y) greenRows += Pixel(Scale(), 0, y) == kGridGreen;
    EXPECT_EQ(greenRows, 9);
    // Red only in the label of the solid 500 Hz row (198).
    EXPECT_FALSE(Contains(ColoursIn(Scale(), 0, 0, 24, 192), kRed));
    EXPECT_FALSE(Contains(ColoursIn(Scale(), 0, 212, 24, kH - 1), kRed));
    canvas::ExpectTextAt(Scale(), 1, 193, "500", kRed, kBlack);
}

TEST_F(VoiceprintTest, ScaleOf250HzHasOneLabelledRow) {
    form->FrequencySpan = 250.0;
    form->PaintBoxSeimonScalePaint();
    int greenRows = 0;
    for (int y = 0; y < kH; ++y) greenRows += Pixel(Scale(), 0, y) == kGridGreen;
    EXPECT_EQ(greenRows, 1);
    EXPECT_EQ(Pixel(Scale(), 0, 237), kGridGreen);
    canvas::ExpectTextAt(Scale(), 1, 232, "100", kRed, kBlack);
}

TEST_F(VoiceprintTest, ColourBarShowsTheLevelMapFromLoToHi) {
    form->SeimonAmpGraPaint();
    PaintBox* bar = form->SeimonAmpGra;
    // Column x shows the highest level L with Round(L x 187 / 255) = x.
    uint32_t expected[187];
    for (int L = 0; L <= 254; ++L) expected[Round(L * 187 / 255.0)] = LevelColour(L);
    for (int x = 0; x < 187; ++x)
        for (int y = 0; y < 11; ++y) ASSERT_EQ(Pixel(bar, x, y), expected[x]) << x << "," << y;
    EXPECT_EQ(Pixel(bar, 0, 5), kBlue);
    EXPECT_EQ(Pixel(bar, 94, 5), MakeRgb(128, 255, 255));  // L 128 only
    EXPECT_EQ(Pixel(bar, 186, 5), MakeRgb(255, 3, 0));     // L 253 and 254: the last wins
}

// ---------------------------------------------------------------------------------------------
// Keyboard highlight

class KeyHighlightTest : public FormTest {
  protected:
    void Highlight(int hz) {
        form->DetectedFrequency = hz;
        form->ResetKeyColours();
        form->HighlightNearestKey();
    }
    // Keys other than the listed ones are at rest.
    void ExpectOthersAtRest(std::initializer_list<int> lit) {
        for (int i = 1; i <= 60; ++i) {
            if (std::find(lit.begin(), lit.end(), i) != lit.end()) continue;
            EXPECT_EQ(form->Panels[i]->Colour(), KeyAt(i).black ? kBlack : kWhite) << KeyAt(i).note;
        }
    }
    // The colour the key shows on screen, away from its bevel.
    QRgb Shown(int key) {
        const QImage image = form->Panels[key]->grab().toImage();
        return image.pixel(image.width() / 2, image.height() / 2) & 0xFFFFFF;
    }
};

TEST_F(KeyHighlightTest, FrequenciesOnAKeyLightItRed) {
    Highlight(65);
    EXPECT_EQ(form->Panels[1]->Colour(), kRed);
    ExpectOthersAtRest({1});
    Highlight(1977);
    EXPECT_EQ(form->Panels[60]->Colour(), kRed);
    ExpectOthersAtRest({60});
    for (int hz : {276, 277}) {  // both halves of the scan reach C#4
        Highlight(hz);
        EXPECT_EQ(form->Panels[26]->Colour(), kRed) << hz;
        ExpectOthersAtRest({26});
    }
}

TEST_F(KeyHighlightTest, FrequenciesOffTheKeyboardLightNothing) {
    for (int hz : {63, 1978, 0}) {
        Highlight(hz);
        ExpectOthersAtRest({});
    }
}

TEST_F(KeyHighlightTest, FrequencyBetweenTwoKeysShadesBoth) {
    Highlight(100);  // G2 98, G#2 104: half 3, mid 101, u 0
    EXPECT_EQ(form->Panels[8]->Colour(), kRed);
    EXPECT_EQ(form->Panels[9]->Colour(), Pink(128));
    ExpectOthersAtRest({8, 9});
}

TEST_F(KeyHighlightTest, ShadesAcrossTheGapFromA4ToASharp4) {
    struct Row {
        int hz;
        int a4, aSharp4;  // u of each key, -1 when at rest
    };
    const Row rows[] = {{440, 0, -1},   {441, 0, -1},  {442, 0, 128}, {445, 30, 98}, {452, 98, 30},
                        {453, 20, 108}, {460, 89, 39}, {464, 128, 0}, {465, -1, 0},  {466, -1, 0}};
    for (const Row& r : rows) {
        Highlight(r.hz);
        EXPECT_EQ(form->Panels[34]->Colour(), r.a4 < 0 ? kWhite : Pink(r.a4)) << r.hz;
        EXPECT_EQ(form->Panels[35]->Colour(), r.aSharp4 < 0 ? kBlack : Pink(r.aSharp4)) << r.hz;
        ExpectOthersAtRest({34, 35});
    }
}

TEST_F(KeyHighlightTest, LitBlackKeyShowsRedAndReturnsToBlackAtTheNextDetection) {
    form->show();
    Pump();
    Highlight(466);
    EXPECT_EQ(form->Panels[35]->Colour(), kRed);
    EXPECT_EQ(Shown(35), kRed);
    // The next analysis (of the silence, which finds nothing) puts every key back first.
    form->FullRefresh();
    EXPECT_EQ(form->Panels[35]->Colour(), kBlack);
    EXPECT_EQ(Shown(35), kBlack);
    EXPECT_EQ(Shown(34), kWhite);
}

}  // namespace

// The voiceprint's level colours and where the views' grid and scale lines, voiceprint marks and
// colour bar columns fall.
#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <vector>

#include "common/Round.h"
#include "views/Colours.h"
#include "views/ReportGeometry.h"
#include "views/ScaleGeometry.h"

using namespace sonabi;

namespace {

std::vector<int> Xs(const VerticalLines& lines) {
    std::vector<int> xs;
    for (int k = 1; k <= lines.count; ++k) xs.push_back(lines.X(k));
    return xs;
}

std::vector<int> Ys(const HorizontalLines& lines) {
    std::vector<int> ys;
    for (int k = lines.First(); k <= lines.Last(); ++k) ys.push_back(lines.Y(k));
    return ys;
}

std::vector<int> Values(const HorizontalLines& lines) {
    std::vector<int> values;
    for (int k = lines.First(); k <= lines.Last(); ++k) values.push_back(lines.Value(k));
    return values;
}

}  // namespace

TEST(LevelColour, BandEdgesAndSamples) {
    const struct {
        int level, r, g, b;
    } cases[] = {{0, 0, 0, 255},       {64, 64, 128, 255},   {128, 128, 255, 255},
                 {129, 131, 255, 249}, {149, 188, 255, 128}, {170, 249, 255, 0},
                 {171, 255, 252, 0},   {200, 255, 165, 0},   {255, 255, 0, 0},
                 {-1, 0, 0, 0},        {256, 0, 0, 0},       {-1000, 0, 0, 0}};
    for (const auto& c : cases) {
        EXPECT_EQ(LevelColour(c.level), MakeRgb(c.r, c.g, c.b)) << c.level;
    }
}

TEST(LevelColour, MapRunsBlueToRedWithoutJumps) {
    for (int level = 1; level <= 255; ++level) {
        const uint32_t a = LevelColour(level - 1), b = LevelColour(level);
        EXPECT_LE(std::abs(RedOf(a) - RedOf(b)), 7) << level;
        EXPECT_LE(std::abs(GreenOf(a) - GreenOf(b)), 7) << level;
        EXPECT_LE(std::abs(BlueOf(a) - BlueOf(b)), 7) << level;
    }
}

TEST(VerticalGridLines, TimeGridOfA2048FrameWindow) {
    const double span = 2048 * 1000u / 44100.0;  // 46.44 ms
    const VerticalGrid grid = VerticalGridLines(545, 5, 10, span);
    ASSERT_EQ(grid.fine.count, 8);  // 5 .. 40 ms, none at 45
    ASSERT_EQ(grid.coarse.count, 4);
    for (int k = 1; k <= grid.fine.count; ++k) {
        EXPECT_EQ(grid.fine.Value(k), 5 * k);
        EXPECT_NEAR(grid.fine.X(k), 545 * 5 * k / span, 0.5);
    }
    for (int k = 1; k <= grid.coarse.count; ++k) {
        EXPECT_EQ(grid.coarse.Value(k), 10 * k);
        EXPECT_EQ(grid.coarse.X(k), grid.fine.X(2 * k));  // the solid line covers the dotted one
        EXPECT_EQ(grid.coarse.LabelX(k), grid.coarse.X(k) - 5);  // two characters
    }
}

TEST(VerticalGridLines, ShortWindowHasNoSolidLine) {
    const VerticalGrid grid = VerticalGridLines(545, 1, 10, 256 * 1000u / 44100.0);  // 5.8 ms
    EXPECT_EQ(grid.fine.count, 5);
    EXPECT_EQ(grid.coarse.count, 0);  // Round(0.58) - 1
}

TEST(VerticalGridLines, FrequencyGridDefaults) {
    const VerticalGrid grid = VerticalGridLines(545, 100, 500, 2000.0);
    ASSERT_EQ(grid.fine.count, 19);
    for (int k = 1; k <= 19; ++k) EXPECT_EQ(grid.fine.X(k), Round(27.25 * k)) << k;
    EXPECT_EQ(Xs(grid.coarse), (std::vector<int>{136, 272, 409}));
    EXPECT_EQ(grid.coarse.LabelX(1), 136 - 8);
    EXPECT_EQ(grid.coarse.LabelX(2), 272 - 10);
    EXPECT_EQ(grid.coarse.LabelX(3), 409 - 10);
}

TEST(VerticalGridLines, NoLinesForAnEmptyOrTooSmallSpan) {
    EXPECT_EQ(VerticalGridLines(545, 5, 10, 0.0).fine.count, 0);
    EXPECT_EQ(VerticalGridLines(545, 5, 10, 7.4).fine.count, 0);  // Round(1.48) - 1
    EXPECT_EQ(VerticalGridLines(545, 0, 10, 40.0).fine.count, 0);
}

TEST(LabelLength, DigitsOfTheDecimalText) {
    EXPECT_EQ(LabelLength(0), 1);
    EXPECT_EQ(LabelLength(40), 2);
    EXPECT_EQ(LabelLength(500), 3);
    EXPECT_EQ(LabelLength(1000), 4);
    EXPECT_EQ(LabelLength(-20), 3);
}

TEST(FreqScaleLines, ScaleTableForEverySpan) {
    const struct {
        double span;
        int dotted;
        bool dottedLabels;
        std::vector<int> solidValues;
    } rows[] = {{250, 1, true, {}},
                {500, 4, true, {}},
                {1000, 9, false, {500}},
                {2000, 19, false, {500, 1000, 1500}},
                {4000, 39, false, {500, 1000, 1500, 2000, 2500, 3000, 3500}},
                {8000,
                 79,
                 false,
                 {500, 1000, 1500, 2000, 2500, 3000, 3500, 4000, 4500, 5000, 5500, 6000, 6500, 7000,
                  7500}}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.span);
        const FreqScale scale = FreqScaleLines(25, 395, 100, 500, row.span, 0);
        EXPECT_EQ(scale.dotted.Last() - scale.dotted.First() + 1, row.dotted);
        EXPECT_EQ(scale.dotted.labelled, row.dottedLabels);
        EXPECT_TRUE(scale.solid.labelled);
        EXPECT_EQ(Values(scale.solid), row.solidValues);
    }
}

TEST(FreqScaleLines, RowsOfTheSmallSpans) {
    const FreqScale s250 = FreqScaleLines(25, 395, 100, 500, 250, 0);
    EXPECT_EQ(Ys(s250.dotted), (std::vector<int>{237}));
    const FreqScale s500 = FreqScaleLines(25, 395, 100, 500, 500, 0);
    EXPECT_EQ(Ys(s500.dotted), (std::vector<int>{316, 237, 158, 79}));
    EXPECT_EQ(Values(s500.dotted), (std::vector<int>{100, 200, 300, 400}));
    EXPECT_EQ(s500.dotted.LabelY(1), 316 - 5);
    EXPECT_EQ(HorizontalLines::kLabelX, 1);
    EXPECT_EQ(Ys(FreqScaleLines(25, 395, 100, 500, 1000, 0).solid), (std::vector<int>{198}));
    EXPECT_EQ(Ys(FreqScaleLines(25, 395, 100, 500, 2000, 0).solid),
              (std::vector<int>{296, 198, 99}));
}

TEST(FreqScaleLines, DottedLinesOfTheDefaultSpanAreEvenlySpaced) {
    const FreqScale scale = FreqScaleLines(25, 395, 100, 500, 2000, 0);
    const std::vector<int> ys = Ys(scale.dotted);
    for (size_t i = 0; i < ys.size(); ++i) EXPECT_NEAR(ys[i], 395 - 19.75 * (i + 1), 0.5);
}

TEST(VoiceprintRow, BinsFromBottomToTopOfTheSpan) {
    EXPECT_EQ(VoiceprintRow(46, 186, 395), 200);  // Round(199.62)
    EXPECT_EQ(VoiceprintRow(0, 186, 395), 395);   // just below the box
    EXPECT_EQ(VoiceprintRow(93, 186, 395), 0);
    EXPECT_EQ(VoiceprintRow(94, 186, 395), -1);  // above the box
    EXPECT_EQ(VoiceprintRow(100000, 186, 395), -1);
    EXPECT_EQ(VoiceprintRow(10, 0, 395), -1);
}

TEST(ColourBarX, LevelsSpreadOverEveryColumn) {
    EXPECT_EQ(ColourBarX(0, 187), 0);
    EXPECT_EQ(ColourBarX(255, 187), 187);  // just outside the box
    std::set<int> columns;
    for (int level = 0; level <= 255; ++level) {
        const int x = ColourBarX(level, 187);
        EXPECT_NEAR(x, level * 187 / 255.0, 0.5);
        columns.insert(x);
    }
    EXPECT_EQ(columns.size(), 188u);  // no column of the box is left unpainted
}

// The take report's plot: the sound's start and end on its first and last columns, +50 cents on
// its top row and -50 on its bottom one, cents beyond kept at the edges, and time labels at
// least the asked gap apart on a 1-2-5 step.
TEST(ReportGeometry, TimesAndCentsFillThePlotArea) {
    const ReportGeometry g = ReportGeometryFor(640, 300, 40, 22, 3.2);
    EXPECT_EQ(g.left, 40);
    EXPECT_EQ(g.top, 8);
    EXPECT_EQ(g.width, 592);
    EXPECT_EQ(g.height, 270);
    const struct {
        double in;
        int x, y;
    } points[] = {{0.0, 40, 8}, {3.2, 631, 277}, {1.6, 336, 8}, {-1, 40, 8}, {9, 631, 8}};
    for (const auto& p : points) EXPECT_EQ(g.X(p.in), p.x) << p.in;
    const struct {
        double cents;
        int y;
    } rows[] = {{50, 8}, {-50, 277}, {0, 142}, {25, 75}, {17, 97}, {80, 8}, {-120, 277}};
    for (const auto& r : rows) EXPECT_EQ(g.Y(r.cents), r.y) << r.cents;
    EXPECT_EQ(ReportTimeStep(g, 70), 0.5);  // 184 pixels a second
    EXPECT_EQ(ReportTimeStep(g, 200), 2.0);
    EXPECT_EQ(ReportGeometryFor(640, 300, 40, 22, 0).seconds, 1.0);
    EXPECT_EQ(ReportGeometryFor(10, 10, 40, 22, 1).width, 1);
}

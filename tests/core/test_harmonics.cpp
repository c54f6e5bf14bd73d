// Harmonic levels from the detected list, the harmonic limit of the mixer, and the sliders'
// change rule as the command-line analyser applies it.
#include <gtest/gtest.h>

#include <vector>

#include "analysis/Harmonics.h"

using namespace sonabi;

namespace {

struct List {
    // 1-based lists from {harmonic, relative level} pairs.
    explicit List(std::vector<std::pair<int, double>> peaks) {
        for (auto [h, l] : peaks) {
            harmonics.push_back(h);
            levels.push_back(l);
        }
        count = static_cast<int>(peaks.size());
    }
    void Store() { StoreHarmonicLevels(count, levels.data(), harmonics.data(), out); }
    std::vector<int> harmonics{0};
    std::vector<double> levels{0.0};
    int count = 0;
    int out[21] = {};
};

}  // namespace

TEST(StoreHarmonicLevels, ScalesRelativeLevelsToPercentRoundingHalvesToEven) {
    List l({{1, 1.0}, {2, 0.5}, {3, 0.25}, {4, 0.125}, {5, 0.375}});
    l.Store();
    EXPECT_EQ(l.out[1], 100);
    EXPECT_EQ(l.out[2], 50);
    EXPECT_EQ(l.out[3], 25);
    EXPECT_EQ(l.out[4], 12);  // Round(12.5)
    EXPECT_EQ(l.out[5], 38);  // Round(37.5)
    for (int k = 6; k <= 20; ++k) EXPECT_EQ(l.out[k], 0);
    EXPECT_EQ(l.count, 5);
}

TEST(StoreHarmonicLevels, DropsHarmonicTwentyAndAboveFromTheEnd) {
    List l({{1, 1.0}, {19, 0.5}, {20, 0.4}, {23, 0.3}});
    l.out[20] = 0;
    l.Store();
    EXPECT_EQ(l.count, 2);  // the list itself is shortened
    EXPECT_EQ(l.out[19], 50);
    EXPECT_EQ(l.out[20], 0);

    List all({{20, 1.0}, {21, 0.5}});
    all.Store();
    EXPECT_EQ(all.count, 0);
    for (int k = 1; k <= 20; ++k) EXPECT_EQ(all.out[k], 0);
}

TEST(StoreHarmonicLevels, LaterPeakOfTheSameNumberOverwrites) {
    List l({{1, 1.0}, {2, 0.7}, {2, 0.3}});
    l.Store();
    EXPECT_EQ(l.out[2], 30);
}

TEST(MaxHarmonicCount, CountsHarmonicsBelowHalfTheRateUpToTwenty) {
    EXPECT_EQ(MaxHarmonicCount(44100, 1500), 14);
    EXPECT_EQ(MaxHarmonicCount(44100, 1000), 20);  // 22, limited
    EXPECT_EQ(MaxHarmonicCount(44100, 100), 20);
    EXPECT_EQ(MaxHarmonicCount(11025, 1000), 5);  // Round(5512.5) = 5512
    EXPECT_EQ(MaxHarmonicCount(8000, 250), 16);
    EXPECT_EQ(MaxHarmonicCount(0, 100), 0);  // no format yet
    EXPECT_EQ(MaxHarmonicCount(44100, 0), 0);
    EXPECT_EQ(MaxHarmonicCount(44100, -5), 0);
}

TEST(ApplyFreshSliderRule, HarmonicsAboveTheLimitFallBackToZero) {
    int levels[21] = {};
    for (int k = 1; k <= 20; ++k) levels[k] = 100 - 4 * k;
    ApplyFreshSliderRule(levels, 44100, 100);  // limit 20: nothing changes
    for (int k = 1; k <= 20; ++k) EXPECT_EQ(levels[k], 100 - 4 * k);

    ApplyFreshSliderRule(levels, 2000, 100);  // limit 10
    for (int k = 1; k <= 10; ++k) EXPECT_EQ(levels[k], 100 - 4 * k);
    for (int k = 11; k <= 20; ++k) EXPECT_EQ(levels[k], 0);

    int negative[21] = {};
    negative[15] = -3;  // beyond the bottom of the track: the slider does not move
    ApplyFreshSliderRule(negative, 2000, 100);
    EXPECT_EQ(negative[15], -3);
}

// Pitch detection: the worked examples through the whole chain, and each rule of the peak
// search and its filters on crafted magnitude arrays.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "analysis/Fft.h"
#include "analysis/Harmonics.h"
#include "analysis/PitchDetection.h"
#include "analysis/Spectrum.h"

using namespace sonabi;

namespace {

// Magnitudes of exactly the written half, so that a read past it is an out-of-bounds access.
struct Crafted {
    explicit Crafted(unsigned n = 2048) : fftSize(n), M(n / 2, 0.0), Z(n / 2, 0.0), F(n) {
        for (unsigned k = 0; k < n; ++k) F[k] = {static_cast<double>(k), -1.0 * k};
        in.magnitudes = M.data();
        in.noise = Z.data();
        in.fftOutput = F.data();
        in.fftSize = n;
    }
    // A peak whose two neighbours are half as high: it interpolates to the bin itself.
    void Triangle(int bin, double level) {
        M[bin - 1] = M[bin + 1] = level / 2;
        M[bin] = level;
    }
    bool Detect() { return DetectPitch(in, r); }
    std::vector<int> Bins() const { return {r.PeakBins + 1, r.PeakBins + 1 + r.PeakCount}; }
    std::vector<int> Harmonics() const {
        return {r.PeakHarmonics + 1, r.PeakHarmonics + 1 + r.PeakCount};
    }

    unsigned fftSize;
    std::vector<double> M, Z;
    std::vector<Complex> F;
    DetectionInput in;
    DetectionResult r;
};

// Round(amplitude x sin(...)) sums of 16-bit mono samples at 44100 Hz, windowed and transformed.
struct ToneSpectrum {
    explicit ToneSpectrum(std::vector<std::pair<double, double>> partials, unsigned n = 2048)
        : input(n), work(n), output(n), magnitudes(n / 2), noise(n / 2, 0.0) {
        std::vector<uint8_t> bytes;
        for (unsigned t = 0; t < n; ++t) {
            double v = 0;
            for (auto [amplitude, hz] : partials)
                v += amplitude * std::sin(2 * M_PI * hz * t / 44100);
            const int s = static_cast<int>(std::lrint(v));
            bytes.push_back(static_cast<uint8_t>(s & 0xFF));
            bytes.push_back(static_cast<uint8_t>((s >> 8) & 0xFF));
        }
        EXPECT_TRUE(FillWindowedInput(n, bytes.data(), 16, 1, 0, input.data()));
        EXPECT_TRUE(ComputeFft(n, input.data(), work.data(), output.data(), magnitudes.data()));
        in.magnitudes = magnitudes.data();
        in.noise = noise.data();
        in.fftOutput = output.data();
        in.fftSize = n;
    }
    std::vector<double> input;
    std::vector<Complex> work, output;
    std::vector<double> magnitudes, noise;
    DetectionInput in;
    DetectionResult r;
};

}  // namespace

TEST(DetectPitchExamples, Sine440GivesBin20AndFrequency440) {
    ToneSpectrum s({{10000, 440}});
    ASSERT_TRUE(DetectPitch(s.in, s.r));
    ASSERT_EQ(s.r.PeakCount, 1);
    EXPECT_EQ(s.r.PeakBins[1], 20);
    EXPECT_NEAR(s.magnitudes[20], 2323.6, 0.05);
    EXPECT_NEAR(s.r.FundamentalPosition, 20.4221, 5e-5);
    EXPECT_EQ(s.r.DetectedFrequency, 440);
    EXPECT_EQ(s.r.PeakLevel, 2324);
    EXPECT_EQ(s.r.PeakLevels[1], 1.0);
    EXPECT_EQ(s.r.SpanBinCount, 186);
    EXPECT_EQ(s.r.PeakValues[1].re, s.output[20].re);
    EXPECT_EQ(s.r.PeakValues[1].im, s.output[20].im);
    EXPECT_FALSE(s.r.harmonicLevelsCleared);
}

TEST(DetectPitchExamples, MiddleCGivesBin12AndFrequency260) {
    ToneSpectrum s({{8000, 261.63}});
    ASSERT_TRUE(DetectPitch(s.in, s.r));
    ASSERT_EQ(s.r.PeakCount, 1);
    EXPECT_EQ(s.r.PeakBins[1], 12);
    EXPECT_NEAR(s.r.FundamentalPosition, 12.0820, 5e-5);
    EXPECT_EQ(s.r.DetectedFrequency, 260);
}

TEST(DetectPitchExamples, ThreeHarmonicsGiveTheirNumbersAndRelativeLevels) {
    ToneSpectrum s({{6000, 220}, {3000, 440}, {1500, 660}});
    s.in.harmonicsFromAnalysis = true;
    ASSERT_TRUE(DetectPitch(s.in, s.r));
    EXPECT_EQ(std::vector<int>(s.r.PeakBins + 1, s.r.PeakBins + 4), (std::vector<int>{10, 20, 31}));
    ASSERT_EQ(s.r.PeakCount, 3);
    EXPECT_EQ(s.r.DetectedFrequency, 219);
    EXPECT_EQ(s.r.PeakLevel, 1563);
    EXPECT_EQ(s.r.PeakHarmonics[1], 1);
    EXPECT_EQ(s.r.PeakHarmonics[2], 2);
    EXPECT_EQ(s.r.PeakHarmonics[3], 3);
    EXPECT_NEAR(s.r.PeakLevels[1], 1.0, 1e-12);
    EXPECT_NEAR(s.r.PeakLevels[2], 0.44504, 5e-6);
    EXPECT_NEAR(s.r.PeakLevels[3], 0.23570, 5e-6);
    EXPECT_TRUE(s.r.harmonicLevelsCleared);
    // The small side peaks at bins 15 and 25 fall to the 5 % filter but stay in the log list.
    std::vector<int> logBins(s.r.PeakLogBins + 1, s.r.PeakLogBins + 1 + s.r.PeakLogCount);
    EXPECT_NE(std::find(logBins.begin(), logBins.end(), 15), logBins.end());
    EXPECT_NE(std::find(logBins.begin(), logBins.end(), 25), logBins.end());

    int levels[21] = {};
    StoreHarmonicLevels(s.r.PeakCount, s.r.PeakLevels, s.r.PeakHarmonics, levels);
    EXPECT_EQ(levels[1], 100);
    EXPECT_EQ(levels[2], 45);
    EXPECT_EQ(levels[3], 24);
    for (int k = 4; k <= 20; ++k) EXPECT_EQ(levels[k], 0);
}

TEST(DetectPitch, SilenceFindsNothingAndWritesNoFrequency) {
    Crafted c;
    c.r.DetectedFrequency = 123;
    EXPECT_FALSE(c.Detect());
    EXPECT_EQ(c.r.PeakCount, 0);
    EXPECT_EQ(c.r.PeakLogCount, 0);
    EXPECT_FALSE(c.r.frequencyWritten);
    EXPECT_EQ(c.r.DetectedFrequency, 123);
    EXPECT_EQ(c.r.SpanBinCount, 186);

    DetectionInput none;  // no spectrum arrays at all
    DetectionResult r;
    EXPECT_FALSE(DetectPitch(none, r));
    EXPECT_EQ(r.SpanBinCount, 0);
}

TEST(DetectPitch, PeakSearchIsStrictAndStartsAboveTheLowCut) {
    Crafted c;
    c.in.lowCutBin = 5;
    c.M[5] = 100;  // a maximum at the cut-off bin itself is ignored
    EXPECT_FALSE(c.Detect());
    c.M[5] = 0;
    c.M[6] = 100;
    ASSERT_TRUE(c.Detect());
    EXPECT_EQ(c.Bins(), std::vector<int>{6});

    Crafted flat;
    flat.M[10] = flat.M[11] = 100;  // a flat top of two bins is no peak
    flat.M[30] = 100;
    flat.M[40] = 50;
    flat.M[41] = 60;  // a shoulder on the left does not hurt: 41 is a peak
    flat.M[49] = 70;
    flat.M[50] = 70;  // 49 has an equal right neighbour, 50 an equal left one: neither
    ASSERT_TRUE(flat.Detect());
    EXPECT_EQ(flat.Bins(), (std::vector<int>{30, 41}));
}

TEST(DetectPitch, ThresholdIsStrictAndNoiseIsSubtracted) {
    Crafted c;
    c.M[20] = 5.0;
    EXPECT_FALSE(c.Detect());
    c.M[20] = 5.000001;
    ASSERT_TRUE(c.Detect());

    Crafted noisy;
    noisy.M[20] = 100;
    noisy.Z[20] = 96;  // D = 4, below the threshold
    noisy.M[30] = 50;
    ASSERT_TRUE(noisy.Detect());
    EXPECT_EQ(noisy.Bins(), std::vector<int>{30});
    EXPECT_EQ(noisy.r.PeakLevel, 50);
}

TEST(DetectPitch, RelativeFilterKeepsFivePercentAndDropsLess) {
    Crafted c;
    c.in.peakThreshold = 1.0;
    c.M[10] = 10.0;  // exactly 5 % of 200: stays
    c.M[20] = 200.0;
    c.M[30] = 9.99;  // below 5 %: removed
    c.M[40] = 9.99;
    ASSERT_TRUE(c.Detect());
    EXPECT_EQ(c.Bins(), (std::vector<int>{10, 20}));
    EXPECT_EQ(c.r.PeakLogCount, 4);  // the voiceprint list is never filtered
    EXPECT_DOUBLE_EQ(c.r.PeakLevels[1], 0.05);
}

TEST(DetectPitch, LowStrayFirstPeakFarBelowTheOthersIsRemoved) {
    Crafted stray;
    stray.Triangle(2, 100);
    for (int bin : {20, 40, 60}) stray.Triangle(bin, 50);
    ASSERT_TRUE(stray.Detect());  // mean ratio 15.25 > 2.2 x 2
    EXPECT_EQ(stray.Bins(), (std::vector<int>{20, 40, 60}));
    EXPECT_EQ(stray.r.FundamentalPosition, 20.0);
    EXPECT_EQ(stray.r.PeakLevel, 100);  // the strongest, though removed, still sets the scale
    EXPECT_EQ(stray.r.PeakLevels[1], 0.5);

    Crafted kept;
    for (int bin : {10, 20, 30, 40}) kept.Triangle(bin, 50);
    ASSERT_TRUE(kept.Detect());  // mean ratio 2.5 < 22
    EXPECT_EQ(kept.Bins(), (std::vector<int>{10, 20, 30, 40}));

    Crafted three;  // only with more than three peaks
    three.Triangle(2, 100);
    three.Triangle(20, 50);
    three.Triangle(40, 50);
    ASSERT_TRUE(three.Detect());
    EXPECT_EQ(three.Bins(), (std::vector<int>{2, 20, 40}));
}

TEST(DetectPitch, TwoPeakRuleReplacesAWeakerFirstPeakOffTheHarmonicSeries) {
    struct Case {
        int second;
        double firstLevel, secondLevel;
        std::vector<int> bins;
    };
    const Case cases[] = {
        {25, 50, 100, {25}},      // 5 bins from 2 x 10 and stronger: it alone remains
        {25, 100, 50, {10, 25}},  // weaker: both remain
        {23, 50, 100, {10, 23}},  // 3 bins from 20 counts as a multiple
        {24, 50, 100, {24}},      // 4 bins does not
    };
    for (const Case& k : cases) {
        Crafted c;
        c.Triangle(10, k.firstLevel);
        c.Triangle(k.second, k.secondLevel);
        ASSERT_TRUE(c.Detect());
        EXPECT_EQ(c.Bins(), k.bins) << k.second << " " << k.firstLevel;
        EXPECT_EQ(c.r.FundamentalPosition, k.bins[0]);
    }
}

TEST(DetectPitch, HarmonicDistanceThreeStaysAndFourGoes) {
    for (int third : {33, 34}) {
        Crafted c;
        c.in.harmonicsFromAnalysis = true;
        c.Triangle(10, 100);
        c.Triangle(20, 80);
        c.Triangle(third, 60);
        ASSERT_TRUE(c.Detect());
        if (third == 33) {
            EXPECT_EQ(c.Harmonics(), (std::vector<int>{1, 2, 3}));
        } else {
            EXPECT_EQ(c.Harmonics(), (std::vector<int>{1, 2}));
        }
    }
}

TEST(DetectPitch, EqualHarmonicNumbersKeepTheStrongerAndTheEarlierOnATie) {
    struct Case {
        double level20, level22;
        int keptBin;
    };
    for (const Case& k : {Case{80, 60, 20}, Case{60, 80, 22}, Case{70, 70, 20}}) {
        Crafted c;
        c.in.harmonicsFromAnalysis = true;
        for (int bin : {10, 20, 22, 30}) c.M[bin] = 100;
        c.M[20] = k.level20;
        c.M[22] = k.level22;
        ASSERT_TRUE(c.Detect());
        ASSERT_EQ(c.Harmonics(), (std::vector<int>{1, 2, 3}));
        EXPECT_EQ(c.Bins(), (std::vector<int>{10, k.keptBin, 30}));
        EXPECT_EQ(c.r.PeakValues[2].re, k.keptBin);  // the value moves with its peak
        EXPECT_EQ(c.r.PeakLevels[2], std::max(k.level20, k.level22) / 100);
    }
}

TEST(DetectPitch, EqualHarmonicRunZeroesTheEntryBeforeEachNewBest) {
    Crafted c;
    c.in.harmonicsFromAnalysis = true;
    c.M[10] = 100;
    c.M[18] = 50;
    c.M[20] = 30;
    c.M[22] = 70;  // 18, 20 and 22 are all harmonic 2
    ASSERT_TRUE(c.Detect());
    // 20 loses to 18; 22 beats 18 but zeroes its predecessor 20, so 18 and 22 both remain.
    EXPECT_EQ(c.Bins(), (std::vector<int>{10, 18, 22}));
    EXPECT_EQ(c.Harmonics(), (std::vector<int>{1, 2, 2}));
    int levels[21] = {};
    StoreHarmonicLevels(c.r.PeakCount, c.r.PeakLevels, c.r.PeakHarmonics, levels);
    EXPECT_EQ(levels[2], 70);  // the later one overwrites
}

TEST(DetectPitch, At119PeaksTheSearchStops) {
    Crafted c;
    c.in.frequencySpan = 8000.0;  // 743 bins
    for (int bin = 3; bin <= 301; bin += 2) c.M[bin] = 10 + bin;
    EXPECT_TRUE(c.Detect());
    EXPECT_EQ(c.r.PeakLogCount, 119);
    EXPECT_EQ(c.r.PeakLogBins[119], 3 + 2 * 118);
    EXPECT_EQ(c.r.PeakLevel, 10 + 239);
}

TEST(DetectPitch, SearchNeverReadsPastTheWrittenHalf) {
    Crafted c(256);
    c.in.curRate = c.in.sampleRate = 4000;  // 256 bins would be searched
    EXPECT_EQ(SpanBinCount(256, 4000, 2000.0), 256);
    c.M[126] = 100;  // the last bin, no right neighbour
    c.M[125] = 90;   // its neighbour j + 2 would be bin 127
    EXPECT_FALSE(c.Detect());
    c.M[124] = 100;
    c.M[125] = 0;
    c.M[123] = 50;
    ASSERT_TRUE(c.Detect());
    EXPECT_EQ(c.Bins(), std::vector<int>{124});
}

TEST(DetectPitch, InterpolatesOnTheSideOfTheLargerNeighbour) {
    Crafted right;
    right.M[29] = 40;
    right.M[30] = 100;
    right.M[31] = 60;
    ASSERT_TRUE(right.Detect());
    EXPECT_NEAR(right.r.FundamentalPosition, 30 + 1.0 / 6, 1e-12);
    EXPECT_EQ(right.r.DetectedFrequency, std::lrint(44100 * (30 + 1.0 / 6) / 2047));

    Crafted left;
    left.M[29] = 60;
    left.M[30] = 100;
    left.M[31] = 40;
    ASSERT_TRUE(left.Detect());
    EXPECT_NEAR(left.r.FundamentalPosition, 30 - 1.0 / 6, 1e-12);
}

TEST(DetectPitch, FundamentalAtBinOneAndParallelLinesUseThePeakBin) {
    Crafted low;
    low.in.lowCutBin = 0;
    low.M[0] = 50;
    low.M[1] = 100;
    low.M[2] = 20;  // left side larger: would need bin -1
    ASSERT_TRUE(low.Detect());
    EXPECT_EQ(low.r.FundamentalPosition, 1.0);
    EXPECT_EQ(low.r.DetectedFrequency, 22);

    Crafted lowRight;
    lowRight.in.lowCutBin = 0;
    lowRight.M[0] = 20;
    lowRight.M[1] = 100;
    lowRight.M[2] = 50;
    lowRight.M[3] = 10;  // right side larger: bins 0 .. 3 exist
    ASSERT_TRUE(lowRight.Detect());
    EXPECT_NEAR(lowRight.r.FundamentalPosition, 11.0 / 12, 1e-12);

    Crafted parallel;
    parallel.M[19] = 50;
    parallel.M[20] = 100;
    parallel.M[21] = 80;
    parallel.M[22] = 130;  // rises by 50 on both sides of the pair
    ASSERT_TRUE(parallel.Detect());
    EXPECT_EQ(parallel.r.PeakBins[1], 20);
    EXPECT_EQ(parallel.r.FundamentalPosition, 20.0);
}

TEST(DetectPitch, NegativePositionFailsAfterWritingFrequencyAndLevel) {
    Crafted c;
    c.M[0] = 100;
    c.M[1] = 50;
    c.M[2] = 60;
    c.M[3] = 20;  // lines through (0,100),(1,50) and (2,60),(3,20) meet at x = -4
    EXPECT_FALSE(c.Detect());
    EXPECT_TRUE(c.r.frequencyWritten);
    EXPECT_EQ(c.r.FundamentalPosition, -4.0);
    EXPECT_EQ(c.r.DetectedFrequency, -86);
    EXPECT_EQ(c.r.PeakLevel, 60);
}

TEST(DetectPitch, VoiceprintLevelsAreNormalisedOverTheirRangeAndZero) {
    Crafted c;
    c.M[20] = 10;
    c.M[40] = 1000;
    ASSERT_TRUE(c.Detect());
    ASSERT_EQ(c.r.PeakLogCount, 2);
    EXPECT_NEAR(c.r.PeakLogLevels[1], 1.0 / 3, 1e-15);  // 100 of 0 .. 300
    EXPECT_EQ(c.r.PeakLogLevels[2], 1.0);
    EXPECT_EQ(c.r.PeakLogBins[2], 40);

    Crafted flat;  // one peak of magnitude 1: log range 0 .. 0
    flat.in.peakThreshold = 0.5;
    flat.M[20] = 1.0;
    EXPECT_FALSE(flat.Detect());
    EXPECT_EQ(flat.r.PeakLogCount, 1);
    EXPECT_FALSE(flat.r.frequencyWritten);
}

TEST(LineIntersectPeak, MeetsTheTwoLinesOrReportsParallel) {
    // y = x through (0,0),(1,1) and y = 4 - x through (2,2),(3,1) meet at 2.
    EXPECT_EQ(LineIntersectPeak(0, 3, 0, 1, 2, 1), 2.0);
    EXPECT_EQ(LineIntersectPeak(9, 12, 50, 100, 100, 50), 10.5);
    EXPECT_TRUE(std::isnan(LineIntersectPeak(5, 8, 1, 2, 3, 4)));
}

// The peak pass of the spectrum drawing: which bins it examines, which it reports, and the
// noise capture it carries out.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "analysis/Spectrum.h"

using namespace sonabi;

namespace {

struct Pass {
    explicit Pass(unsigned fftSize = 2048) : fftSize(fftSize), M(fftSize / 2), N(fftSize / 2) {}
    double Run(int binCount) {
        peaks.clear();
        return ScanSpectrumPeaks(binCount, fftSize, M.data(), N.data(), lowCutBin, capturePending,
                                 peakThreshold,
                                 [this](int bin, double v) { peaks.emplace_back(bin, v); });
    }
    unsigned fftSize;
    std::vector<double> M, N;  // exactly the written half
    unsigned lowCutBin = 1;
    bool capturePending = false;
    double peakThreshold = 5.0;
    std::vector<std::pair<int, double>> peaks;
};

using Peaks = std::vector<std::pair<int, double>>;

}  // namespace

TEST(SpanBinCount, CoversTwiceTheSpan) {
    EXPECT_EQ(SpanBinCount(2048, 44100, 2000.0), 186);  // Round(185.76)
    EXPECT_EQ(SpanBinCount(256, 44100, 250.0), 3);      // Round(2.90)
    EXPECT_EQ(SpanBinCount(2048, 44100, 8000.0), 743);
    EXPECT_EQ(SpanBinCount(2048, 0, 2000.0), 0);  // no rate: nothing to search
    EXPECT_EQ(ReadableBinCount(186, 2048), 186);
    EXPECT_EQ(ReadableBinCount(2048, 2048), 1023);
    EXPECT_EQ(ReadableBinCount(5, 2), 0);
}

TEST(ScanSpectrumPeaks, ReportsStrictMaximaAboveTheLowCutInOrder) {
    Pass p;
    p.M[1] = 50;            // bin 1 is the cut-off bin
    p.M[10] = p.M[11] = 9;  // plateau
    p.M[20] = 30;
    p.M[40] = 3;
    p.N[40] = 4;  // noise above the magnitude: D = -1, below both neighbours' 0
    p.M[41] = 2;
    p.M[60] = 12;
    EXPECT_EQ(p.Run(186), 30.0);
    EXPECT_EQ(p.peaks, (Peaks{{20, 30.0}, {41, 2.0}, {60, 12.0}}));
    EXPECT_FALSE(p.capturePending);
    EXPECT_EQ(p.peakThreshold, 5.0);  // only a capture changes it

    p.lowCutBin = 0;
    p.Run(186);
    EXPECT_EQ(p.peaks.front(), (std::pair<int, double>{1, 50.0}));
}

TEST(ScanSpectrumPeaks, SmallSpanExaminesOnlyBinsOneAndTwo) {
    Pass p(256);
    p.lowCutBin = 0;
    p.M = std::vector<double>(128, 0.0);
    p.M[1] = 5;
    p.M[3] = 9;  // bin 3 is beyond n - 1 = 2
    const int n = SpanBinCount(256, 44100, 250.0);
    p.Run(n);
    EXPECT_EQ(p.peaks, (Peaks{{1, 5.0}}));

    for (int k = 0; k < 6; ++k) p.M[k] = 7 + k;
    p.capturePending = true;
    p.Run(n);
    EXPECT_EQ(p.N[0], 7.0);
    EXPECT_EQ(p.N[1], 8.0);
    EXPECT_EQ(p.N[2], 0.0);  // a capture copies bins 0 .. n - 2
}

TEST(ScanSpectrumPeaks, NeverReadsPastTheWrittenHalf) {
    Pass p(256);
    p.lowCutBin = 0;
    for (int k = 0; k < 128; ++k) p.M[k] = k % 2 ? 10 + k : 0;  // every odd bin a maximum
    p.Run(SpanBinCount(256, 4000, 2000.0));                     // 256 bins asked for
    ASSERT_FALSE(p.peaks.empty());
    EXPECT_EQ(p.peaks.back().first, 125);  // 127 would need bin 128
}

TEST(ScanSpectrumPeaks, CaptureOfSilenceSetsThresholdFive) {
    Pass p;
    p.peakThreshold = 300.0;
    p.capturePending = true;
    EXPECT_EQ(p.Run(186), 0.0);
    EXPECT_EQ(p.peakThreshold, 5.0);
    EXPECT_FALSE(p.capturePending);
}

TEST(ScanSpectrumPeaks, CaptureOfAHumTakesItsHighestPeakAndSubtractsItAfterwards) {
    Pass p;
    p.M[1] = 90;  // at the cut-off bin: not a peak of the pass
    p.M[10] = 40;
    p.M[20] = 25;
    p.M[30] = 12;
    p.M[185] = 0;
    p.capturePending = true;
    EXPECT_EQ(p.Run(186), 40.0);
    EXPECT_EQ(p.peakThreshold, 40.0);
    for (int k = 0; k <= 184; ++k) ASSERT_EQ(p.N[k], p.M[k]) << k;

    // The same hum again: nothing is left. A tone on top shows with its own level only.
    EXPECT_EQ(p.Run(186), 0.0);
    EXPECT_TRUE(p.peaks.empty());
    p.M[20] += 100;
    p.Run(186);
    EXPECT_EQ(p.peaks, (Peaks{{20, 100.0}}));
}

TEST(ScanSpectrumPeaks, CaptureCopiesOneBinAheadOfTheTest) {
    // A falling slope has no maximum, but in the capture pass the left neighbour already reads
    // 0, so every bin above the next one counts.
    Pass p;
    for (int k = 0; k < 1024; ++k) p.M[k] = 200.0 - k;
    EXPECT_EQ(p.Run(186), 0.0);
    p.capturePending = true;
    EXPECT_EQ(p.Run(186), 198.0);  // bin 2, the first above the cut-off
    EXPECT_EQ(p.peaks.size(), 184u);
    EXPECT_EQ(p.peakThreshold, 198.0);
    EXPECT_EQ(p.N[184], 16.0);
    EXPECT_EQ(p.N[185], 0.0);  // the last bin, n - 1, is never copied
}

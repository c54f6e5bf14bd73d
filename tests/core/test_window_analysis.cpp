// One window from raw PCM bytes to frequency, level and harmonic levels, as the analyser runs it.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "WindowHelpers.h"
#include "analysis/WindowAnalysis.h"

using namespace sonabi;
using namespace windowtest;

TEST(AnalyzeWindow, Sine440GivesFrequencyLevelAndOneHarmonic) {
    std::vector<uint8_t> bytes;
    for (int t = 0; t < 4096; ++t) Put16(bytes, Sine(10000, 440, t));
    Analyzer a;
    ASSERT_TRUE(a.Run(bytes, MakePcmFormat(1, 16)));
    EXPECT_TRUE(a.result.detected);
    EXPECT_EQ(a.result.frequency, 440);
    EXPECT_EQ(a.result.level, 2324);
    EXPECT_EQ(a.result.harmonicLevels[1], 100);
    for (int k = 2; k <= 20; ++k) EXPECT_EQ(a.result.harmonicLevels[k], 0);

    // A later window of the same tone, and one that does not fit.
    ASSERT_TRUE(a.Run(bytes, MakePcmFormat(1, 16), 2 * 1000));
    EXPECT_EQ(a.result.frequency, 440);
    EXPECT_FALSE(a.Run(bytes, MakePcmFormat(1, 16), 2 * 2049));
    EXPECT_FALSE(a.result.detected);
}

TEST(AnalyzeWindow, StereoSearchesTheSecondChannel) {
    std::vector<uint8_t> bytes;
    for (int t = 0; t < 2048; ++t) {
        Put16(bytes, Sine(10000, 440, t));
        Put16(bytes, Sine(8000, 261.63, t));
    }
    Analyzer a;
    ASSERT_TRUE(a.Run(bytes, MakePcmFormat(2, 16)));
    EXPECT_EQ(a.result.frequency, 260);
}

TEST(AnalyzeWindow, EightBitSineWithItsThreshold) {
    std::vector<uint8_t> bytes;
    for (int t = 0; t < 2048; ++t) bytes.push_back(static_cast<uint8_t>(128 + Sine(100, 440, t)));
    Analyzer a;
    a.settings.peakThreshold = 0.1;
    ASSERT_TRUE(a.Run(bytes, MakePcmFormat(1, 8)));
    EXPECT_TRUE(a.result.detected);
    EXPECT_EQ(a.result.frequency, 440);
    EXPECT_EQ(a.result.harmonicLevels[1], 100);
}

TEST(AnalyzeWindow, SilenceAndUnreadableFormatsDetectNothing) {
    Analyzer a;
    ASSERT_TRUE(a.Run(std::vector<uint8_t>(4096, 0), MakePcmFormat(1, 16)));
    EXPECT_FALSE(a.result.detected);
    for (int k = 1; k <= 20; ++k) EXPECT_EQ(a.result.harmonicLevels[k], 0);

    EXPECT_FALSE(a.Run(std::vector<uint8_t>(5 * 2048, 0), MakePcmFormat(1, 40)));
    WAVEFORMATEX badAlign = MakePcmFormat(2, 16);
    badAlign.nBlockAlign = 2;
    EXPECT_FALSE(a.Run(std::vector<uint8_t>(8192, 0), badAlign));
    a.settings.fftSize = 4096;
    EXPECT_FALSE(a.Run(std::vector<uint8_t>(16384, 0), MakePcmFormat(1, 16)));
}

TEST(AnalyzeWindow, HarmonicsAboveTheMixerLimitReadZero) {
    // Eight harmonics of 215 Hz, falling as 1/h. With the mixer frequency at 4410 Hz only
    // 22050 div 4410 = 5 harmonics fit, so the sliders of 6 and up snap back to level 0.
    std::vector<uint8_t> bytes;
    for (int t = 0; t < 2048; ++t) {
        double v = 0;
        for (int h = 1; h <= 8; ++h) v += 8000.0 / h * std::sin(2 * M_PI * 215.33 * h * t / 44100);
        Put16(bytes, static_cast<int>(std::lrint(v)));
    }
    Analyzer a;
    a.settings.frequencySpan = 4000.0;
    ASSERT_TRUE(a.Run(bytes, MakePcmFormat(1, 16)));
    ASSERT_TRUE(a.result.detected);
    EXPECT_GT(a.result.harmonicLevels[6], 0);
    a.settings.freqPosition = 4410;  // 22050 div 4410 = 5
    ASSERT_TRUE(a.Run(bytes, MakePcmFormat(1, 16)));
    for (int k = 1; k <= 5; ++k) EXPECT_GT(a.result.harmonicLevels[k], 0) << k;
    for (int k = 6; k <= 20; ++k) EXPECT_EQ(a.result.harmonicLevels[k], 0) << k;
}

TEST(AnalyzeWindow, HzIsTheUnroundedFrequency) {
    std::vector<uint8_t> bytes;
    for (int t = 0; t < 2048; ++t) Put16(bytes, Sine(10000, 261.63, t));
    Analyzer a;
    ASSERT_TRUE(a.Run(bytes, MakePcmFormat(1, 16)));
    ASSERT_TRUE(a.result.detected);
    EXPECT_EQ(std::lrint(a.result.hz), a.result.frequency);
    EXPECT_NEAR(a.result.hz, 260.29, 0.01);  // the detection's interpolation, as the window's
    EXPECT_EQ(a.result.hz,
              static_cast<double>(44100.0L * a.ws->detection.FundamentalPosition / 2047));
    // Nothing detected: no hz either.
    ASSERT_TRUE(a.Run(std::vector<uint8_t>(4096, 0), MakePcmFormat(1, 16)));
    EXPECT_EQ(a.result.hz, 0.0);
}

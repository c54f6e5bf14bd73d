// One window from raw PCM bytes to frequency, level and harmonic levels, as the analyser runs it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "WindowHelpers.h"
#include "analysis/RefinedPitch.h"
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

// The refined pitch on sines and band-limited sawtooths, C2 to A6 every third semitone, in tune
// and 17 cents sharp, at 44.1 and 48 kHz and three window lengths: within 2 cents of the truth
// in the median of each tone's windows, wherever the window holds three periods and the
// detection found the fundamental, and within half a cent in the median of all tones.
TEST(RefinedPitch, WithinTwoCentsOfEveryToneAndHalfACentInTheMedian) {
    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v.empty() ? NAN : v[v.size() / 2];
    };
    struct Tally {
        std::vector<double> refined, detected;
        double worst = 0;
    };
    for (const uint32_t rate : {44100u, 48000u}) {
        std::map<unsigned, Tally> tallies;
        for (int midi = 36; midi <= 93; midi += 3) {
            for (const double detune : {0.0, 17.0}) {
                for (const bool saw : {false, true}) {
                    const double f = 440 * std::pow(2.0, (midi - 69 + detune / 100) / 12);
                    // A quarter of a second: eight windows of 1024 frames at 44.1 kHz.
                    std::vector<uint8_t> bytes;
                    const int harmonics = saw ? int(rate / 2 / f) : 1;
                    for (uint32_t t = 0; t < rate / 4; ++t) {
                        double s = 0;
                        for (int k = 1; k <= harmonics; ++k)
                            s += std::sin(2 * M_PI * k * f * t / rate) / k;
                        Put16(bytes, static_cast<int>(std::lrint(s * (saw ? 5000 : 10000))));
                    }
                    for (const unsigned n : {2048u, 1024u, 512u}) {
                        if (n * f / rate < 3) continue;
                        Analyzer a;
                        a.settings.fftSize = n;
                        std::vector<double> refined, detected;
                        for (uint64_t at = 0; a.Run(bytes, MakePcmFormat(1, 16, rate), at);
                             at += n) {
                            const double off = 1200 * std::log2(a.result.hz / f);
                            if (!a.result.detected || std::fabs(off) > 300) continue;
                            refined.push_back(std::fabs(1200 * std::log2(a.result.pitch / f)));
                            detected.push_back(std::fabs(off));
                        }
                        if (refined.empty()) continue;  // the detection found another harmonic
                        Tally& tally = tallies[n];
                        tally.refined.push_back(median(refined));
                        tally.detected.push_back(median(detected));
                        tally.worst = std::max(tally.worst, tally.refined.back());
                        EXPECT_LT(tally.refined.back(), 2.0)
                            << "midi " << midi << " +" << detune << (saw ? " saw" : " sine")
                            << " at " << rate << " Hz, " << n << " frames";
                    }
                }
            }
        }
        for (const auto& [n, tally] : tallies) {
            std::printf(
                "[ measured ] %u Hz, %u frames, %zu tones: median %.3f, worst %.3f "
                "cents (the detection's hz: median %.3f, worst %.3f)\n",
                rate, n, tally.refined.size(), median(tally.refined), tally.worst,
                median(tally.detected),
                *std::max_element(tally.detected.begin(), tally.detected.end()));
            EXPECT_LT(median(tally.refined), 0.5);
        }
    }
}

// Both ways of summing the squared differences, the SSE2 one and the plain loop of other CPUs,
// give the same bits, at every width and with a y or none.
TEST(RefinedPitch, PortableSumsEqualTheVectorOnesBitForBit) {
    std::mt19937 rng(9);
    std::uniform_real_distribution<float> value(-32768, 32767);
    std::vector<float> x(600), y(600);
    for (size_t i = 0; i < x.size(); ++i) x[i] = value(rng), y[i] = value(rng);
    for (unsigned w = 0; w <= 520; ++w)
        for (const float* other :
             {static_cast<const float*>(nullptr), static_cast<const float*>(y.data())}) {
            const double vector = PitchSquareSum(x.data(), other, w);
            const double portable = PitchSquareSum(x.data(), other, w, true);
            ASSERT_EQ(std::memcmp(&vector, &portable, sizeof vector), 0) << w;
        }
}

// Noise, any detected frequency from below one period per window to the top of the spectrum,
// every window length and coding: the refined pitch reads only the window (AddressSanitizer
// watches) and gives a positive frequency near the detected one, or the detected one itself.
TEST(RefinedPitch, AnyWindowAndFrequencyStaysInsideTheWindow) {
    std::mt19937 rng(5);
    std::vector<uint8_t> noise(2048 * 8);
    for (uint8_t& b : noise) b = static_cast<uint8_t>(rng());
    std::vector<float> scratch(kMaxRefineFrames);
    for (const SampleCoding coding : {SampleCoding(8), SampleCoding(16), SampleCoding(24),
                                      SampleCoding(32, true), SampleCoding(64, true)}) {
        for (unsigned n = 2; n <= 2048; n *= 2) {
            for (double hz = 5; hz < 30000; hz *= 1.07) {
                // 16-bit windows hold a sine at hz, which repeats itself: the search goes on to
                // as many periods as fit.
                std::vector<uint8_t> sine;
                if (coding.bits == 16)
                    for (unsigned i = 0; i < n; ++i)
                        Put16(sine, static_cast<int>(
                                        std::lrint(9000 * std::sin(2 * M_PI * hz * i / 44100))));
                const uint8_t* window = coding.bits == 16 ? sine.data() : noise.data();
                const double pitch =
                    RefinePitch(window, coding, 1, 0, n, 44100, hz, scratch.data());
                ASSERT_TRUE(pitch > 0 && std::fabs(std::log2(pitch / hz)) < 0.1)
                    << n << " frames, " << hz << " Hz: " << pitch;
            }
        }
    }
}

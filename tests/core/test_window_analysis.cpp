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
#include <utility>
#include <vector>

#include "WindowHelpers.h"
#include "analysis/HeldNotes.h"
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

// Every way of summing the squared differences, AVX, SSE2 and the plain loop of other CPUs,
// gives the same bits, at every width and with a y or none.
TEST(RefinedPitch, PortableSumsEqualTheVectorOnesBitForBit) {
    std::mt19937 rng(9);
    std::uniform_real_distribution<float> value(-32768, 32767);
    std::vector<float> x(600), y(600);
    for (size_t i = 0; i < x.size(); ++i) x[i] = value(rng), y[i] = value(rng);
    for (unsigned w = 0; w <= 520; ++w)
        for (const float* other : {static_cast<const float*>(nullptr), std::as_const(y).data()}) {
            const double portable = PitchSquareSum(x.data(), other, w, SumPath::Portable);
            for (const SumPath path : {SumPath::Fastest, SumPath::Avx, SumPath::Sse2}) {
                const double sum = PitchSquareSum(x.data(), other, w, path);
                ASSERT_EQ(std::memcmp(&sum, &portable, sizeof sum), 0)
                    << w << " path " << static_cast<int>(path);
            }
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

// Float windows, mono (read four at a time) and the second channel of stereo (one at a time),
// with the odd values among a sine's, reach the search as FloatSampleValue rounded to float.
TEST(RefinedPitch, ReadsFloatsAsTheWeightingDoes) {
    const float odd[] = {NAN, INFINITY, -INFINITY, -0.0f, 0.0f, 300.0f, -257.5f, 1e-45f, 3e38f};
    for (const unsigned n : {2048u, 1027u}) {
        std::vector<float> samples(n);
        for (unsigned i = 0; i < n; ++i)
            samples[i] =
                i % 97 < std::size(odd) ? odd[i % 97] : 0.5f * std::sin(2 * M_PI * 440 * i / 44100);
        std::vector<uint8_t> mono(4 * n), stereo(8 * n, 0);
        std::memcpy(mono.data(), samples.data(), mono.size());
        for (unsigned i = 0; i < n; ++i) std::memcpy(&stereo[8 * i + 4], &samples[i], 4);
        std::vector<float> fromMono(n), fromStereo(n);
        const SampleCoding coding(32, true);
        const double a = RefinePitch(mono.data(), coding, 1, 0, n, 44100, 440, fromMono.data());
        const double b = RefinePitch(stereo.data(), coding, 2, 1, n, 44100, 440, fromStereo.data());
        EXPECT_EQ(a, b) << n;
        for (unsigned i = 0; i < n; ++i) {
            const float expected = static_cast<float>(FloatSampleValue(samples[i]));
            ASSERT_EQ(std::memcmp(&fromMono[i], &expected, 4), 0) << n << " at " << i;
            ASSERT_EQ(std::memcmp(&fromStereo[i], &expected, 4), 0) << n << " at " << i;
        }
    }
}

// A take made of held tones and silences: each part's pitch (Hz, 0 for silence) may swing by a
// vibrato of `depth` cents at `rate` Hz; the phase runs on across the parts, as a voice's does,
// and each tone fades in and out over 5 ms.
struct TakePart {
    double seconds, hz, rate = 0, depth = 0;
};
std::vector<uint8_t> Take(const std::vector<TakePart>& parts, uint32_t rate = 44100) {
    std::vector<uint8_t> bytes;
    double phase = 0;
    for (const TakePart& part : parts) {
        const auto frames = static_cast<uint32_t>(std::lrint(part.seconds * rate));
        for (uint32_t t = 0; t < frames; ++t) {
            const double s = double(t) / rate;
            const double hz =
                part.hz * std::exp2(part.depth * std::sin(2 * M_PI * part.rate * s) / 1200);
            phase += 2 * M_PI * hz / rate;
            const double fade = std::min({1.0, s / 0.005, (part.seconds - s) / 0.005});
            const double v = part.hz > 0
                                 ? fade * (8000 * std::sin(phase) + 2000 * std::sin(2 * phase + 1))
                                 : 0.0;
            Put16(bytes, static_cast<int>(std::lrint(v)));
        }
    }
    return bytes;
}

// Held notes found in made takes: the notes, where they start and end (within a window), their
// intonation, and the vibrato's rate and depth where there is one.
TEST(HeldNotes, FindTheNotesOfATakeWithTheirIntonationAndVibrato) {
    const double a4 = 440, c4 = 261.6256, e4 = 329.6276, g4 = 391.9954;
    const double sharp17 = a4 * std::exp2(17.0 / 1200), as4 = a4 * std::exp2(1.0 / 12);
    struct Expected {
        const char* name;
        double start, end, cents;
        double rate = 0, depth = 0;  // 0: no vibrato
    };
    const struct {
        const char* take;
        std::vector<TakePart> parts;
        std::vector<Expected> notes;
    } cases[] = {
        {"A4 vibrato", {{3.0, a4, 5.5, 30}}, {{"A4", 0, 3.0, 0, 5.5, 30}}},
        {"C4 vibrato", {{0.2, 0}, {3.0, c4, 5.5, 30}}, {{"C4", 0.2, 3.2, 0, 5.5, 30}}},
        {"G4 slow shallow vibrato", {{2.5, g4, 4.5, 12}}, {{"G4", 0, 2.5, 0, 4.5, 12}}},
        {"A4 17 cents sharp", {{2.0, sharp17}}, {{"A4", 0, 2.0, 17}}},
        {"steady C4", {{1.5, c4}}, {{"C4", 0, 1.5, 0}}},
        {"C4 E4 G4 apart",
         {{0.6, c4}, {0.1, 0}, {0.6, e4}, {0.1, 0}, {0.6, g4}},
         {{"C4", 0, 0.6, 0}, {"E4", 0.7, 1.3, 0}, {"G4", 1.4, 2.0, 0}}},
        {"C4 E4 G4 joined",
         {{0.5, c4}, {0.5, e4}, {0.5, g4}},
         {{"C4", 0, 0.5, 0}, {"E4", 0.5, 1.0, 0}, {"G4", 1.0, 1.5, 0}}},
        // A semitone apart, each swinging 30 cents towards the other: still two notes.
        {"A4 A#4 vibrato joined",
         {{1.5, a4, 5.5, 30}, {1.5, as4, 5.5, 30}},
         {{"A4", 0, 1.5, 0, 5.5, 30}, {"A#4", 1.5, 3.0, 0, 5.5, 30}}},
    };
    const WAVEFORMATEX format = MakePcmFormat(1, 16, 44100);
    AnalysisSettings settings;
    const double window = 2048 / 44100.0;
    for (const auto& c : cases) {
        const std::vector<uint8_t> bytes = Take(c.parts);
        const TakeReport report =
            MakeTakeReport(bytes.data(), bytes.size(), format, settings, nullptr, 0);
        ASSERT_EQ(report.notes.size(), c.notes.size()) << c.take;
        for (size_t k = 0; k < c.notes.size(); ++k) {
            const HeldNote& got = report.notes[k];
            const Expected& want = c.notes[k];
            std::printf(
                "[ measured ] %s: %s %.3f .. %.3f s (%+.3f, %+.3f), %+.2f cents, spread "
                "%.2f, vibrato %s %.3f Hz %.2f cents\n",
                c.take, got.name.c_str(), got.start, got.end, got.start - want.start,
                got.end - want.end, got.cents, got.spread, got.vibrato ? "yes" : "no", got.rate,
                got.depth);
            EXPECT_EQ(got.name, want.name) << c.take;
            EXPECT_NEAR(got.start, want.start, window) << c.take;
            EXPECT_NEAR(got.end, want.end, window) << c.take;
            EXPECT_NEAR(got.cents, want.cents, want.depth > 0 ? 2.0 : 1.0) << c.take;
            EXPECT_EQ(got.vibrato, want.depth > 0) << c.take;
            if (want.depth > 0) {
                EXPECT_NEAR(got.rate, want.rate, 0.3) << c.take;
                EXPECT_NEAR(got.depth, want.depth, 5.0) << c.take;
                EXPECT_NEAR(got.spread, want.depth / std::sqrt(2.0), 3.0) << c.take;
            } else {
                EXPECT_LT(got.spread, 1.0) << c.take;
            }
        }
        // The drawn contour is the notes' cents: a steady tone's points lie at its cents.
        const std::vector<double> cents = ContourCents(report.contour, report.notes, a4);
        ASSERT_EQ(cents.size(), report.contour.size());
        for (size_t k = 0; k < c.notes.size(); ++k) {
            if (c.notes[k].depth > 0) continue;
            const HeldNote& n = report.notes[k];
            for (size_t i = n.first + 4; i + 4 <= n.last; ++i)
                ASSERT_NEAR(cents[i], c.notes[k].cents, 1.0) << c.take << " at " << i;
        }
    }
}

// The table's text: fixed decimals, signed cents, empty vibrato columns for a steady note, and
// the lead before each row.
TEST(HeldNotes, TableTextIsFixedAndLocaleFree) {
    HeldNote vibrato{0.017, 2.983, 0, 0, 69, "A4", -0.04, 21.26, true, 5.504, 29.96};
    HeldNote steady{3.1, 4.25, 0, 0, 61, "C#4", 17.05, 0.31, false, 0, 0};
    std::string csv = HeldNotesCsvHeader();
    AppendHeldNotesCsv(csv, "a.wav,", {vibrato, steady});
    EXPECT_EQ(csv,
              "start,end,note,cents,spread,rate,depth\n"
              "a.wav,0.017,2.983,A4,0.0,21.3,5.50,30.0\n"
              "a.wav,3.100,4.250,C#4,+17.1,0.3,,\n");
    std::string json;
    AppendHeldNotesJson(json, "\"file\":\"a.wav\",", {steady});
    EXPECT_EQ(json,
              "{\"file\":\"a.wav\",\"start\":3.100,\"end\":4.250,\"note\":\"C#4\",\"cents\":17.1,"
              "\"spread\":0.3,\"rate\":null,\"depth\":null}\n");
    EXPECT_EQ(FixedText(-3.26, 1, true), "-3.3");
    EXPECT_EQ(FixedText(-0.04, 1, true), "0.0");
}

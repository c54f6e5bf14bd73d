// The harmonic mixer's tone: the body and its volume cut, the fade-out, the fast generator's
// agreement with the step-by-step one, and the rules feeding them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "synth/ToneGenerator.h"

using namespace sonabi;

namespace {

constexpr int kRate = 44100;
constexpr uint8_t kGuard = 0x5A;

struct Tone {
    std::vector<uint8_t> bytes;  // byteCount bytes plus guard bytes after them
    ToneResult result;
    uint32_t byteCount = 0;

    int Sample(size_t t) const {
        return static_cast<int16_t>(static_cast<uint16_t>(bytes[2 * t] | bytes[2 * t + 1] << 8));
    }
    size_t Samples() const { return byteCount / 2; }
    bool GuardIntact() const {
        return std::all_of(bytes.begin() + byteCount, bytes.end(),
                           [](uint8_t b) { return b == kGuard; });
    }
};

// Fills the buffer with a pattern first, so unwritten samples show.
Tone Make(uint32_t byteCount, const ToneSettings& s, bool literal) {
    Tone tone;
    tone.byteCount = byteCount;
    tone.bytes.assign(byteCount + 16, kGuard);
    tone.result = literal ? GenerateToneLiteral(tone.bytes.data(), byteCount, kRate, s)
                          : GenerateTone(tone.bytes.data(), byteCount, kRate, s);
    return tone;
}

ToneSettings AllHarmonicsAt100() {
    ToneSettings s;
    s.frequency = 100;
    s.volume = 300;
    s.fadeSamples = 2205;
    s.harmonicCount = 20;
    for (int k = 1; k <= 20; ++k) s.levels[k] = 100;
    return s;
}

// Rounding of v unless v is too close to a half for a double formula to tell.
bool Decidable(long double v) { return std::fabs(v - std::floor(v) - 0.5L) > 1e-6L; }

void ExpectSameTone(const Tone& fast, const Tone& literal) {
    ASSERT_EQ(fast.byteCount, literal.byteCount);
    EXPECT_EQ(fast.result.volume, literal.result.volume);
    ASSERT_EQ(fast.result.cutCount, literal.result.cutCount);
    for (int i = 0; i < fast.result.cutCount; ++i) {
        EXPECT_EQ(fast.result.cuts[i], literal.result.cuts[i]);
    }
    EXPECT_TRUE(fast.GuardIntact());
    EXPECT_TRUE(literal.GuardIntact());
    int differing = 0;
    for (size_t t = 0; t < fast.Samples(); ++t) {
        if (fast.Sample(t) != literal.Sample(t) && differing++ < 5) {
            ADD_FAILURE() << "sample " << t << ": fast " << fast.Sample(t) << ", literal "
                          << literal.Sample(t);
        }
    }
    EXPECT_EQ(differing, 0);
}

void ExpectFastMatchesLiteral(uint32_t byteCount, const ToneSettings& s) {
    ExpectSameTone(Make(byteCount, s, false), Make(byteCount, s, true));
}

}  // namespace

TEST(GenerateTone, SingleHarmonicFollowsSineThenFadesWithHSquared) {
    ToneSettings s;
    s.frequency = 100;
    s.volume = 10;
    s.fadeSamples = 2205;
    s.harmonicCount = 20;
    s.levels[1] = 100;
    for (bool literal : {true, false}) {
        const Tone tone = Make(44100, s, literal);
        ASSERT_EQ(tone.Samples(), 22050u);
        EXPECT_EQ(tone.result.cutCount, 0);
        EXPECT_EQ(tone.result.volume, 10);
        EXPECT_TRUE(tone.GuardIntact());
        int checked = 0;
        for (long t = 0; t < 22050; ++t) {
            const long double angle = 6.283185307179586L * 100 * t / kRate;
            long double expected = 1000 * std::sin(angle);
            if (t > 19845) {  // the last 2204 samples fade
                const long double h = (22050.0L - t) / 2205;
                expected *= h * h;
            }
            if (!Decidable(expected)) continue;
            ASSERT_EQ(tone.Sample(t), std::llrint(expected)) << "t " << t;
            ++checked;
        }
        EXPECT_GT(checked, 22000);
        EXPECT_EQ(tone.Sample(22049), 0);  // h = 1/2205 leaves nothing audible
    }
}

TEST(GenerateTone, LoudToneIsCutInStepsOfFourFifths) {
    const std::vector<int> expected = {240, 192, 154, 123, 98, 78, 62, 50, 40, 32, 26, 21, 17};
    const ToneSettings s = AllHarmonicsAt100();
    for (bool literal : {true, false}) {
        const Tone tone = Make(ToneByteCount(5), s, literal);
        ASSERT_EQ(tone.result.cutCount, static_cast<int>(expected.size()));
        EXPECT_EQ(std::vector<int>(tone.result.cuts.begin(),
                                   tone.result.cuts.begin() + tone.result.cutCount),
                  expected);
        EXPECT_EQ(tone.result.volume, 17);
        // Largest |sum| about 1484.8: at 17 the peak is near 25242, at 21 it would clip.
        int peak = 0;
        for (size_t t = 0; t < tone.Samples(); ++t) peak = std::max(peak, std::abs(tone.Sample(t)));
        EXPECT_LE(peak, kToneLimit);
        EXPECT_NEAR(peak, 17 * 1484.8, 17 * 1.0);
    }
    int v = 300;
    for (int cut : expected) EXPECT_EQ(v = CutVolume(v), cut);
}

TEST(GenerateTone, SilenceWhenNoHarmonicSounds) {
    ToneSettings allZero = AllHarmonicsAt100();
    allZero.levels.fill(0);
    ToneSettings noneCounted = AllHarmonicsAt100();
    noneCounted.harmonicCount = 0;
    for (const ToneSettings& s : {allZero, noneCounted}) {
        for (bool literal : {true, false}) {
            const Tone tone = Make(ToneByteCount(5), s, literal);
            EXPECT_EQ(tone.result.cutCount, 0);
            EXPECT_EQ(tone.result.volume, 300);
            EXPECT_TRUE(tone.GuardIntact());
            for (size_t t = 0; t < tone.Samples(); ++t) ASSERT_EQ(tone.Sample(t), 0) << t;
        }
    }
}

TEST(GenerateTone, LengthsAndFadeFollowTheLengthSlider) {
    EXPECT_EQ(ToneByteCount(30), 264600u);
    EXPECT_EQ(ToneByteCount(5), 44100u);
    EXPECT_EQ(ToneByteCount(1), 8820u);
    for (int position = 1; position <= 5; ++position) {
        EXPECT_EQ(FadeSamplesFor(kRate, position * 0.1), 441 * position) << position;
    }
    for (int position : {6, 10, 30}) EXPECT_EQ(FadeSamplesFor(kRate, position * 0.1), 2205);
    EXPECT_EQ(FadeSamplesFor(48000, 1.0), 2400);
    EXPECT_EQ(FadeSamplesFor(8000, 0.1), 80);

    // A 0.1 s tone: the body ends at 4410 - 441 and the other 440 samples fade.
    ToneSettings s;
    s.frequency = 100;
    s.volume = 10;
    s.fadeSamples = FadeSamplesFor(kRate, 0.1);
    s.harmonicCount = 20;
    s.levels[1] = 100;
    const Tone tone = Make(ToneByteCount(1), s, false);
    ASSERT_EQ(tone.Samples(), 4410u);
    EXPECT_TRUE(tone.GuardIntact());
    for (long t : {3969L, 3970L, 4000L, 4409L}) {
        long double expected = 1000 * std::sin(6.283185307179586L * 100 * t / kRate);
        if (t >= 3970) expected *= std::pow((4410.0L - t) / 441, 2);
        EXPECT_EQ(tone.Sample(t), std::llrint(expected)) << t;
    }
}

TEST(GenerateTone, FadeLongerThanToneWritesExactlyTheToneAndSaturates) {
    // With R >= n there is no body to set the volume, so the fade alone runs at volume 300 and
    // would leave the 16-bit range: it stays at the limits instead of wrapping around.
    ToneSettings s = AllHarmonicsAt100();
    for (int fade : {1000, 1001, 5000}) {
        s.fadeSamples = fade;
        for (bool literal : {true, false}) {
            const Tone tone = Make(2000, s, literal);
            EXPECT_TRUE(tone.GuardIntact());
            EXPECT_EQ(tone.result.cutCount, 0);  // a body of sample 0 alone sums to 0
            EXPECT_EQ(tone.Sample(0), 0);
            int saturated = 0;
            for (size_t t = 1; t < tone.Samples(); ++t) {
                const long double h = (1000.0L - t) / fade;
                long double sum = 0;
                for (int k = 1; k <= 20; ++k) {
                    sum = (sum + 100 * std::sin(6.283185307179586L * 100 * k * t / kRate)) * h * h;
                }
                const long double x = tone.result.volume * sum;
                if (std::fabs(x) >= 32768) {
                    ASSERT_EQ(tone.Sample(t), x > 0 ? 32767 : -32768) << t;
                    ++saturated;
                } else if (Decidable(x)) {
                    ASSERT_EQ(tone.Sample(t), std::llrint(x)) << t;
                }
            }
            if (fade <= 1001) EXPECT_GT(saturated, 0);  // h near 1 at the start
        }
    }
}

TEST(GenerateTone, FastMatchesLiteralOnWorstCase) {
    ExpectFastMatchesLiteral(ToneByteCount(30), AllHarmonicsAt100());
}

TEST(GenerateTone, FastMatchesLiteralOnRandomLevelsAndPhases) {
    std::mt19937 random(20240501);
    std::uniform_int_distribution<int> level(0, 100), frequency(1, 2000), volume(0, 300),
        position(1, 10);
    std::uniform_real_distribution<double> phase(-6.3, 6.3);
    for (int run = 0; run < 8; ++run) {
        ToneSettings s;
        s.frequency = run == 0 ? 1 : frequency(random);
        s.volume = volume(random);
        s.harmonicCount = std::min(22050 / s.frequency, 20);
        const int pos = position(random);
        s.fadeSamples = FadeSamplesFor(kRate, pos * 0.1);
        for (int k = 1; k <= 20; ++k) {
            s.levels[k] = run % 2 ? level(random) : (level(random) > 60 ? level(random) : 0);
            s.phases[k] = phase(random);
        }
        SCOPED_TRACE(testing::Message()
                     << "F " << s.frequency << " V " << s.volume << " pos " << pos);
        ExpectFastMatchesLiteral(ToneByteCount(pos), s);
    }
}

TEST(GenerateTone, FastMatchesLiteralWhereRoundingIsATie) {
    // At F = rate / 12 the sine of sample 1 is 0.5 to within the last bit, so level 1 at volume
    // 1 (and level 3) gives samples right on a half: only the exact sum can round them.
    ToneSettings s;
    s.frequency = kRate / 12;
    s.harmonicCount = 5;
    s.fadeSamples = 20;
    for (int level : {1, 3}) {
        s.levels[1] = level;
        for (int volume : {1, 5}) {
            s.volume = volume;
            ExpectFastMatchesLiteral(400, s);
        }
    }
}

TEST(GenerateTone, FastMatchesLiteralWhenPeakSitsExactlyOnTheLimit) {
    // A quarter-rate sine peaks at 1 exactly; 448 * 64 = 28672 is allowed, 449 * 64 is cut.
    ToneSettings s;
    s.frequency = kRate / 4;
    s.harmonicCount = 1;
    s.levels[1] = 64;
    s.fadeSamples = 10;
    for (int volume : {448, 449}) {
        s.volume = volume;
        const Tone fast = Make(200, s, false);
        ExpectSameTone(fast, Make(200, s, true));
        EXPECT_EQ(fast.result.cutCount, volume == 448 ? 0 : 1);
    }
}

TEST(GenerateTone, FastMatchesLiteralAtOddLengthsAndFades) {
    ToneSettings s = AllHarmonicsAt100();
    s.volume = 7;
    s.phases[3] = 1.25;
    for (int fade : {-5, 0, 1, 2, 499, 500, 501}) {
        s.fadeSamples = fade;
        for (uint32_t bytes : {0u, 1u, 2u, 3u, 1001u}) {
            SCOPED_TRACE(testing::Message() << "fade " << fade << " bytes " << bytes);
            ExpectFastMatchesLiteral(bytes, s);
        }
    }
}

TEST(GenerateTone, NoFrequencyOrRateWritesSafely) {
    ToneSettings s = AllHarmonicsAt100();
    s.frequency = 0;  // every harmonic stays at its phase: silence
    const Tone tone = Make(1000, s, false);
    for (size_t t = 0; t < tone.Samples(); ++t) ASSERT_EQ(tone.Sample(t), 0);

    std::vector<uint8_t> bytes(100, kGuard);
    GenerateTone(bytes.data(), 100, 0, AllHarmonicsAt100());
    EXPECT_TRUE(std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == kGuard; }));
}

TEST(TakeHarmonicPhases, KeepsFundamentalAngleAndMakesOthersRelative) {
    // Peaks [1..4]: harmonic 1 (the fundamental), 3, 2 and 25 (beyond the sliders).
    const int harmonics[] = {0, 1, 3, 2, 25};
    const Complex values[] = {{0, 0}, {1.0, 1.0}, {1.0, 0.0}, {0.0, 0.0}, {5.0, 5.0}};
    double phases[21];
    std::fill(std::begin(phases), std::end(phases), 9.0);
    TakeHarmonicPhases(4, harmonics, values, phases);
    const double pi = std::acos(-1.0);
    EXPECT_DOUBLE_EQ(phases[1], pi / 4);           // ArcTan2(re 1, im 1)
    EXPECT_DOUBLE_EQ(phases[3], pi / 2 - pi / 4);  // re is the y argument: (1, 0) is pi/2
    EXPECT_DOUBLE_EQ(phases[2], -pi / 4);          // a zero value counts as angle 0
    for (int k : {4, 5, 20}) EXPECT_EQ(phases[k], 9.0) << k;  // no peak: unchanged
}

TEST(TakeHarmonicPhases, FirstPeakOutsideSlidersSubtractsNothing) {
    const int harmonics[] = {0, 21, 2};
    const Complex values[] = {{0, 0}, {1.0, 0.0}, {0.0, -1.0}};
    double phases[21] = {};
    TakeHarmonicPhases(2, harmonics, values, phases);
    EXPECT_DOUBLE_EQ(phases[2], std::acos(-1.0));  // ArcTan2(0, -1) with base 0
    TakeHarmonicPhases(0, harmonics, values, phases);
    EXPECT_DOUBLE_EQ(phases[2], std::acos(-1.0));
}

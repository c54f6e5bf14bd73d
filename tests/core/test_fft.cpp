// The transform and the windowed input: sizes, sign convention, scaling, the table against the
// direct twiddle factors on each code path, and reading 8-bit, 16-bit and stereo frames.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "analysis/Fft.h"
#include "analysis/Spectrum.h"
#include "common/Samples.h"

using namespace sonabi;

namespace {

struct FftArrays {
    explicit FftArrays(unsigned n) : input(n), work(n), output(n), magnitudes(n / 2 ? n / 2 : 1) {}
    std::vector<double> input;
    std::vector<Complex> work, output;
    std::vector<double> magnitudes;
    bool Run(unsigned n) {
        return ComputeFft(n, input.data(), work.data(), output.data(), magnitudes.data());
    }
};

std::vector<uint8_t> Pcm16(const std::vector<int>& samples) {
    std::vector<uint8_t> bytes;
    for (int s : samples) {
        bytes.push_back(static_cast<uint8_t>(s & 0xFF));
        bytes.push_back(static_cast<uint8_t>((s >> 8) & 0xFF));
    }
    return bytes;
}

// Windowed and transformed mono 16-bit samples.
FftArrays Spectrum16(const std::vector<int>& samples) {
    const unsigned n = static_cast<unsigned>(samples.size());
    FftArrays a(n);
    const std::vector<uint8_t> bytes = Pcm16(samples);
    EXPECT_TRUE(FillWindowedInput(n, bytes.data(), 16, 1, 0, a.input.data()));
    EXPECT_TRUE(a.Run(n));
    return a;
}

bool SameBits(const void* a, const void* b, size_t bytes) { return std::memcmp(a, b, bytes) == 0; }

}  // namespace

TEST(BitReverse, ReversesTheTopFBitsOfB) {
    EXPECT_EQ(BitReverse(3, 3, 1), 4u);
    EXPECT_EQ(BitReverse(3, 3, 6), 3u);
    EXPECT_EQ(BitReverse(3, 1, 5), 1u);  // only the top bit of the three takes part
    EXPECT_EQ(BitReverse(11, 11, 1), 1024u);
    EXPECT_EQ(BitReverse(11, 4, 0b00110000000), 0b1100u);
    for (int b = 1; b <= 13; ++b) {
        for (int f = 0; f <= b; ++f) EXPECT_EQ(BitReverse(b, f, 0), 0u);
    }
    EXPECT_EQ(BitReverse(3, 0, 7), 0u);
}

TEST(ComputeFft, RefusesSizesOtherThanPowersOfTwoUpTo8192AndTouchesNothing) {
    for (unsigned n : {0u, 1u, 3u, 6u, 100u, 2047u, 5000u, 16384u}) {
        const unsigned len = 16384;
        std::vector<double> input(len, 1.0), magnitudes(len, -7.0);
        std::vector<Complex> work(len, {-3.0, -4.0}), output(len, {-5.0, -6.0});
        EXPECT_FALSE(ComputeFft(n, input.data(), work.data(), output.data(), magnitudes.data()));
        EXPECT_FALSE(
            ComputeFftDirect(n, input.data(), work.data(), output.data(), magnitudes.data()));
        for (unsigned k = 0; k < len; ++k) {
            ASSERT_EQ(magnitudes[k], -7.0);
            ASSERT_EQ(work[k].re, -3.0);
            ASSERT_EQ(output[k].im, -6.0);
        }
    }
}

TEST(ComputeFft, UsesThePositiveExponentAndScalesByOneOverN) {
    FftArrays a(4);
    a.input = {0.0, 1.0, 0.0, 0.0};  // x[1] = 1: X[k] = e^(+i pi k / 2) / 4
    ASSERT_TRUE(a.Run(4));
    EXPECT_NEAR(a.output[0].re, 0.25, 1e-15);
    EXPECT_NEAR(a.output[1].re, 0.0, 1e-15);
    EXPECT_NEAR(a.output[1].im, 0.25, 1e-15);  // +i/4, not -i/4
    EXPECT_NEAR(a.output[2].re, -0.25, 1e-15);
    EXPECT_NEAR(a.output[3].im, -0.25, 1e-15);
    EXPECT_NEAR(a.magnitudes[0], 0.25, 1e-15);
    EXPECT_NEAR(a.magnitudes[1], 0.25, 1e-15);
}

TEST(ComputeFft, TwoPointsAreOneButterfly) {
    FftArrays two(2);
    two.input = {2.0, 6.0};
    ASSERT_TRUE(two.Run(2));
    EXPECT_EQ(two.output[0].re, 4.0);
    EXPECT_EQ(two.output[1].re, -2.0);
    EXPECT_EQ(two.magnitudes[0], 4.0);
}

// This file is also built with SONABI_FFT_NO_AVX512, SONABI_FFT_NO_AVX and SONABI_FFT_SCALAR
// (see tests/CMakeLists.txt): the define must reach the transform, or those runs test the widest
// path again.
TEST(ComputeFft, TakesThePathThisBuildAndMachineSelect) {
#if defined(SONABI_FFT_SCALAR) || !(defined(__x86_64__) || defined(__SSE2__))
    EXPECT_STREQ(FftPath(), "scalar");
#elif defined(SONABI_FFT_NO_AVX)
    EXPECT_STREQ(FftPath(), "sse2");
#else
    EXPECT_STREQ(FftPath(), __builtin_cpu_supports("avx") ? "avx" : "sse2");
#endif
}

TEST(ComputeFft, TableGivesBitIdenticalResultsToDirectTwiddles) {
    std::mt19937 random(7);
    std::uniform_int_distribution<int> sample(-32768, 32767);
    // Random samples, then zeros of both signs, the one input whose output shows the zeros' signs
    // (so a path that skips a product with zero fails here).
    for (const bool zeros : {false, true}) {
        for (unsigned n = 2; n <= kMaxFftSize; n *= 2) {
            FftArrays table(n), direct(n);
            for (unsigned k = 0; k < n; ++k) {
                const double x = sample(random) * 0.7310585786300049;
                table.input[k] = !zeros ? x : k % 3 == 0 ? -0.0 : 0.0;
            }
            direct.input = table.input;
            ASSERT_TRUE(table.Run(n));
            ASSERT_TRUE(ComputeFftDirect(n, direct.input.data(), direct.work.data(),
                                         direct.output.data(), direct.magnitudes.data()));
            EXPECT_TRUE(SameBits(table.output.data(), direct.output.data(), n * sizeof(Complex)))
                << n << (zeros ? " zeros" : "");
            EXPECT_TRUE(
                SameBits(table.magnitudes.data(), direct.magnitudes.data(), n / 2 * sizeof(double)))
                << n << (zeros ? " zeros" : "");
        }
    }
}

TEST(ComputeFft, AgreesWithADirectSumOfTheWindowedInput) {
    std::mt19937 random(11);
    std::uniform_int_distribution<int> sample(-20000, 20000);
    for (unsigned n : {256u, 512u, 1024u, 2048u}) {
        std::vector<int> samples(n);
        for (int& s : samples) s = sample(random);
        const FftArrays a = Spectrum16(samples);
        std::vector<long double> cosine(n), sine(n), re(n), im(n);
        for (unsigned m = 0; m < n; ++m) {
            const long double angle = 2 * 3.141592653589793238462643383279502884L * m / n;
            cosine[m] = std::cos(angle);
            sine[m] = std::sin(angle);
        }
        long double largest = 0;
        for (unsigned k = 0; k < n; ++k) {
            long double sr = 0, si = 0;
            for (unsigned t = 0; t < n; ++t) {
                const unsigned m =
                    static_cast<unsigned>((static_cast<unsigned long long>(t) * k) % n);
                sr += a.input[t] * cosine[m];
                si += a.input[t] * sine[m];
            }
            re[k] = sr / n;
            im[k] = si / n;
            largest = std::max(largest, std::hypot(re[k], im[k]));
        }
        for (unsigned k = 0; k < n; ++k) {
            ASSERT_LE(std::fabs(a.output[k].re - re[k]), 1e-9 * largest) << n << " bin " << k;
            ASSERT_LE(std::fabs(a.output[k].im - im[k]), 1e-9 * largest) << n << " bin " << k;
        }
        for (unsigned k = 0; k < n / 2; ++k) {
            ASSERT_NEAR(a.magnitudes[k], std::hypot(re[k], im[k]), 1e-9 * largest);
        }
    }
}

TEST(Spectrum, SilenceGivesZeroInEveryBin) {
    for (unsigned n : {256u, 2048u}) {
        const FftArrays a = Spectrum16(std::vector<int>(n, 0));
        for (unsigned k = 0; k < n / 2; ++k) ASSERT_EQ(a.magnitudes[k], 0.0);

        FftArrays b(n);
        const std::vector<uint8_t> bytes(n, 128);
        ASSERT_TRUE(FillWindowedInput(n, bytes.data(), 8, 1, 0, b.input.data()));
        ASSERT_TRUE(b.Run(n));
        for (unsigned k = 0; k < n / 2; ++k) ASSERT_EQ(b.magnitudes[k], 0.0);
    }
}

TEST(Spectrum, ConstantValueGivesTheWindowMeanInBinZero) {
    for (unsigned n : {256u, 512u, 1024u, 2048u}) {
        const double v = 1234.0;
        const FftArrays a = Spectrum16(std::vector<int>(n, 1234));
        EXPECT_NEAR(a.magnitudes[0], v * (0.54 - 0.46 / n), 1e-9 * v) << n;
        // The window's own spectrum leaks into bins 1 and 2 only, and less than bin 0.
        EXPECT_GT(a.magnitudes[1], 0.1);
        EXPECT_LT(a.magnitudes[1], a.magnitudes[0]);
        EXPECT_GT(a.magnitudes[2], 1e-3);
        EXPECT_LT(a.magnitudes[2], a.magnitudes[1]);
        EXPECT_LT(a.magnitudes[5], 1e-4 * v);  // only the N - 1 period of the weights leaks further
    }
}

TEST(Spectrum, SineOnABinGivesAboutHalfTheMeanWeightTimesTheAmplitude) {
    const unsigned n = 2048, bin = 40;
    const double amplitude = 10000.0;
    std::vector<int> samples(n);
    for (unsigned t = 0; t < n; ++t) {
        samples[t] = static_cast<int>(std::lrint(amplitude * std::sin(2 * M_PI * bin * t / n)));
    }
    const FftArrays a = Spectrum16(samples);
    EXPECT_NEAR(a.magnitudes[bin], 0.54 * amplitude / 2, 0.01 * 0.54 * amplitude / 2);
    EXPECT_LT(a.magnitudes[bin + 3], 0.01 * a.magnitudes[bin]);
}

TEST(FillWindowedInput, WeightsFallToEightHundredthsAtBothEnds) {
    const unsigned n = 256;
    const std::vector<uint8_t> bytes = Pcm16(std::vector<int>(n, -1000));
    std::vector<double> input(n);
    ASSERT_TRUE(FillWindowedInput(n, bytes.data(), 16, 1, 0, input.data()));
    EXPECT_NEAR(input[0], -80.0, 1e-12);
    EXPECT_NEAR(input[n - 1], -80.0, 1e-12);
    EXPECT_NEAR(input[n / 2], -1000.0, 0.1);  // the window peaks in the middle
    for (unsigned k = 0; k < n; ++k) EXPECT_EQ(input[k], input[n - 1 - k]) << k;
}

TEST(FillWindowedInput, ProductsAreRoundedOnceFromExtendedPrecision) {
    // Plain double weights would change about a quarter of these products in the last bit.
    for (unsigned n : {256u, 2048u}) {
        for (int v : {-32768, -20001, -3, 1, 7, 12345, 32767}) {
            std::vector<double> input(n);
            ASSERT_TRUE(
                FillWindowedInput(n, Pcm16(std::vector<int>(n, v)).data(), 16, 1, 0, input.data()));
            for (unsigned k = 0; k < n; ++k) {
                const long double w =
                    0.54L -
                    0.46L * std::cos(2 * 3.141592653589793238462643383279502884L * k / (n - 1));
                ASSERT_EQ(input[k], static_cast<double>(v * w)) << n << " " << v << " " << k;
            }
        }
    }
}

// The vector paths round the exact product once and redo the lanes where the extended product's
// two roundings could differ (about one in 4000 here): on each path, forced whatever this build
// and machine would choose, every 8- and 16-bit value must agree, mono and in either channel of
// stereo frames.
TEST(FillWindowedInput, EveryEightAndSixteenBitValueGivesTheExtendedProductOnEveryPath) {
    for (const unsigned n : {256u, 2048u}) {
        SCOPED_TRACE(n);
        std::vector<long double> weights(n);
        for (unsigned k = 0; k < n; ++k) {
            weights[k] =
                0.54L - 0.46L * std::cos(2 * 3.141592653589793238462643383279502884L * k / (n - 1));
        }
        // A window of n frames of v, or of v in channel `channel` beside -1 - v.
        const auto frames16 = [n](int v, int channels, int channel) {
            std::vector<int> samples;
            for (unsigned k = 0; k < n; ++k) {
                for (int c = 0; c < channels; ++c) samples.push_back(c == channel ? v : -1 - v);
            }
            return Pcm16(samples);
        };
        std::vector<double> input(n);
        for (WeightingPath path :
             {WeightingPath::kScalar, WeightingPath::kAvx2, WeightingPath::kAvx512}) {
            SCOPED_TRACE(WeightingPathName(path));
            if (!CanRunWeightingPath(path)) {
                EXPECT_FALSE(
                    FillWindowedInputOn(path, n, frames16(0, 1, 0).data(), 16, 1, 0, input.data()));
                continue;
            }
            size_t differing = 0;
            const auto check = [&](int value) {
                for (unsigned k = 0; k < n; ++k) {
                    const double expected = static_cast<double>(value * weights[k]);
                    differing += !SameBits(&input[k], &expected, sizeof expected);
                }
            };
            for (int v = -32768; v <= 32767; ++v) {
                ASSERT_TRUE(
                    FillWindowedInputOn(path, n, frames16(v, 1, 0).data(), 16, 1, 0, input.data()));
                check(v);
                if (v % 61 == 0) {  // stereo only reads its frames otherwise: a sample suffices
                    for (int channel : {0, 1}) {
                        ASSERT_TRUE(FillWindowedInputOn(path, n, frames16(v, 2, channel).data(), 16,
                                                        2, channel, input.data()));
                        check(v);
                    }
                }
            }
            for (int byte = 0; byte < 256; ++byte) {
                ASSERT_TRUE(FillWindowedInputOn(
                    path, n, std::vector<uint8_t>(n, static_cast<uint8_t>(byte)).data(), 8, 1, 0,
                    input.data()));
                check(byte - 128);
            }
            EXPECT_EQ(differing, 0u);
        }
    }
#if defined(SONABI_FFT_NO_AVX) || defined(SONABI_FFT_SCALAR) || !defined(__x86_64__)
    EXPECT_EQ(DefaultWeightingPath(), WeightingPath::kScalar);
#elif defined(SONABI_FFT_NO_AVX512)
    EXPECT_NE(DefaultWeightingPath(), WeightingPath::kAvx512);
#else
    EXPECT_TRUE(CanRunWeightingPath(DefaultWeightingPath()));
    EXPECT_EQ(DefaultWeightingPath() == WeightingPath::kAvx512,
              CanRunWeightingPath(WeightingPath::kAvx512));
#endif
}

// 24-bit samples (x / 256) and floats (x 32768, clamped) have at most 24 bits of significand,
// which the vector paths' argument still covers: random 24-bit values, random floats of every
// exponent and of the usual -1 .. 1, and the odd ones (not a number, infinities, -0, values
// beyond the clamp, the smallest float) give the extended product on every path, in mono and in
// either channel of stereo, and FloatSampleValue is SampleValue's float rule.
TEST(FillWindowedInput, TwentyFourBitAndFloatSamplesGiveTheExtendedProductOnEveryPath) {
    constexpr unsigned n = 2048;
    std::vector<long double> weights(n);
    for (unsigned k = 0; k < n; ++k)
        weights[k] =
            0.54L - 0.46L * std::cos(2 * 3.141592653589793238462643383279502884L * k / (n - 1));
    std::mt19937 rng(11);
    std::vector<std::vector<uint8_t>> pcm24, floats;
    for (int window = 0; window < 64; ++window) {
        std::vector<uint8_t> a(n * 3), b(n * 4);
        for (unsigned k = 0; k < n; ++k) {
            const uint32_t v = rng();
            a[3 * k] = uint8_t(v), a[3 * k + 1] = uint8_t(v >> 8), a[3 * k + 2] = uint8_t(v >> 16);
            float f = std::uniform_real_distribution<float>(-1, 1)(rng);
            if (window % 2) {
                const uint32_t bits = rng();
                std::memcpy(&f, &bits, 4);  // any exponent, and some not-a-numbers
            }
            const float odd[] = {NAN, INFINITY, -INFINITY, -0.0f, 0.0f, 300.0f, -257.5f, 1e-45f};
            if (k < 8) f = odd[k];
            std::memcpy(&b[4 * k], &f, 4);
        }
        pcm24.push_back(a);
        floats.push_back(b);
    }
    std::vector<double> input(n);
    for (WeightingPath path :
         {WeightingPath::kScalar, WeightingPath::kAvx2, WeightingPath::kAvx512}) {
        SCOPED_TRACE(WeightingPathName(path));
        if (!CanRunWeightingPath(path)) continue;
        size_t differing = 0;
        for (const SampleCoding coding : {SampleCoding(24), SampleCoding(32, true)}) {
            const size_t bytes = coding.Bytes();
            // input against the samples, sample(k) being the one weighted by weights[k]
            const auto check = [&](auto sample) {
                for (unsigned k = 0; k < n; ++k) {
                    const double expected =
                        static_cast<double>(SampleValue(coding, sample(k)) * weights[k]);
                    differing += !SameBits(&input[k], &expected, sizeof expected);
                    if (!coding.floating) continue;
                    float f;  // the double rule the refined pitch reads floats by, too
                    std::memcpy(&f, sample(k), 4);
                    differing += FloatSampleValue(f) != SampleValue(coding, sample(k));
                }
            };
            for (const auto& window : coding.floating ? floats : pcm24) {
                ASSERT_TRUE(
                    FillWindowedInputOn(path, n, window.data(), coding, 1, 0, input.data()));
                check([&](unsigned k) { return window.data() + k * bytes; });
                // The same samples as either channel of a stereo window, the other one reversed.
                std::vector<uint8_t> stereo(2 * window.size());
                for (unsigned k = 0; k < n; ++k) {
                    std::memcpy(&stereo[2 * k * bytes], &window[k * bytes], bytes);
                    std::memcpy(&stereo[(2 * k + 1) * bytes], &window[(n - 1 - k) * bytes], bytes);
                }
                for (const int channel : {0, 1}) {
                    ASSERT_TRUE(FillWindowedInputOn(path, n, stereo.data(), coding, 2, channel,
                                                    input.data()));
                    check([&](unsigned k) {
                        return window.data() + (channel ? n - 1 - k : k) * bytes;
                    });
                }
            }
        }
        EXPECT_EQ(differing, 0u);
    }
}

TEST(FillWindowedInput, ReadsOneUnsignedByteOrTwoSignedBytesPerSampleOfTheChosenChannel) {
    const unsigned n = 64;
    std::vector<double> mono8(n), left(n), right(n), left8(n), right8(n);
    ASSERT_TRUE(FillWindowedInput(n, std::vector<uint8_t>(n, 228).data(), 8, 1, 0, mono8.data()));

    std::vector<int> stereo;
    for (unsigned k = 0; k < n; ++k) {
        stereo.push_back(100);
        stereo.push_back(-300);
    }
    const std::vector<uint8_t> bytes = Pcm16(stereo);
    ASSERT_TRUE(FillWindowedInput(n, bytes.data(), 16, 2, 0, left.data()));
    ASSERT_TRUE(FillWindowedInput(n, bytes.data(), 16, 2, 1, right.data()));

    std::vector<uint8_t> stereo8;
    for (unsigned k = 0; k < n; ++k) {
        stereo8.push_back(138);  // +10
        stereo8.push_back(98);   // -30
    }
    ASSERT_TRUE(FillWindowedInput(n, stereo8.data(), 8, 2, 0, left8.data()));
    ASSERT_TRUE(FillWindowedInput(n, stereo8.data(), 8, 2, 1, right8.data()));
    for (unsigned k = 0; k < n; ++k) {
        EXPECT_EQ(mono8[k], left[k]);  // 228 - 128 = 100
        EXPECT_NEAR(right[k], -3 * left[k], 1e-12);
        EXPECT_NEAR(left8[k], left[k] / 10, 1e-12);
        EXPECT_NEAR(right8[k], -3 * left8[k], 1e-12);
    }
}

// Every wider coding of the same stereo samples gives the 16-bit input bit for bit, with the
// extremes of each width on the 16-bit scale; floats that are not numbers count as silence.
TEST(FillWindowedInput, ReadsWiderAndFloatSamplesOnTheSixteenBitScale) {
    const unsigned n = 256;
    std::vector<int> values;
    for (unsigned k = 0; k < 2 * n; ++k)
        values.push_back(static_cast<int>((k * 7919) % 65536) - 32768);
    const std::vector<uint8_t> pcm16 = Pcm16(values);
    auto encode = [&](SampleCoding coding) {
        std::vector<uint8_t> bytes;
        for (int v : values) {
            uint8_t b[8];
            if (coding.floating && coding.bits == 32) {
                const float f = static_cast<float>(v / 32768.0);
                std::memcpy(b, &f, 4);
            } else if (coding.floating) {
                const double d = v / 32768.0;
                std::memcpy(b, &d, 8);
            } else {
                const int32_t x = static_cast<int32_t>(static_cast<uint32_t>(v) << 16);
                std::memcpy(b, &x, 4);  // the top `bits` bits of a 32-bit value
                std::memmove(b, b + 4 - coding.Bytes(), static_cast<size_t>(coding.Bytes()));
            }
            bytes.insert(bytes.end(), b, b + coding.Bytes());
        }
        return bytes;
    };
    for (int channel : {0, 1}) {
        std::vector<double> expected(n), input(n);
        ASSERT_TRUE(FillWindowedInput(n, pcm16.data(), 16, 2, channel, expected.data()));
        for (SampleCoding coding :
             {SampleCoding(24), SampleCoding(32), SampleCoding(32, true), SampleCoding(64, true)}) {
            SCOPED_TRACE(coding.bits + 100 * coding.floating);
            ASSERT_TRUE(
                FillWindowedInput(n, encode(coding).data(), coding, 2, channel, input.data()));
            EXPECT_TRUE(SameBits(input.data(), expected.data(), n * sizeof(double)));
        }
    }
    const uint8_t top24[3] = {0xFF, 0xFF, 0x7F}, bottom32[4] = {0, 0, 0, 0x80};
    EXPECT_EQ(SampleValue(24, top24), 32767.99609375L);
    EXPECT_EQ(SampleValue(32, bottom32), -32768.0L);
    const float odd[3] = {NAN, INFINITY, -1e30f};
    EXPECT_EQ(SampleValue({32, true}, reinterpret_cast<const uint8_t*>(odd)), 0.0L);
    EXPECT_EQ(SampleValue({32, true}, reinterpret_cast<const uint8_t*>(odd + 1)), 256.0L * 32768);
    EXPECT_EQ(SampleValue({32, true}, reinterpret_cast<const uint8_t*>(odd + 2)), -256.0L * 32768);
}

// The device is handed floats that are finite and within full scale, whatever the file held,
// and 24-bit samples in the top of 32 bits.
TEST(DeviceSample, FloatsReachTheDeviceFiniteAndWithinFullScale) {
    auto device = [](SampleCoding coding, const void* in) {
        std::array<uint8_t, 4> out;
        DeviceSample(coding, static_cast<const uint8_t*>(in), out.data());
        return out;
    };
    auto deviceFloat = [&](SampleCoding coding, const void* in) {
        float f;
        std::memcpy(&f, device(coding, in).data(), 4);
        return f;
    };
    const float floats[] = {NAN, -NAN, INFINITY, -INFINITY, 1e30f, -1.5f, 1.0f, -0.25f, 1e-40f};
    const float want[] = {0, 0, 1, -1, 1, -1, 1, -0.25f, 1e-40f};
    for (size_t i = 0; i < std::size(floats); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(deviceFloat({32, true}, &floats[i]), want[i]);
        const double wide = floats[i];
        EXPECT_EQ(deviceFloat({64, true}, &wide), want[i]);
    }
    // Beyond the float range a double would become an infinity; it is clamped first.
    const double huge[] = {1e300, -1e300, 0.1};
    EXPECT_EQ(deviceFloat({64, true}, &huge[0]), 1.0f);
    EXPECT_EQ(deviceFloat({64, true}, &huge[1]), -1.0f);
    EXPECT_EQ(deviceFloat({64, true}, &huge[2]), 0.1f);
    const uint8_t s24[3] = {0x56, 0x34, 0x92};
    EXPECT_EQ(device(24, s24), (std::array<uint8_t, 4>{0, 0x56, 0x34, 0x92}));
}

TEST(FillWindowedInput, RefusesOtherWidthsAndChannelsAndTouchesNothing) {
    std::vector<uint8_t> bytes(4096, 7);
    std::vector<double> input(512, -1.0);
    EXPECT_FALSE(FillWindowedInput(256, bytes.data(), 12, 1, 0, input.data()));
    EXPECT_FALSE(FillWindowedInput(256, bytes.data(), 64, 1, 0, input.data()));
    EXPECT_FALSE(FillWindowedInput(256, bytes.data(), {16, true}, 1, 0, input.data()));
    EXPECT_FALSE(FillWindowedInput(256, bytes.data(), 0, 1, 0, input.data()));
    EXPECT_FALSE(FillWindowedInput(256, bytes.data(), 16, 1, 1, input.data()));
    EXPECT_FALSE(FillWindowedInput(256, bytes.data(), 16, 4, 2, input.data()));
    EXPECT_FALSE(FillWindowedInput(1, bytes.data(), 16, 1, 0, input.data()));
    for (double v : input) ASSERT_EQ(v, -1.0);
    // A length that is not a power of two is weighted the same way, without the table.
    ASSERT_TRUE(
        FillWindowedInput(300, Pcm16(std::vector<int>(300, 50)).data(), 16, 1, 0, input.data()));
    EXPECT_NEAR(input[0], 4.0, 1e-12);
    EXPECT_NEAR(input[299], 4.0, 1e-12);
    EXPECT_EQ(input[300], -1.0);
}

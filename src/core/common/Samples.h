// How one sample of a held sound is stored, and the value the views and the analysis read.
//
// 8-bit samples are unsigned bytes, read as byte - 128 on their own scale. 16-bit samples are
// signed little-endian values as they stand. Wider samples are read on the 16-bit scale, so the
// 16-bit thresholds and drawing scales apply to them: a 24- or 32-bit integer x counts as
// x / 2^(bits - 16), an IEEE float x (32 or 64 bits, full scale +-1.0) as x * 32768. A float that
// is not a number counts as 0, and floats are held to +-256 full scale, so that no drawn
// coordinate can overflow. Every value is exact in long double.
#pragma once
#include <cmath>
#include <cstdint>
#include <cstring>

#include "common/WaveTypes.h"

namespace sonabi {

struct SampleCoding {
    int bits = 16;          // bits per sample: 8, 16, 24, 32 (integers) or 32, 64 (floats)
    bool floating = false;  // IEEE float rather than integer PCM
    // Integer PCM of `bits` bits per sample (8-bit unsigned, wider signed).
    constexpr SampleCoding(int bits) : bits(bits) {}  // NOLINT: a width alone means PCM
    constexpr SampleCoding(int bits, bool floating) : bits(bits), floating(floating) {}
    constexpr int Bytes() const { return bits / 8; }
    // Whether the views and the analysis can read it.
    constexpr bool Readable() const {
        if (floating) return bits == 32 || bits == 64;
        return bits == 8 || bits == 16 || bits == 24 || bits == 32;
    }
    // The width whose scales apply: 8 for 8-bit samples, 16 for every other readable coding,
    // the width itself for what cannot be read.
    constexpr int ScaleBits() const { return bits == 8 && !floating ? 8 : Readable() ? 16 : bits; }
};

// The coding of a held format: its width, and whether its tag is IEEE float.
inline SampleCoding CodingOf(const WAVEFORMATEX& f) {
    return {f.wBitsPerSample, f.wFormatTag == WAVE_FORMAT_IEEE_FLOAT};
}

// The float sample at p (32 or 64 bits), exactly.
inline double FloatAt(SampleCoding coding, const uint8_t* p) {
    if (coding.bits == 32) {
        float f;
        std::memcpy(&f, p, 4);
        return f;
    }
    double d;
    std::memcpy(&d, p, 8);
    return d;
}

// SampleValue of a 32-bit float, in double, where it is exact (24 bits of significand): not a
// number as 0, x 32768, clamped to +-256 x 32768.
inline double FloatSampleValue(float f) {
    constexpr double kLimit = 256.0 * 32768;
    const double x = std::isnan(f) ? 0.0 : f * 32768.0;
    return x > kLimit ? kLimit : x < -kLimit ? -kLimit : x;
}

// FloatSampleValue(f) rounded to float, computed in float as vector code can do it four samples
// at a time: the product is exact unless it overflows, and then the clamp gives the limit either
// way.
inline float FloatSampleFloat(float f) {
    constexpr float kLimit = 256.0f * 32768;
    const float x = f * 32768.0f;
    const float clamped = x > kLimit ? kLimit : x < -kLimit ? -kLimit : x;
    return clamped == clamped ? clamped : 0.0f;  // not a number stays one through the clamp
}

// The value of the sample at p, as described above. The coding must be Readable().
inline long double SampleValue(SampleCoding coding, const uint8_t* p) {
    constexpr long double kFloatLimit = 256.0L * 32768;
    if (coding.floating) {
        long double x = FloatAt(coding, p);
        if (std::isnan(x)) return 0;
        x *= 32768;
        return x > kFloatLimit ? kFloatLimit : x < -kFloatLimit ? -kFloatLimit : x;
    }
    switch (coding.bits) {
        case 8:
            return static_cast<long double>(p[0] - 128);
        case 16:
            return static_cast<long double>(static_cast<int16_t>(p[0] | (p[1] << 8)));
        case 24: {
            const int32_t x = static_cast<int32_t>(uint32_t(p[0]) << 8 | uint32_t(p[1]) << 16 |
                                                   uint32_t(p[2]) << 24) >>
                              8;
            return x / 256.0L;
        }
        default: {
            int32_t x;
            std::memcpy(&x, p, 4);
            return x / 65536.0L;
        }
    }
}

// What a sound card is handed for one held sample that it cannot take as it is: a 24-bit
// integer shifted into the top of 32 bits, and a float (32 or 64 bits) as a 32-bit float that
// is finite and within full scale (not-a-number as 0, the rest clamped to +-1.0), since what a
// sound server does with anything else is undefined. `out` takes 4 bytes.
inline void DeviceSample(SampleCoding coding, const uint8_t* in, uint8_t* out) {
    if (!coding.floating) {
        out[0] = 0, out[1] = in[0], out[2] = in[1], out[3] = in[2];
        return;
    }
    const double x = FloatAt(coding, in);
    const float f = std::isnan(x) ? 0.0f : x > 1.0 ? 1.0f : x < -1.0 ? -1.0f : float(x);
    std::memcpy(out, &f, 4);
}

}  // namespace sonabi

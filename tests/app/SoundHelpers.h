// Held sounds made by widget tests: sample bytes built from a function of the frame number, and
// the hand-over of those bytes to the window as its held sound (formats: MakePcmFormat,
// MakeFloatFormat).
#pragma once
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

#include "common/Blocks.h"
#include "common/WaveTypes.h"
#include "form/TFormMain.h"

namespace sound {

// frames of 16-bit samples, channel c of frame t being value(t, c); little-endian, interleaved.
inline std::vector<uint8_t> Pcm16(uint32_t frames, int channels,
                                  const std::function<int(uint32_t t, int c)>& value) {
    std::vector<uint8_t> out(static_cast<size_t>(frames) * channels * 2);
    size_t at = 0;
    for (uint32_t t = 0; t < frames; ++t)
        for (int c = 0; c < channels; ++c) {
            const auto s = static_cast<uint16_t>(static_cast<int16_t>(value(t, c)));
            out[at++] = static_cast<uint8_t>(s & 0xFF);
            out[at++] = static_cast<uint8_t>(s >> 8);
        }
    return out;
}

inline std::vector<uint8_t> Mono16(uint32_t frames, const std::function<int(uint32_t t)>& value) {
    return Pcm16(frames, 1, [&](uint32_t t, int) { return value(t); });
}

// frames of 8-bit unsigned samples (128 is silence).
inline std::vector<uint8_t> Pcm8(uint32_t frames, int channels,
                                 const std::function<int(uint32_t t, int c)>& value) {
    std::vector<uint8_t> out(static_cast<size_t>(frames) * channels);
    size_t at = 0;
    for (uint32_t t = 0; t < frames; ++t)
        for (int c = 0; c < channels; ++c) out[at++] = static_cast<uint8_t>(value(t, c));
    return out;
}

// The same 16-bit samples in a wider integer or float format (`to`: MakePcmFormat with 24 or 32
// bits, MakeFloatFormat with 32 or 64): exact copies, x << (bits - 16) or x / 32768.
inline std::vector<uint8_t> Widen(const std::vector<uint8_t>& pcm16, const WAVEFORMATEX& to) {
    const int bytes = to.wBitsPerSample / 8;
    std::vector<uint8_t> out;
    for (size_t i = 0; i + 1 < pcm16.size(); i += 2) {
        const int16_t v = static_cast<int16_t>(pcm16[i] | pcm16[i + 1] << 8);
        uint8_t b[8];
        if (to.wFormatTag == WAVE_FORMAT_IEEE_FLOAT && bytes == 4) {
            const float f = static_cast<float>(v / 32768.0);
            std::memcpy(b, &f, 4);
        } else if (to.wFormatTag == WAVE_FORMAT_IEEE_FLOAT) {
            const double d = v / 32768.0;
            std::memcpy(b, &d, 8);
        } else {
            const auto x = static_cast<uint32_t>(v) << 16;  // the top `bytes` bytes are kept
            for (int k = 0; k < bytes; ++k) b[k] = static_cast<uint8_t>(x >> (8 * (4 - bytes + k)));
        }
        out.insert(out.end(), b, b + bytes);
    }
    return out;
}

// Round(amplitude x sin(2 pi hz t / rate)).
inline int Sine(double amplitude, double hz, uint32_t t, double rate = 44100) {
    return static_cast<int>(std::lrint(amplitude * std::sin(2 * M_PI * hz * t / rate)));
}

// Makes bytes the window's held sound in the given format, as an opened file would be: the block
// is exactly as long as the sound, so a read past its end shows under AddressSanitizer. With
// reset, ResetView then shows the first window, as every change of the held sound does.
inline void HoldSound(TFormMain& form, const std::vector<uint8_t>& bytes,
                      const WAVEFORMATEX& format, bool reset = true) {
    if (form.WaveData != form.SynthBuffer) blocks::Release(form.WaveData);
    form.WaveData = blocks::Allocate(bytes.size());
    if (!bytes.empty()) std::memcpy(form.WaveData, bytes.data(), bytes.size());
    form.WaveDataSize = static_cast<uint32_t>(bytes.size());
    form.CurBits = format.wBitsPerSample;
    form.CurRate = static_cast<int>(format.nSamplesPerSec);
    form.CurChannels = format.nChannels;
    form.FillWaveFormat();
    form.WaveFormat.wFormatTag = format.wFormatTag;
    form.DataFormatTag = format.wFormatTag;
    form.WaveDataHeld = true;
    if (reset) form.ResetView();
}

}  // namespace sound

// WAV files and sample bytes made by widget tests: files written into a temporary folder, whole
// files read back, 16-bit samples read out of a block (formats: MakePcmFormat).
#pragma once
#include <QByteArray>
#include <QFile>
#include <QString>
#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

#include "common/WaveTypes.h"
#include "wavfile/WavFile.h"

namespace testwav {

inline QByteArray ReadAll(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    return file.readAll();
}

inline bool WriteBytes(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    return file.write(bytes) == bytes.size();
}

// The file the program itself would write for this format and these sample bytes.
inline QByteArray WaveFile(const WAVEFORMATEX& format, const std::vector<uint8_t>& data) {
    const std::vector<uint8_t> bytes =
        sonabi::WaveFileBytes(format, data.data(), static_cast<uint32_t>(data.size()));
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<int>(bytes.size()));
}

inline bool WriteWave(const QString& path, const WAVEFORMATEX& format,
                      const std::vector<uint8_t>& data) {
    return WriteBytes(path, WaveFile(format, data));
}

// frames of 16-bit mono samples value(t).
inline std::vector<uint8_t> Mono16(uint32_t frames, const std::function<int(uint32_t)>& value) {
    std::vector<uint8_t> out(frames * 2u);
    for (uint32_t t = 0; t < frames; ++t) {
        const auto s = static_cast<uint16_t>(static_cast<int16_t>(value(t)));
        out[2 * t] = static_cast<uint8_t>(s & 0xFF);
        out[2 * t + 1] = static_cast<uint8_t>(s >> 8);
    }
    return out;
}

inline int16_t Sample16(const void* bytes, size_t index) {
    int16_t s;
    std::memcpy(&s, static_cast<const uint8_t*>(bytes) + 2 * index, 2);
    return s;
}

inline std::vector<uint8_t> Bytes(const void* data, size_t n) {
    const auto* p = static_cast<const uint8_t*>(data);
    return std::vector<uint8_t>(p, p + n);
}

}  // namespace testwav

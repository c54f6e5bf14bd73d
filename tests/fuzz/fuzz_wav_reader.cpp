// Any byte string handed to the WAV reader (plain, float and extensible format chunks among them):
// no crash, no hang, no read outside the input, no leak, and whatever loads is consistent and
// survives a save and a second load unchanged.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "common/Blocks.h"
#include "wavfile/WavFile.h"

using namespace sonabi;

namespace {

void Require(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t n) {
    WaveFileData wave;
    wave.format = StartUpFormat();
    if (!ReadWaveBytes(bytes, n, wave).empty()) {
        // A refusal leaves what was held untouched.
        Require(wave.data == nullptr && wave.size == 0);
        WAVEFORMATEX start = StartUpFormat();
        Require(std::memcmp(&wave.format, &start, sizeof start) == 0);
        return 0;
    }
    const WAVEFORMATEX& f = wave.format;
    Require(wave.data != nullptr && wave.size > 0 && wave.size <= n);
    // Extensible records are held as the plain tag their SubFormat names.
    const bool pcm = f.wFormatTag == WAVE_FORMAT_PCM;
    const bool floats = f.wFormatTag == WAVE_FORMAT_IEEE_FLOAT &&
                        (f.wBitsPerSample == 32 || f.wBitsPerSample == 64);
    Require((pcm || floats) && f.nChannels > 0 && f.nSamplesPerSec > 0);
    Require(f.wBitsPerSample > 0 && f.wBitsPerSample % 8 == 0);
    Require(std::strlen(wave.encoding) > 0);
    Require(f.nBlockAlign == f.nChannels * (f.wBitsPerSample / 8));

    // Saved and loaded again, the sound comes back byte for byte.
    const std::vector<uint8_t> file = WaveFileBytes(f, wave.data, wave.size);
    WaveFileData again;
    again.format = StartUpFormat();
    Require(ReadWaveBytes(file.data(), file.size(), again).empty());
    Require(again.size == wave.size && std::memcmp(again.data, wave.data, wave.size) == 0);
    Require(std::memcmp(&again.format, &f, 16) == 0);
    blocks::Release(again.data);
    blocks::Release(wave.data);
    return 0;
}

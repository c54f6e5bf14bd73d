// Any byte string handed to the libsndfile decoding path: no crash, no hang, no leak, a refusal
// leaves what was held untouched, and whatever decodes is a held sound the views can read to its
// last byte. libsndfile itself is not instrumented; our side of it (the memory I/O, the
// conversions, the growing block, the two halves) is.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "common/Blocks.h"
#include "common/Samples.h"
#include "wavfile/SndfileDecoder.h"

using namespace sonabi;

namespace {

// Real seeds are a few KB; larger inputs only make each run slower.
constexpr size_t kMaxInput = size_t{1} << 20;

void Require(bool condition) {
    if (!condition) std::abort();
}

bool HeldCoding(const WAVEFORMATEX& f) {
    if (f.wFormatTag == WAVE_FORMAT_PCM) {
        return f.wBitsPerSample == 8 || f.wBitsPerSample == 16 || f.wBitsPerSample == 24 ||
               f.wBitsPerSample == 32;
    }
    return f.wFormatTag == WAVE_FORMAT_IEEE_FLOAT &&
           (f.wBitsPerSample == 32 || f.wBitsPerSample == 64);
}

}  // namespace

// libvorbis keeps the headers it parsed when libsndfile's open of a broken Ogg Vorbis stream
// fails (plain sf_open leaks the same). Only allocations made inside libvorbis are named here,
// by the library, which needs no symbolizer (CI's machine has none): a handle of ours left open
// would still be reported through libsndfile's own allocations.
extern "C" const char* __lsan_default_suppressions() { return "leak:libvorbis.so\n"; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t n) {
    if (n > kMaxInput) return 0;
    WaveFileData wave;
    wave.format = StartUpFormat();
    if (!DecodeSoundBytes(bytes, n, wave).empty()) {
        Require(wave.data == nullptr && wave.size == 0 && *wave.encoding == '\0');
        const WAVEFORMATEX start = StartUpFormat();
        Require(std::memcmp(&wave.format, &start, sizeof start) == 0);
        return 0;
    }
    const WAVEFORMATEX& f = wave.format;
    Require(HeldCoding(f) && f.nChannels >= 1 && f.nSamplesPerSec > 0);
    Require(f.nBlockAlign == f.nChannels * (f.wBitsPerSample / 8) && f.cbSize == 0);
    Require(f.nAvgBytesPerSec == f.nSamplesPerSec * f.nBlockAlign);
    Require(wave.data != nullptr && wave.size > 0 && wave.size % f.nBlockAlign == 0);
    Require(*wave.encoding != '\0');

    // Every sample the views would read is inside the block and on the 16-bit scale.
    const SampleCoding coding = CodingOf(f);
    Require(coding.Readable());
    for (uint32_t at = 0; at < wave.size; at += coding.Bytes()) {
        const long double v = SampleValue(coding, wave.data + at);
        Require(std::isfinite(v) && std::fabs(v) <= 256.0L * 32768);
    }
    blocks::Release(wave.data);
    return 0;
}

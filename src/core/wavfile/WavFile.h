// Reading and writing RIFF WAVE files holding uncompressed PCM.
//
// Every function returns "" on success or the short failure text the window shows in its
// "ERROR" box ("No File", "No Wave", "No fmt", ...). No Qt here: the window, the command-line
// analyser, the tests and the fuzzers all call these same functions.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/WaveTypes.h"

namespace sonabi {

// The longest path the window's 256-character path buffer holds. Longer paths are refused with
// "No File" rather than cut short (a truncated path could name another file).
constexpr size_t kMaxWavePathLength = 255;

// Refusals of formats that would make the views and the analysis read past the data.
inline constexpr const char* kNoChannels = "No channels";      // nChannels is 0
inline constexpr const char* kNoRate = "No rate";              // nSamplesPerSec is 0
inline constexpr const char* kNoBits = "No bits";              // wBitsPerSample 0 or not k * 8
inline constexpr const char* kNoBlockAlign = "No blockalign";  // nBlockAlign != ch * bits / 8

struct WaveFileData {
    // In: the format held before the read. A format chunk shorter than 18 bytes only
    // overwrites its own leading bytes (never more than 16), so the remaining fields, always
    // including cbSize, keep these values. Out: the format as read.
    WAVEFORMATEX format;
    // Out: the sample bytes, allocated with blocks::Allocate; the caller releases them with
    // blocks::Release. Overwritten on success without releasing what was there.
    uint8_t* data = nullptr;
    // Out: number of sample bytes held (the window's WaveDataSize), 1 .. 2^32 - 1.
    uint32_t size = 0;
    // Out: how the file stored its sound: "pcm8", "pcm16", "pcm24", "pcm32", "float32",
    // "float64" for WAV files; the codec or container ("flac", "vorbis", "opus", "mp3", "aiff",
    // ...) for files decoded by libsndfile. Empty until a read succeeds.
    const char* encoding = "";
};

// Loads the file at path. On failure `out` is left exactly as it was, so a window can keep
// the sound it holds. Texts: "No File", "No Wave", "No fmt", "No fmtSize", "No fmttag",
// kNoChannels, kNoRate, kNoBits, kNoBlockAlign, "No data", "No pwavedata", "No read".
// With `samples` false the sample bytes are neither allocated nor read: out.data stays null and
// out.size is the number of sample bytes the file holds (for reporting a file's format).
std::string ReadWaveFile(const std::string& path, WaveFileData& out, bool samples = true);

// The same rules applied to a file image of n bytes in memory.
std::string ReadWaveBytes(const uint8_t* bytes, size_t n, WaveFileData& out);

// Writes `format` (18 bytes) and the first byteCount bytes at data as a WAV file at path,
// replacing any file there. The bytes go to a temporary file in the same folder that is
// renamed over path only when every step succeeded, so a failed save never damages the file
// that was there; the temporary file is removed on failure. Texts: "No File" (path too long,
// not creatable, target not writable, or the final rename failed), "No Wave", "No fmt",
// "No fmtSize", "No asend", "No data", "No Write", "No assend1", "No assend2" (also when the
// RIFF size would not fit in 32 bits).
std::string WriteWaveFile(const std::string& path, const WAVEFORMATEX& format, const uint8_t* data,
                          uint32_t byteCount);

// The exact bytes WriteWaveFile writes: a 46-byte header (RIFF size 38 + N + pad, an 18-byte
// fmt chunk, the data chunk header), the N sample bytes, one zero pad byte when N is odd.
// Empty when the RIFF size would not fit in 32 bits.
std::vector<uint8_t> WaveFileBytes(const WAVEFORMATEX& format, const uint8_t* data,
                                   uint32_t byteCount);

// The 46 bytes of that file before its samples; false when the RIFF size would not fit in 32
// bits.
bool WaveHeaderBytes(const WAVEFORMATEX& format, uint32_t byteCount, std::array<uint8_t, 46>& h);

// The save command's name rule: name unchanged when its last four characters are exactly
// ".wav" or ".WAV" (case included), else name + ".wav".
std::string SaveFileName(const std::string& name);

}  // namespace sonabi

// The PCM format record and the audio block header shared by the WAV files, the window and the
// waveform-audio layer. Layout of WAVEFORMATEX is the 18-byte little-endian record of WAV files.
#pragma once
#include <cstdint>

#pragma pack(push, 1)
struct WAVEFORMATEX {
    uint16_t wFormatTag = 0;
    uint16_t nChannels = 0;
    uint32_t nSamplesPerSec = 0;
    uint32_t nAvgBytesPerSec = 0;
    uint16_t nBlockAlign = 0;  // bytes per frame
    uint16_t wBitsPerSample = 0;
    uint16_t cbSize = 0;
};
#pragma pack(pop)
static_assert(sizeof(WAVEFORMATEX) == 18);

constexpr uint16_t WAVE_FORMAT_PCM = 1;
constexpr uint16_t WAVE_FORMAT_IEEE_FLOAT = 3;       // 32- or 64-bit IEEE floats, full scale +-1.0
constexpr uint16_t WAVE_FORMAT_EXTENSIBLE = 0xFFFE;  // the real tag is in the SubFormat GUID

// The PCM record for a channel count, a sample width in bits (a multiple of 8) and a rate in Hz
// (44100 unless given): block align is channels x (bits div 8), bytes per second rate x block
// align, cbSize 0. Nothing is checked, so tests can build formats the program must refuse.
inline WAVEFORMATEX MakePcmFormat(int channels, int bits, int rate = 44100) {
    WAVEFORMATEX f;
    f.wFormatTag = WAVE_FORMAT_PCM;
    f.nChannels = static_cast<uint16_t>(channels);
    f.nSamplesPerSec = static_cast<uint32_t>(rate);
    f.wBitsPerSample = static_cast<uint16_t>(bits);
    f.nBlockAlign = static_cast<uint16_t>((bits / 8) * channels);
    f.nAvgBytesPerSec = static_cast<uint32_t>(rate) * f.nBlockAlign;
    return f;  // cbSize 0
}

// The same record for IEEE float samples (bits 32 or 64).
inline WAVEFORMATEX MakeFloatFormat(int channels, int bits, int rate = 44100) {
    WAVEFORMATEX f = MakePcmFormat(channels, bits, rate);
    f.wFormatTag = WAVE_FORMAT_IEEE_FLOAT;
    return f;
}

// What the window holds before a file is opened: 16-bit mono at 44100 Hz. A file whose format
// chunk is shorter than 16 bytes keeps these values for the fields it lacks.
inline WAVEFORMATEX StartUpFormat() { return MakePcmFormat(1, 16, 44100); }

// One block handed to an audio device: the device fills (capture) or plays (output) the
// dwBufferLength bytes at lpData. dwBytesRecorded is set by capture when the block returns.
struct WAVEHDR {
    char* lpData = nullptr;
    uint32_t dwBufferLength = 0;
    uint32_t dwBytesRecorded = 0;
    uintptr_t dwUser = 0;
    uint32_t dwFlags = 0;
    uint32_t dwLoops = 0;
};

constexpr uint32_t WHDR_DONE = 0x1;
constexpr uint32_t WHDR_PREPARED = 0x2;
constexpr uint32_t WHDR_INQUEUE = 0x10;

// Position record of the output device; wType is always TIME_BYTES here.
constexpr uint32_t TIME_BYTES = 0x4;
struct MMTIME {
    uint32_t wType = TIME_BYTES;
    uint32_t cb = 0;  // bytes of the current block played so far
};

using MMRESULT = uint32_t;
constexpr MMRESULT MMSYSERR_NOERROR = 0;
constexpr MMRESULT MMSYSERR_ERROR = 1;
constexpr MMRESULT MMSYSERR_BADDEVICEID = 2;
constexpr MMRESULT MMSYSERR_ALLOCATED = 4;
constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
constexpr MMRESULT MMSYSERR_NODRIVER = 6;
constexpr MMRESULT MMSYSERR_NOMEM = 7;
constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
constexpr MMRESULT WAVERR_BADFORMAT = 32;
constexpr MMRESULT WAVERR_STILLPLAYING = 33;
constexpr MMRESULT WAVERR_UNPREPARED = 34;

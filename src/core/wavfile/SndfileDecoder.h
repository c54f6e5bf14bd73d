// Sound files other than RIFF WAVE (FLAC, Ogg Vorbis and Opus, MP3, AIFF/AIFC, CAF, W64, ...),
// decoded into a held sound: MPEG audio by libmpg123 (see MpegDecoder.h), the rest through
// libsndfile. No Qt here.
//
// The held format is the nearest one the window holds: 8-bit sources become 8-bit unsigned PCM,
// 16-, 24- and 32-bit integer sources keep their width (20-bit ALAC is held in 24 bits), float
// sources become 32-bit IEEE float (64-bit for double-precision sources), lossy sources (Vorbis,
// Opus, MPEG layers I-III) 32-bit float, and other encodings (mu-law, A-law, ADPCM, GSM, ...)
// 16-bit PCM. Each held sample is exactly the value the decoder gives. The file's rate and all
// its channels are kept, as our WAV reader keeps them. The format record is WAVE_FORMAT_PCM or
// WAVE_FORMAT_IEEE_FLOAT, with block align channels x bits / 8, bytes per second rate x block
// align and cbSize 0.
//
// WaveFileData::encoding names the codec of compressed sounds ("flac", "vorbis", "opus", "mp3",
// "mp2", "mp1", "alac") and otherwise the container ("aiff" for AIFF and AIFF-C, "caf", "w64",
// "rf64", "au", "wav", and libsndfile's other format names in lower case).
//
// A sound's length is what decodes, never what a header claims: only uncompressed samples, whose
// length follows from the bytes the file holds, are taken at their header's word. The samples
// are decoded into a block that doubles as they come and ends at the decoded length.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "wavfile/WavFile.h"

namespace sonabi {

// libsndfile does not recognise the file as sound, or cannot decode it.
inline constexpr const char* kNoAudio = "No audio";

// How much of a sound a load takes.
enum class SoundPart {
    kSamples,  // the samples, held
    kLength,   // the format and the true length: out.size as kSamples gives it, nothing held
    kFormat,   // the format only: out.size only where the header's length is exact, else 0
};

// Decodes the file at path (a regular file). Returns "" on success, with out.format, out.data
// (blocks::Allocate; the caller releases it), out.size and out.encoding set. On failure out is
// left as it was, and the text is kNoAudio, "No read" (no frames at all), "No rate" (a rate
// of 0) or "No pwavedata" (no memory, or more than 2^32 - 1 bytes of samples).
// With `part` other than kSamples, out.data stays null; kLength decodes compressed sounds to
// count their frames, and gives the texts kSamples gives.
std::string DecodeSoundFile(const std::string& path, WaveFileData& out,
                            SoundPart part = SoundPart::kSamples);

// The same for a file image of n bytes in memory (for the fuzzers and tests).
std::string DecodeSoundBytes(const uint8_t* bytes, size_t n, WaveFileData& out);

}  // namespace sonabi

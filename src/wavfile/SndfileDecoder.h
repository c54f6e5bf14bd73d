// Sound files other than RIFF WAVE (FLAC, Ogg Vorbis and Opus, MP3, AIFF/AIFC, CAF, W64, ...),
// decoded through libsndfile into a held sound. No Qt here.
//
// The held format is the nearest one the window holds: 8-bit sources become 8-bit unsigned PCM,
// 16-, 24- and 32-bit integer sources keep their width (20-bit ALAC is held in 24 bits), float
// sources become 32-bit IEEE float (64-bit for double-precision sources), lossy sources (Vorbis,
// Opus, MPEG layers I-III) 32-bit float, and other encodings (mu-law, A-law, ADPCM, GSM, ...)
// 16-bit PCM. Each held sample is exactly the value the decoder gives. The file's rate is kept, and
// its channels up to two: of a file with more, the first two are held, since the views have room
// for two. The format record is WAVE_FORMAT_PCM or WAVE_FORMAT_IEEE_FLOAT, with block align
// channels x bits / 8, bytes per second rate x block align and cbSize 0.
//
// WaveFileData::encoding names the codec of compressed sounds ("flac", "vorbis", "opus", "mp3",
// "mp2", "mp1", "alac") and otherwise the container ("aiff" for AIFF and AIFF-C, "caf", "w64",
// "rf64", "au", "wav", and libsndfile's other format names in lower case).
//
// Long sounds (over 20 s, with a known length) are decoded in two halves on two threads; the
// result is the one sequential decoding gives, byte for byte.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "wavfile/WavFile.h"

namespace sonabi {

// libsndfile does not recognise the file as sound, or cannot decode it.
inline constexpr const char* kNoAudio = "No audio";

// Decodes the file at path (a regular file). Returns "" on success, with out.format, out.data
// (blocks::Allocate; the caller releases it), out.size and out.encoding set. On failure out is
// left as it was, and the text is kNoAudio, "No read" (no frames at all), "No rate" (a rate
// of 0) or "No pwavedata" (no memory, or more than 2^32 - 1 bytes of samples). Memory grows
// with what actually decodes, whatever length the header claims.
// With `samples` false nothing is decoded: out.data stays null and out.size is the number of
// bytes the decoded samples would take, as the file's header tells it.
std::string DecodeSoundFile(const std::string& path, WaveFileData& out, bool samples = true);

// The same for a file image of n bytes in memory (for the fuzzers and tests).
std::string DecodeSoundBytes(const uint8_t* bytes, size_t n, WaveFileData& out);

}  // namespace sonabi

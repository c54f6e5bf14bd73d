// Opening any sound file into a held sound, the one path the window (open button, drop, "Open
// with") and the command-line analyser share. No Qt here.
#pragma once
#include <string>

#include "wavfile/SndfileDecoder.h"
#include "wavfile/WavFile.h"

namespace sonabi {

// WAV files are read by our own reader (ReadWaveFile), with its chunk search and its texts; a
// RIFF WAVE file it refuses stays refused with its text. A file that holds no RIFF WAVE chunk is
// handed to libsndfile (DecodeSoundFile). When libsndfile cannot read it either, the text is our
// reader's "No Wave" for a name ending in ".wav" (any case), else "No audio".
// `out` as for ReadWaveFile: on failure it is left as it was. `part` as for DecodeSoundFile; a
// WAV file's header tells its length, so kLength and kFormat read only its headers.
std::string LoadSoundFile(const std::string& path, WaveFileData& out,
                          SoundPart part = SoundPart::kSamples);

}  // namespace sonabi

// Opening any sound file into a held sound, the one path the window (open button, drop, "Open
// with") and the command-line analyser share. No Qt here.
#pragma once
#include <string>

#include "wavfile/WavFile.h"

namespace sonabi {

// WAV files are read by our own reader (ReadWaveFile), with its chunk search and its texts; a
// RIFF WAVE file it refuses stays refused with its text. A file that holds no RIFF WAVE chunk is
// handed to libsndfile (DecodeSoundFile). When libsndfile cannot read it either, the text is our
// reader's "No Wave" for a name ending in ".wav" (any case), else "No audio".
// `out` and `samples` as for ReadWaveFile: on failure `out` is left as it was.
std::string LoadSoundFile(const std::string& path, WaveFileData& out, bool samples = true);

}  // namespace sonabi

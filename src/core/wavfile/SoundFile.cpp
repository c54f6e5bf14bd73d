#include "wavfile/SoundFile.h"

#include <algorithm>
#include <cctype>

namespace sonabi {

namespace {

bool NamedWav(const std::string& path) {
    return path.size() >= 4 && std::equal(path.end() - 4, path.end(), ".wav", [](char c, char w) {
               return std::tolower(static_cast<unsigned char>(c)) == w;
           });
}

}  // namespace

std::string LoadSoundFile(const std::string& path, WaveFileData& out, SoundPart part) {
    const std::string error = ReadWaveFile(path, out, part == SoundPart::kSamples);
    // Only a file that is no RIFF WAVE at all goes to libsndfile: "No File" means there is
    // nothing to read, and every later text is about a WAV file that our reader has judged.
    if (error != "No Wave") return error;
    const std::string decoded = DecodeSoundFile(path, out, part);
    if (decoded != kNoAudio) return decoded;
    return NamedWav(path) ? error : decoded;
}

}  // namespace sonabi

// --info: the format of each sound file as the window would load it.
#include <string>

#include "cli.h"
#include "wavfile/SoundFile.h"

using namespace sonabi;

namespace cli {

namespace {

// One JSON line for one file; returns whether it loaded.
bool InfoLine(const std::string& file, std::ostream& out) {
    WaveFileData wave;
    wave.format = StartUpFormat();
    // Only the headers and chunk sizes where they tell the length exactly (a WAV file of
    // gigabytes is known at once); a compressed sound is decoded to count its frames.
    const std::string error = LoadSoundFile(file, wave, SoundPart::kLength);
    out << "{\"file\":" << JsonString(file);
    if (!error.empty()) {
        out << ",\"ok\":false,\"error\":" << JsonString(error) << "}\n";
        return false;
    }
    const WAVEFORMATEX& f = wave.format;
    // The reader has refused a zero block align or rate.
    const uint32_t frames = wave.size / f.nBlockAlign;
    out << ",\"ok\":true,\"channels\":" << f.nChannels << ",\"rate\":" << f.nSamplesPerSec
        << ",\"bits\":" << f.wBitsPerSample << ",\"encoding\":" << JsonString(wave.encoding)
        << ",\"blockAlign\":" << f.nBlockAlign << ",\"dataSize\":" << wave.size
        << ",\"frames\":" << frames
        << ",\"seconds\":" << JsonNumber(double(frames) / f.nSamplesPerSec) << "}\n";
    return true;
}

}  // namespace

int RunInfo(const Args& args, std::ostream& out, std::ostream& err) {
    const ParsedArgs parsed = ParseArgs(args, {});
    if (!parsed.error.empty()) return UsageError(err, parsed.error);
    if (parsed.positional.empty()) return UsageError(err, "--info needs at least one FILE");
    bool allLoaded = true;
    for (const std::string& file : parsed.positional) {
        allLoaded = InfoLine(file, out) && allLoaded;
    }
    out.flush();
    return allLoaded ? kExitOk : kExitRefused;
}

}  // namespace cli

#include "analysis/AnalysisPlan.h"

#include <algorithm>

#include "analysis/AnalysisTable.h"
#include "analysis/Spectrum.h"
#include "common/Blocks.h"
#include "common/Samples.h"
#include "wavfile/SoundFile.h"

namespace sonabi {

namespace {

constexpr uint64_t kMaxBytes = uint64_t{1} << 32;  // more than any WAV file's data

// Whether PlanAnalysis accepts the options for every file: its usage errors grow with the block
// align, so it is asked with the largest one a header can hold (65535).
bool PlanFitsEveryFile(const AnalysisOptions& options) {
    WaveFileData widest;
    widest.format = StartUpFormat();
    widest.format.nBlockAlign = UINT16_MAX;
    AnalysisPlan plan;
    return PlanAnalysis(options, widest, plan).empty();
}

}  // namespace

std::string PlanAnalysis(const AnalysisOptions& o, const WaveFileData& wave, AnalysisPlan& plan) {
    const WAVEFORMATEX& f = wave.format;
    const uint64_t frames = wave.size / f.nBlockAlign;
    AnalysisSettings& s = plan.settings;
    s.fftSize = o.fftSize ? o.fftSize : frames < 2048 ? 256 : 2048;
    s.frequencySpan = o.span;
    // The window works its cut-off bin out once at start-up (44100 Hz, 2048 frames) and keeps it
    // for every file opened; only a new cut-off is converted with the file's rate and window.
    const bool ownCut = o.lowCutGiven;
    s.lowCutBin =
        LowCutBinFor(o.lowCutHz, ownCut ? f.nSamplesPerSec : 44100, ownCut ? s.fftSize : 2048);
    s.peakThreshold = o.threshold >= 0 ? o.threshold : PeakThresholdFor(CodingOf(f));
    s.harmonicsFromAnalysis = true;
    s.freqPosition = 100;
    s.a4 = o.a4;
    // A window never starts inside a frame: the offset is rounded down to one, as the window's
    // scroll bar puts its position on a frame.
    plan.firstOffset = o.offset - o.offset % f.nBlockAlign;
    const uint64_t stepFrames = o.step ? o.step : s.fftSize / 2;
    if (stepFrames > kMaxBytes / f.nBlockAlign) return "bad --step (its bytes pass 2^32)";
    plan.stepBytes = stepFrames * f.nBlockAlign;
    // Any --count is taken: only the windows that fit in the sound are analysed.
    plan.bytesPerSecond = uint64_t{f.nSamplesPerSec} * f.nBlockAlign;
    return "";
}

uint64_t PlannedWindows(const AnalysisOptions& o, const AnalysisPlan& plan,
                        const WaveFileData& wave) {
    return std::min(o.count, WindowCountOf(wave.size, wave.format, plan.settings.fftSize,
                                           plan.firstOffset, plan.stepBytes));
}

LoadOutcome LoadForAnalysis(const std::string& file, const AnalysisOptions& options,
                            WaveFileData& wave, AnalysisPlan& plan) {
    LoadOutcome outcome;
    wave.format = StartUpFormat();
    // The format first: the checks of the options need its block align only, and a compressed
    // sound is not decoded to refuse them.
    outcome.loadError = LoadSoundFile(file, wave, SoundPart::kFormat);
    if (!outcome.loadError.empty()) return outcome;
    outcome.usageError = PlanAnalysis(options, wave, plan);
    if (!outcome.usageError.empty()) return outcome;
    outcome.loadError = LoadSoundFile(file, wave);
    if (!outcome.loadError.empty()) return outcome;
    // The window length follows from what decoded, as in the window, not from a header.
    outcome.usageError = PlanAnalysis(options, wave, plan);
    if (!outcome.usageError.empty()) blocks::Release(wave.data);
    return outcome;
}

std::string UnfitFile(const std::vector<std::string>& files, const AnalysisOptions& options) {
    // Options that fit every file need no file opened for that.
    if (PlanFitsEveryFile(options)) return "";
    for (const std::string& file : files) {
        WaveFileData headers;
        headers.format = StartUpFormat();
        AnalysisPlan plan;
        if (!LoadSoundFile(file, headers, SoundPart::kFormat).empty()) continue;  // in turn
        if (const std::string bad = PlanAnalysis(options, headers, plan); !bad.empty())
            return bad + " for " + file;
    }
    return "";
}

}  // namespace sonabi

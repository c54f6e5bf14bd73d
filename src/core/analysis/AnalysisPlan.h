// The options of a window-by-window analysis and how they apply to one sound: the window's
// settings for its format, where its windows lie and how many there are; and the loading of a
// file for such an analysis. What the command-line analyser and the Python module share, so the
// two can never plan a file differently.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "analysis/WindowAnalysis.h"
#include "wavfile/WavFile.h"

namespace sonabi {

struct AnalysisOptions {
    uint64_t offset = 0;  // bytes, at most 2^32
    uint64_t step = 0;    // frames; 0 = half a window
    uint64_t count = UINT64_MAX;
    bool countGiven = false;
    unsigned fftSize = 0;  // 256, 512, 1024, 2048; 0 = 2048, or 256 for a sound shorter than that
    double span = 2000.0;  // Hz, above 0
    double lowCutHz = 30.0;
    bool lowCutGiven = false;  // an own cut-off, converted with the sound's rate and window
    double threshold = -1.0;   // < 0: 5.0 for 16-bit data, else 0.1
    double a4 = 440.0;         // Hz, 415 .. 466: the notes' and cents' reference
};

// Where and how one sound's windows are analysed.
struct AnalysisPlan {
    AnalysisSettings settings;
    uint64_t firstOffset = 0;     // bytes, the offset rounded down to a whole frame
    uint64_t stepBytes = 0;       // > 0
    uint64_t bytesPerSecond = 0;  // rate x block align
};

// The window's settings for a sound of this format and size. Returns "" or the usage error of
// an option whose byte extent is beyond what any WAV file holds (it would wrap, and a step
// that wrapped to 0 would divide by zero). wave needs its format and size only, and the usage
// errors depend on its block align alone (> 0).
std::string PlanAnalysis(const AnalysisOptions& options, const WaveFileData& wave,
                         AnalysisPlan& plan);

// The usage error ("... for FILE") of the first of several files whose format an option cannot
// apply to, read from the formats alone; "" when the options fit them all. Files that cannot be
// read are left to be refused in their turn.
std::string UnfitFile(const std::vector<std::string>& files, const AnalysisOptions& options);

// Windows of the loaded wave that the plan analyses: those that fit, at most options.count.
uint64_t PlannedWindows(const AnalysisOptions& options, const AnalysisPlan& plan,
                        const WaveFileData& wave);

// Loads a file for analysis: its format first, so that a bad option is refused before a large
// file is read or decoded, then the samples, from which the plan is made. Returns "" (wave holds
// the samples: release them with blocks::Release), or sets usageError (the option that cannot
// apply to this file) or loadError (the reader's text: the file is refused).
struct LoadOutcome {
    std::string usageError, loadError;
};
LoadOutcome LoadForAnalysis(const std::string& file, const AnalysisOptions& options,
                            WaveFileData& wave, AnalysisPlan& plan);

}  // namespace sonabi

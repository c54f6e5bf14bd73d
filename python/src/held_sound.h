// What the Python module holds and hands to the analysis: a sound's format and sample bytes,
// either read from a file into blocks of its own or lent by a numpy array (no copy), and the
// analysis results as rows of fixed layout that numpy reads as a structured array.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "analysis/AnalysisPlan.h"
#include "synth/ProfileOfSound.h"
#include "wavfile/WavFile.h"

namespace pysonabi {

// A sound read by LoadSoundFile: its blocks are released with the last owner.
struct OwnedSound {
    sonabi::WaveFileData wave;
    OwnedSound() = default;
    OwnedSound(const OwnedSound&) = delete;
    OwnedSound& operator=(const OwnedSound&) = delete;
    ~OwnedSound();
};

// One analysed window, as numpy reads it (RowFields() gives the layout). A window without a
// detection has frequency, level, harmonics and cents 0, hz and pitch NaN, note "".
struct Row {
    uint64_t offset;  // bytes
    double time;      // seconds, the CSV's millisecond text read back
    double hz;        // Hz, NaN without a detection
    double pitch;     // Hz, NaN without a detection
    int32_t frequency, level;
    int32_t harmonics[20];  // h1 .. h20, 0 .. 100
    int32_t cents;          // -49 .. +50
    char32_t note[6];       // "A4", "C#5" as numpy's U6, zero-padded
    bool detected;
};

// One field of Row: its name (the CSV column), numpy's type code, its byte offset.
struct RowField {
    std::string name, format;
    size_t offset;
};
std::vector<RowField> RowFields();

// Worker threads for `requested` (0: every core, at most 8).
unsigned ThreadsFor(unsigned requested);

// The planned windows of wave (format, data and size set) analysed on `threads` threads, in order.
// Throws std::bad_alloc when memory runs out.
std::vector<Row> AnalyzePlanned(const sonabi::WaveFileData& wave,
                                const sonabi::AnalysisOptions& options,
                                const sonabi::AnalysisPlan& plan, unsigned threads);

// The strongest window of the planned windows, found on `threads` threads.
sonabi::StrongestWindow StrongestPlanned(const sonabi::WaveFileData& wave,
                                         const sonabi::AnalysisOptions& options,
                                         const sonabi::AnalysisPlan& plan, unsigned threads);

// Files analysed on `threads` threads as the analyser spreads them (tools/ordered_pool.h): rows
// for each file in order, or its error text ("" when it was analysed).
struct FileRows {
    std::vector<Row> rows;
    std::string error;
};
std::vector<FileRows> AnalyzeFiles(const std::vector<std::string>& paths,
                                   const sonabi::AnalysisOptions& options, unsigned threads);

}  // namespace pysonabi

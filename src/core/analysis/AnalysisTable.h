// The analysis of a held sound's windows as text, one row per window: the CSV table the window
// exports and the command-line analyser prints, and the analyser's JSON lines. One code path
// for both programs, so their columns and numbers never differ. Locale-independent throughout.
//
// CSV columns, in this order (the last four were added later, so earlier columns keep their
// places):
//   offset,time,detected,frequency,level,h1,...,h20,hz,note,cents,pitch
// offset: byte offset of the window's first frame in the data; time: that offset in seconds,
// exact to the millisecond ("0.0", "0.046", "1234.567"); detected: true or false; frequency:
// Hz (integer); level: peak level; h1..h20: harmonic levels 0..100; hz: the unrounded
// fundamental with two decimals ("440.00"); pitch: the fundamental refined to the cent
// (RefinedPitch.h), two decimals; note: the equal-tempered note nearest to pitch ("A4", "C#5")
// against the settings' A4; cents: -49..+50 from that note (see NoteName.h). A window without a
// detection leaves every column from frequency on empty.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "analysis/WindowAnalysis.h"
#include "common/WaveTypes.h"

namespace sonabi {

// "offset,time,detected,frequency,level,h1,...,h20,hz,note,cents,pitch\n"
std::string AnalysisCsvHeader();

// Seconds of `offset` bytes at bytesPerSecond (> 0), rounded to the millisecond, halves up,
// without trailing zeros: "0.0", "0.046", "1234.57". Exact for offsets below 2^33 and
// bytesPerSecond below 2^35; "0.0" for a bytesPerSecond of 0.
std::string MillisecondsText(uint64_t offset, uint64_t bytesPerSecond);

// hz with exactly two decimals ("440.00", "261.63"); "" when hz is not finite.
std::string HzText(double hz);

// Appends one CSV row (with its '\n') for the window at byte `offset`, its note read against
// a4 (Hz). `lead` is written first as it is (the analyser's "file," column when it prints
// several files; "" otherwise).
void AppendAnalysisCsvRow(std::string& out, const std::string& lead, uint64_t offset,
                          uint64_t bytesPerSecond, const WindowResult& r, double a4 = 440.0);

// Appends one JSON object and '\n': {"offset":0,"time":0.0,"detected":false} or
// {"offset":..,"time":..,"detected":true,"frequency":..,"level":..,"harmonics":[20 ints],
// "hz":440.00,"note":"A4","cents":0,"pitch":440.00}, its note read against a4 (Hz). `lead`
// goes right after the '{' as it is (the analyser's "\"file\":\"a.wav\"," when it prints
// several files; "" otherwise). A detection whose pitch has no note (not above 0) gives
// "note":null,"cents":null.
void AppendAnalysisJsonLine(std::string& out, const std::string& lead, uint64_t offset,
                            uint64_t bytesPerSecond, const WindowResult& r, double a4 = 440.0);

// Number of windows of fftSize frames that fit in dataSize bytes when window i starts at
// startOffset + i x stepBytes (stepBytes > 0): 0 when not even the first one fits.
uint64_t WindowCountOf(uint64_t dataSize, const WAVEFORMATEX& format, unsigned fftSize,
                       uint64_t startOffset, uint64_t stepBytes);

enum class TableForm { Csv, JsonLines };

// Where the windows of a table lie in the held sound: window i starts at byte
// startOffset + i x stepBytes; windows first .. first + count - 1 are analysed.
struct WindowRange {
    uint64_t startOffset = 0;  // bytes, on a frame boundary
    uint64_t stepBytes = 0;    // bytes from one window to the next, > 0, a whole number of frames
    uint64_t first = 0;
    uint64_t count = 0;
};

// Analyses the windows of `range` of the held sound (data, dataSize bytes, in `format`) with
// `settings` and appends one row or line each to out, in order, each beginning with `lead`.
// noise: the captured noise spectrum to subtract (noiseCount values, bins 0 ..; missing bins
// count as 0), or nullptr for none; it is copied into the workspace, never changed. A window
// that does not fit or cannot be read gives a row with detected false; a format with no rate
// or block align, or a step of 0, gives no rows at all. Needs no allocation
// beyond the growth of out; ws is scratch for one thread.
void AppendWindowTable(std::string& out, TableForm form, const std::string& lead,
                       const uint8_t* data, size_t dataSize, const WAVEFORMATEX& format,
                       const AnalysisSettings& settings, const WindowRange& range,
                       const double* noise, size_t noiseCount, AnalysisWorkspace& ws);

// The window's export: the CSV header and a row for each of windows first .. first + count - 1,
// window i starting at byte i x stepBytes (count is limited to the windows that fit). The
// settings are the window's own (window length, span, threshold, low-cut bin); noise as above.
// Returns false, with csv empty, when memory runs out; csv is replaced, not appended to.
bool AnalyzeWindowsCsv(const uint8_t* data, size_t dataSize, const WAVEFORMATEX& format,
                       const AnalysisSettings& settings, uint64_t stepBytes, uint64_t first,
                       uint64_t count, const double* noise, size_t noiseCount, std::string& csv);

}  // namespace sonabi

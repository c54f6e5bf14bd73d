// The held notes of a whole sound, for the take report and the analyser's --notes: the pitch
// contour of the sound window by window (the analyser's own analysis, at a finer step), the
// notes held in it with their intonation, and their vibrato. No Qt here.
//
// A held note is a run of contour points with a pitch that
//   - stay within kHeldNoteBand (60 cents) of the run's centre, the mean of the run's points so
//     far: wide enough for a 30-cent vibrato swing either way, narrower than the 100 cents of a
//     step to the next note;
//   - are broken by no more than kMaxBridgedPoints (1) consecutive points without a pitch or
//     outside the band: a single window the detection drops or reads an octave off is a glitch,
//     two in a row (a quarter window or more of silence or another note) end the note;
//   - last at least kMinHeldSeconds (150 ms) from start to end.
// A window that holds the onset or the end of a tone reads it off by up to 30 cents, and one
// holding as little as a tenth of a window of tone is detected; so a note's statistics are those
// of its inner points, at least a window from its first and last points (all of them when that
// leaves fewer than three). Its note is NearestNoteOf the mean of those points (in cents, so the
// mean of the pitches' logarithms) against the reference A4; its cents are that mean's distance
// from the note; its spread their standard deviation.
//
// Vibrato is a sine fitted by least squares to the inner points' cents (with a straight line
// for a slow drift) at every rate from kMinVibratoHz to kMaxVibratoHz: the rate is the best
// fit's, the depth its amplitude (half the peak-to-peak swing). The window smooths the swing
// little, as the refined pitch of a swinging tone is taken over about a quarter window: a 5.5 Hz,
// 30-cent vibrato reads 29.5 cents at 2048 frames and 44.1 kHz. A note has vibrato only when the
// depth is at least kMinVibratoCents, the sine takes up at least half the variance the line
// leaves, and the inner points span at least two cycles of it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "analysis/AnalysisTable.h"
#include "analysis/WindowAnalysis.h"
#include "common/WaveTypes.h"

namespace sonabi {

constexpr double kHeldNoteBand = 60.0;     // cents either side of a note's running centre
constexpr int kMaxBridgedPoints = 1;       // contour points
constexpr double kMinHeldSeconds = 0.150;  // s
constexpr double kMinVibratoHz = 3.0, kMaxVibratoHz = 9.0;
constexpr double kMinVibratoCents = 5.0;  // depth, cents

// One window of the contour: the time of its centre (s) and its refined pitch (Hz; 0 where the
// window has no pitch).
struct ContourPoint {
    double time = 0.0;
    double pitch = 0.0;
};

// The contour's step: a quarter of a window. A window's pitch is averaged over about three
// quarters of it (RefinePitch compares a quarter window with one some periods later), so a finer
// step adds little, while a quarter window (11.6 ms at 2048 frames and 44.1 kHz) still gives 15
// points to a 5.5 Hz vibrato cycle where the half-window step of the analysis table gives 8.
constexpr unsigned ContourStepFrames(unsigned fftSize) { return fftSize / 4 ? fftSize / 4 : 1; }

// The windows of `range` (as AppendWindowTable reads them, with the same noise rule) analysed
// with AnalyzeWindow, one point each; a window without a detection or that cannot be read gives
// pitch 0. Empty for a format without a rate or block align, or a step of 0.
std::vector<ContourPoint> PitchContourOf(const uint8_t* data, size_t dataSize,
                                         const WAVEFORMATEX& format,
                                         const AnalysisSettings& settings, const WindowRange& range,
                                         const double* noise, size_t noiseCount,
                                         AnalysisWorkspace& ws);

struct HeldNote {
    double start = 0.0, end = 0.0;  // s: half a step before its first point, after its last
    size_t first = 0, last = 0;     // indices of its first and last contour points
    int midi = 0;                   // its note (NoteName.h)
    std::string name;               // "A4"
    double cents = 0.0;             // mean distance from the note, about -50 .. +50
    double spread = 0.0;            // cents: the standard deviation of its inner points
    bool vibrato = false;
    double rate = 0.0;   // Hz, kMinVibratoHz .. kMaxVibratoHz; 0 without vibrato
    double depth = 0.0;  // cents, half the swing; 0 without vibrato
};

// The held notes of a contour of points `step` seconds apart (> 0), in time order, their notes
// read against a4 (Hz). windowSeconds: the analysis window's length (s), which sets the inner
// points.
std::vector<HeldNote> FindHeldNotes(const std::vector<ContourPoint>& contour, double step,
                                    double a4, double windowSeconds);

// Each contour point in cents, for drawing: from the note of the held note it belongs to, or from
// its own nearest note when it belongs to none; NaN where it has no pitch.
std::vector<double> ContourCents(const std::vector<ContourPoint>& contour,
                                 const std::vector<HeldNote>& notes, double a4);

// Everything a report shows, from one analysis.
struct TakeReport {
    double step = 0.0;           // s between contour points
    double windowSeconds = 0.0;  // s, the analysis window
    std::vector<ContourPoint> contour;
    std::vector<HeldNote> notes;
};

// The report of a held sound: every window of settings.fftSize frames from byte 0, a
// ContourStepFrames step apart, unless `range` gives others (its count is limited to the windows
// that fit); noise as PitchContourOf; notes against settings.a4. Throws std::bad_alloc when
// memory runs out.
TakeReport MakeTakeReport(const uint8_t* data, size_t dataSize, const WAVEFORMATEX& format,
                          const AnalysisSettings& settings, const double* noise, size_t noiseCount,
                          const WindowRange* range = nullptr);

// The held-note table as text, locale-independent. CSV:
//   start,end,note,cents,spread,rate,depth
// start, end: s, three decimals; note: "A4"; cents: the mean, signed, one decimal ("+17.0",
// "-3.2", "0.0"); spread: cents, one decimal; rate: Hz, two decimals; depth: cents, one decimal;
// rate and depth empty without vibrato. JSON lines:
//   {"start":0.017,"end":2.983,"note":"A4","cents":17.0,"spread":0.1,"rate":null,"depth":null}
// `lead` starts each row, or follows each '{', as it is (a file column or member).
std::string HeldNotesCsvHeader();  // with its '\n'
void AppendHeldNotesCsv(std::string& out, const std::string& lead,
                        const std::vector<HeldNote>& notes);
void AppendHeldNotesJson(std::string& out, const std::string& lead,
                         const std::vector<HeldNote>& notes);
// value with `decimals` decimals, "-" for negatives and, with sign, "+" for positives ("+17.0");
// a value that rounds to 0 is "0.0" without sign.
std::string FixedText(double value, int decimals, bool sign = false);

}  // namespace sonabi

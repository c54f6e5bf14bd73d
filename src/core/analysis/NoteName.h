// The nearest equal-tempered note of a frequency and how far off it lies, for the analysis
// tables and the read-outs: A4 = 440 Hz unless another reference is given (kMinA4 .. kMaxA4),
// twelve notes to the octave, octaves numbered from C (B3 then C4).
#pragma once
#include <string>

namespace sonabi {

constexpr double kDefaultA4 = 440.0, kMinA4 = 415.0, kMaxA4 = 466.0;  // Hz

struct NearestNote {
    bool valid = false;  // false for a frequency that is not finite or not above 0 Hz
    int midi = 0;        // note number: 69 = A4, 60 = C4 (261.63 Hz), 21 = A0 (27.5 Hz)
    int cents = 0;       // -49 .. +50: the frequency lies this far above the note
    std::string name;    // "A4", "C#5", "B-1": sharps only, ASCII '#'; "" when not valid
};

// The note nearest to hz (Hz) against the reference a4 (Hz). The distance from A4 is first rounded
// to a whole cent (Round(6900 + 1200 log2(hz / 440)), halves rounded up), and that one number gives
// both the note and the cents, so note x 100 + cents is always that count: a frequency that rounds
// to exactly halfway between two notes is the lower note at +50, one cent more is the upper note at
// -49. Cents are therefore never below -49 nor above +50. hz that is not finite or not above 0 (or
// an a4 that is not a positive finite number) gives valid false. Any positive finite double gives a
// note (1e-300 Hz and 1e300 Hz too).
NearestNote NearestNoteOf(double hz, double a4 = kDefaultA4);

// "C", "C#", ... "B" for note number midi (midi mod 12, 0 = C), with the octave number
// midi div 12 - 1 (rounded towards minus infinity): 60 -> "C4", 69 -> "A4", 0 -> "C-1",
// -1 -> "B-2".
std::string NoteNameOf(int midi);

}  // namespace sonabi

#include "analysis/NoteName.h"

#include <cmath>

namespace sonabi {

namespace {

// Division rounded towards minus infinity, so notes below C-1 get the right octave and name.
int FloorDiv(long long a, long long b) {
    long long q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
    return static_cast<int>(q);
}

}  // namespace

std::string NoteNameOf(int midi) {
    static const char* const kNames[12] = {"C",  "C#", "D",  "D#", "E",  "F",
                                           "F#", "G",  "G#", "A",  "A#", "B"};
    const int octave = FloorDiv(midi, 12);
    const int pitch = midi - octave * 12;
    return kNames[pitch] + std::to_string(octave - 1);
}

NearestNote NearestNoteOf(double hz, double a4) {
    NearestNote note;
    if (!std::isfinite(hz) || !(hz > 0.0) || !(a4 > 0.0) || !std::isfinite(a4)) return note;
    // Every positive finite double lies within about +-1.3 million cents of A4, so the count
    // fits an int. The logarithms are taken apart: hz / 440 would underflow for tiny hz.
    const double fromA4 = 1200.0 * (std::log2(hz) - std::log2(a4));
    const long long total = 6900 + static_cast<long long>(std::floor(fromA4 + 0.5));
    // The note whose hundred holds total - 50 + 1 .. total + 50: a tie goes to the lower note.
    note.midi = FloorDiv(total + 49, 100);
    note.cents = static_cast<int>(total - note.midi * 100LL);
    note.valid = true;
    note.name = NoteNameOf(note.midi);
    return note;
}

}  // namespace sonabi

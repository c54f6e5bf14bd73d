#include "synth/Keyboard.h"

#include <cmath>

#include "views/Colours.h"

namespace sonabi {

namespace {

constexpr std::array<KeyInfo, kKeyCount + 1> kKeys{{
    {"", 0, false, 0},  // keys count from 1
    {"C2", 65, false, 11},    {"C#2", 69, true, 23},    {"D2", 73, false, 33},
    {"D#2", 78, true, 46},    {"E2", 83, false, 55},    {"F2", 87, false, 77},
    {"F#2", 92, true, 89},    {"G2", 98, false, 99},    {"G#2", 104, true, 112},
    {"A2", 110, false, 122},  {"A#2", 117, true, 135},  {"B2", 123, false, 144},
    {"C3", 131, false, 166},  {"C#3", 139, true, 178},  {"D3", 147, false, 188},
    {"D#3", 156, true, 201},  {"E3", 165, false, 211},  {"F3", 175, false, 233},
    {"F#3", 185, true, 245},  {"G3", 196, false, 255},  {"G#3", 208, true, 268},
    {"A3", 220, false, 277},  {"A#3", 233, true, 290},  {"B3", 247, false, 300},
    {"C4", 262, false, 322},  {"C#4", 277, true, 335},  {"D4", 294, false, 344},
    {"D#4", 311, true, 357},  {"E4", 330, false, 366},  {"F4", 349, false, 388},
    {"F#4", 370, true, 400},  {"G4", 392, false, 410},  {"G#4", 415, true, 423},
    {"A4", 440, false, 432},  {"A#4", 466, true, 445},  {"B4", 494, false, 454},
    {"C5", 523, false, 476},  {"C#5", 554, true, 488},  {"D5", 587, false, 499},
    {"D#5", 622, true, 512},  {"E5", 659, false, 521},  {"F5", 698, false, 543},
    {"F#5", 740, true, 555},  {"G5", 784, false, 565},  {"G#5", 830, true, 578},
    {"A5", 880, false, 588},  {"A#5", 932, true, 601},  {"B5", 988, false, 610},
    {"C6", 1047, false, 632}, {"C#6", 1109, true, 644}, {"D6", 1175, false, 654},
    {"D#6", 1245, true, 667}, {"E6", 1319, false, 676}, {"F6", 1397, false, 698},
    {"F#6", 1480, true, 711}, {"G6", 1568, false, 720}, {"G#6", 1661, true, 733},
    {"A6", 1760, false, 742}, {"A#6", 1865, true, 755}, {"B6", 1976, false, 764},
}};

// Red with equal green and blue: (255, u, u).
uint32_t Shade(int u) { return MakeRgb(255, u, u); }

void Assign(KeyColourChanges& changes, uint32_t colours[], int key, uint32_t colour) {
    colours[key] = colour;
    if (changes.count < static_cast<int>(changes.items.size())) {
        changes.items[changes.count++] = {key, colour};
    }
}

// Round(distance * 128 / half), the product integer, the division real.
int ShadeLevel(int distance, int half) {
    return static_cast<int>(std::llrintl(static_cast<long double>(distance * 128) / half));
}

}  // namespace

const KeyInfo& KeyAt(int key) { return kKeys.at(key); }
int KeyWidth(int key) { return KeyAt(key).black ? kBlackKeyWidth : kWhiteKeyWidth; }
int KeyHeight(int key) { return KeyAt(key).black ? kBlackKeyHeight : kWhiteKeyHeight; }

void BuildKeyFrequencies(int frequencies[kKeyCount + 1]) {
    for (int i = 1; i <= kKeyCount; ++i) frequencies[i] = kKeys[i].hz;
}

void ResetKeyColours(uint32_t colours[kKeyCount + 1]) {
    for (int i = 1; i <= kKeyCount; ++i) colours[i] = kKeys[i].black ? kBlack : kWhite;
}

KeyColourChanges HighlightNearestKey(int detected, const int frequencies[kKeyCount + 1],
                                     uint32_t colours[kKeyCount + 1]) {
    KeyColourChanges changes;
    const int d = detected;
    const int first = d < 277 ? 1 : 25;
    const int last = d < 277 ? 26 : 60;
    for (int i = first; i <= last; ++i) {
        const int f = frequencies[i];
        if (f - 1 <= d && d <= f + 1) {
            Assign(changes, colours, i, kRed);
            break;
        }
        if (i < 2) continue;
        const int below = frequencies[i - 1];
        if (below + 2 <= d && d <= f - 2) {
            // Both keys are at least 2 Hz away, so half is at least 2.
            const int half = (f - below) / 2;
            const int mid = (f + below) / 2;
            // The nearer key first: u of it, 128 - u of the other.
            const bool upper = d >= mid;
            const int u = ShadeLevel(upper ? f - 2 - d : d - below - 2, half);
            Assign(changes, colours, upper ? i : i - 1, Shade(u));
            Assign(changes, colours, upper ? i - 1 : i, Shade(128 - u));
        }
    }
    return changes;
}

int TypedNoteFrequency(char32_t ch) {
    // Unshifted and shifted character of each JIS key, A3 .. E5.
    struct TypedNote {
        char32_t plain, shifted;
        int hz;
    };
    static constexpr TypedNote kTyped[] = {
        {U'a', U'A', 220}, {U'w', U'W', 233}, {U's', U'S', 247}, {U'd', U'D', 262},
        {U'r', U'R', 277}, {U'f', U'F', 294}, {U't', U'T', 311}, {U'g', U'G', 330},
        {U'h', U'H', 349}, {U'u', U'U', 370}, {U'j', U'J', 392}, {U'i', U'I', 415},
        {U'k', U'K', 440}, {U'o', U'O', 466}, {U'l', U'L', 494}, {U';', U'+', 523},
        {U'@', U'`', 554}, {U':', U'*', 587}, {U'[', U'{', 622}, {U']', U'}', 659},
    };
    for (const TypedNote& note : kTyped) {
        if (ch == note.plain || ch == note.shifted) return note.hz;
    }
    return 0;
}

}  // namespace sonabi

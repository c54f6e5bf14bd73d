// The on-screen keyboard of 60 keys, C2 (key 1) to B6 (key 60): its note table, the keys'
// geometry and colours, and the highlight of the key or keys nearest a detected frequency.
// Tables are indexed 1..60 like the window's `KeyFrequencies` and `KeyPanels`; [0] is unused.
// Colours are 0xRRGGBB (views/Colours.h).
#pragma once
#include <array>
#include <cstdint>

namespace sonabi {

constexpr int kKeyCount = 60;
constexpr int kKeyTop = 542;  // client pixels, every key
constexpr int kWhiteKeyWidth = 22, kWhiteKeyHeight = 56;
constexpr int kBlackKeyWidth = 17, kBlackKeyHeight = 32;

struct KeyInfo {
    const char* note;  // "C2" .. "B6"
    int hz;            // stored frequency in Hz (not computed: E2 is 83, G#5 830)
    bool black;        // C#, D#, F#, G#, A# are black and lie over the white keys
    int left;          // left edge in client pixels
};

// Key 1..60.
const KeyInfo& KeyAt(int key);
int KeyWidth(int key);
int KeyHeight(int key);

// `BuildKeyTables`: frequencies[i] := the stored Hz of key i.
void BuildKeyFrequencies(int frequencies[kKeyCount + 1]);

// `ResetKeyColours`: every key back to white or black.
void ResetKeyColours(uint32_t colours[kKeyCount + 1]);

struct KeyColourChange {
    int key;
    uint32_t colour;
};
// The colour assignments of one highlight, in the order made. With a rising table there are at
// most two; the capacity covers any table.
struct KeyColourChanges {
    int count = 0;
    std::array<KeyColourChange, 2 * kKeyCount> items{};
};

// `HighlightNearestKey` for a detected frequency D in Hz: a key within 1 Hz of D turns red and the
// scan stops; a D between two keys and at least 2 Hz from both shades the pair, the nearer key
// redder (white towards the middle of the gap). Below 277 Hz keys 1..26 are scanned, otherwise
// 25..60; a D that matches nothing (below 64, above 1977) changes nothing. The changes are applied
// to colours (which only gain colour; reset them first) and returned. No allocation.
KeyColourChanges HighlightNearestKey(int detected, const int frequencies[kKeyCount + 1],
                                     uint32_t colours[kKeyCount + 1]);

// The note a typed character plays (the JIS home row and the row above it as a piano row from A3
// to E5; shifted characters play the same note), in Hz; 0 for any other character.
int TypedNoteFrequency(char32_t ch);

}  // namespace sonabi

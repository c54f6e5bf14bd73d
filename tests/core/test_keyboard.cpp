// The on-screen keyboard: its note table and geometry, the highlight of the detected pitch and
// the typed-note table.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "synth/Keyboard.h"
#include "views/Colours.h"

using namespace sonabi;

namespace {

struct Keys {
    int freqs[kKeyCount + 1];
    uint32_t colours[kKeyCount + 1];
    uint32_t rest[kKeyCount + 1];
    KeyColourChanges changes;

    explicit Keys(int detected) {
        BuildKeyFrequencies(freqs);
        ResetKeyColours(colours);
        ResetKeyColours(rest);
        changes = HighlightNearestKey(detected, freqs, colours);
    }
    // Keys whose colour differs from rest.
    int Changed() const {
        int n = 0;
        for (int i = 1; i <= kKeyCount; ++i) n += colours[i] != rest[i];
        return n;
    }
};

constexpr uint32_t Pink(int u) { return MakeRgb(255, u, u); }

}  // namespace

TEST(KeyTable, StoredFrequenciesAreRoundedEqualTemperamentButTwo) {
    for (int i = 1; i <= kKeyCount; ++i) {
        const std::string note = KeyAt(i).note;
        const long tempered = std::lround(440.0 * std::pow(2.0, (i - 34) / 12.0));
        if (note == "E2") {
            EXPECT_EQ(KeyAt(i).hz, 83);
        } else if (note == "G#5") {
            EXPECT_EQ(KeyAt(i).hz, 830);
        } else {
            EXPECT_EQ(KeyAt(i).hz, tempered) << note;
        }
    }
    EXPECT_STREQ(KeyAt(1).note, "C2");
    EXPECT_STREQ(KeyAt(34).note, "A4");
    EXPECT_STREQ(KeyAt(60).note, "B6");
}

TEST(KeyTable, SharpsAreSmallBlackKeysOverTheWhiteRow) {
    int previousWhite = 0;
    for (int i = 1; i <= kKeyCount; ++i) {
        const KeyInfo& key = KeyAt(i);
        const bool sharp = std::string(key.note).find('#') != std::string::npos;
        EXPECT_EQ(key.black, sharp) << key.note;
        EXPECT_EQ(KeyWidth(i), sharp ? 17 : 22);
        EXPECT_EQ(KeyHeight(i), sharp ? 32 : 56);
        if (sharp) {
            // A black key straddles the edge between its white neighbours.
            EXPECT_LT(key.left, KeyAt(previousWhite).left + 22) << key.note;
            EXPECT_GT(key.left + 17, KeyAt(i + 1).left) << key.note;
        } else {
            if (previousWhite != 0) EXPECT_GE(key.left - KeyAt(previousWhite).left, 22);
            previousWhite = i;
        }
    }
}

TEST(ResetKeyColours, WhiteAndBlackAsTheKeysAre) {
    uint32_t colours[kKeyCount + 1];
    ResetKeyColours(colours);
    for (int i = 1; i <= kKeyCount; ++i) {
        EXPECT_EQ(colours[i], KeyAt(i).black ? kBlack : kWhite) << KeyAt(i).note;
    }
}

TEST(HighlightNearestKey, GapFromA4ToASharp4ShadesBothKeys) {
    struct Row {
        int d;
        int a4;      // green = blue of A4, -1 unchanged
        int aSharp;  // same for A#4
    };
    const Row rows[] = {{440, 0, -1},   {441, 0, -1},  {442, 0, 128}, {445, 30, 98}, {452, 98, 30},
                        {453, 20, 108}, {460, 89, 39}, {464, 128, 0}, {465, -1, 0},  {466, -1, 0}};
    for (const Row& row : rows) {
        const Keys keys(row.d);
        SCOPED_TRACE(row.d);
        EXPECT_EQ(keys.colours[34], row.a4 < 0 ? kWhite : Pink(row.a4));
        EXPECT_EQ(keys.colours[35], row.aSharp < 0 ? kBlack : Pink(row.aSharp));
        EXPECT_EQ(keys.Changed(), (row.a4 >= 0) + (row.aSharp >= 0));
        EXPECT_EQ(keys.changes.count, keys.Changed());
    }
}

TEST(HighlightNearestKey, ShadesOfAPairAlwaysAddUpAndMoveTowardsTheNearerKey) {
    int previousA4 = -1;
    for (int d = 442; d <= 464; ++d) {
        const Keys keys(d);
        const int a4 = GreenOf(keys.colours[34]), aSharp = GreenOf(keys.colours[35]);
        EXPECT_EQ(a4 + aSharp, 128) << d;
        EXPECT_EQ(RedOf(keys.colours[34]), 255);
        EXPECT_EQ(BlueOf(keys.colours[35]), aSharp);
        if (d != 453) EXPECT_GE(a4, previousA4) << d;  // the colours swap at the middle
        previousA4 = a4;
    }
}

TEST(HighlightNearestKey, EdgesOfTheKeyboardAndOfTheTwoScans) {
    const struct {
        int d;
        int key;  // turned red, 0 for none
    } cases[] = {{65, 1},   {64, 1},   {63, 0}, {1977, 60}, {1978, 0},
                 {276, 26}, {277, 26}, {0, 0},  {-5, 0}};
    for (const auto& c : cases) {
        const Keys keys(c.d);
        SCOPED_TRACE(c.d);
        if (c.key == 0) {
            EXPECT_EQ(keys.Changed(), 0);
            EXPECT_EQ(keys.changes.count, 0);
        } else {
            EXPECT_EQ(keys.colours[c.key], kRed);
            EXPECT_EQ(keys.Changed(), 1);
            ASSERT_EQ(keys.changes.count, 1);
            EXPECT_EQ(keys.changes.items[0].key, c.key);
            EXPECT_EQ(keys.changes.items[0].colour, kRed);
        }
    }
}

TEST(HighlightNearestKey, NarrowGapBetweenG2AndGSharp2) {
    const Keys keys(100);  // half 3, mid 101
    EXPECT_EQ(keys.colours[8], kRed);
    EXPECT_EQ(keys.colours[9], Pink(128));
    EXPECT_EQ(keys.Changed(), 2);
}

TEST(TypedNoteFrequency, HomeRowAndRowAbovePlayAToEWithShiftedTwins) {
    const struct {
        char32_t plain, shifted;
        const char* note;
    } rows[] = {{'a', 'A', "A3"},  {'w', 'W', "A#3"}, {'s', 'S', "B3"},  {'d', 'D', "C4"},
                {'r', 'R', "C#4"}, {'f', 'F', "D4"},  {'t', 'T', "D#4"}, {'g', 'G', "E4"},
                {'h', 'H', "F4"},  {'u', 'U', "F#4"}, {'j', 'J', "G4"},  {'i', 'I', "G#4"},
                {'k', 'K', "A4"},  {'o', 'O', "A#4"}, {'l', 'L', "B4"},  {';', '+', "C5"},
                {'@', '`', "C#5"}, {':', '*', "D5"},  {'[', '{', "D#5"}, {']', '}', "E5"}};
    for (const auto& row : rows) {
        int expected = 0;
        for (int i = 1; i <= kKeyCount; ++i) {
            if (std::string(KeyAt(i).note) == row.note) expected = KeyAt(i).hz;
        }
        EXPECT_EQ(TypedNoteFrequency(row.plain), expected) << row.note;
        EXPECT_EQ(TypedNoteFrequency(row.shifted), expected) << row.note;
    }
    for (char32_t other : {U'b', U'z', U'1', U' ', U'\r', U'あ', U'Ａ'}) {
        EXPECT_EQ(TypedNoteFrequency(other), 0);
    }
}

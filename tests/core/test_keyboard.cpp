// The on-screen keyboard: its note table and geometry, the highlight of the detected pitch and
// the typed-note table; and the nearest note and cents the analysis tables print.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "analysis/NoteName.h"
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

namespace {

// hz = 440 x 2^(c / 1200): c cents from A4.
double CentsFromA4(double c) { return 440.0 * std::pow(2.0, c / 1200.0); }

}  // namespace

TEST(NearestNote, TableOfNotesOctavesAndCents) {
    struct Row {
        double hz;
        const char* name;
        int midi, cents;
    };
    const Row rows[] = {
        {440.0, "A4", 69, 0},
        {261.63, "C4", 60, 0},  // 261.6256 Hz is C4: 261.63 is 0.03 cents above
        {27.5, "A0", 21, 0},
        {4186.01, "C8", 108, 0},
        {880.0, "A5", 81, 0},
        {466.16, "A#4", 70, 0},
        {554.37, "C#5", 73, 0},
        {8.175799, "C-1", 0, 0},
        {7.0, "A-2", -3, 31},  // below note 0: the octave counts down, the name stays right
        {CentsFromA4(50.0), "A4", 69, 50},    // exactly halfway: the lower note at +50
        {CentsFromA4(49.4), "A4", 69, 49},    // just below halfway
        {CentsFromA4(50.6), "A#4", 70, -49},  // just above: the upper note, never +51
        {CentsFromA4(-50.0), "G#4", 68, 50},  // halfway below A4 is G#4 + 50, not A4 - 50
        {CentsFromA4(-49.6), "G#4", 68, 50},  // rounds to halfway below A4
        {CentsFromA4(-49.4), "A4", 69, -49},
        {CentsFromA4(-350.0), "F4", 65, 50},  // halfway between F4 and F#4
        // The B3 / C4 boundary lies 50 cents above B3 (246.94 Hz), at 254.18 Hz.
        {CentsFromA4(-950.0), "B3", 59, 50},
        {254.18, "B3", 59, 50},
        {CentsFromA4(-950.6), "B3", 59, 49},
        {CentsFromA4(-949.4), "C4", 60, -49},
        {254.3, "C4", 60, -49},
        {CentsFromA4(-948.0), "C4", 60, -48},
        {246.94, "B3", 59, 0},
        {CentsFromA4(100.0 * (-69 + 12) + 49.6), "C0", 12, 50},
    };
    for (const Row& row : rows) {
        const NearestNote n = NearestNoteOf(row.hz);
        EXPECT_TRUE(n.valid) << row.hz;
        EXPECT_EQ(n.name, row.name) << row.hz;
        EXPECT_EQ(n.midi, row.midi) << row.hz;
        EXPECT_EQ(n.cents, row.cents) << row.hz;
    }
}

TEST(NearestNote, CentsStayWithinMinus49AndPlus50AndAddUpToTheNote) {
    // Every tenth of a cent over four octaves, and round the halfway points in fine steps.
    for (int tenth = -24000; tenth <= 24000; ++tenth) {
        const double c = tenth / 10.0;
        const NearestNote n = NearestNoteOf(CentsFromA4(c));
        ASSERT_TRUE(n.valid) << c;
        ASSERT_GE(n.cents, -49) << c;
        ASSERT_LE(n.cents, 50) << c;
        // The note and its cents are one rounded count: they differ from c by half a cent.
        ASSERT_LE(std::fabs((n.midi - 69) * 100 + n.cents - c), 0.5 + 1e-6) << c;
        ASSERT_EQ(n.name, NoteNameOf(n.midi)) << c;
    }
}

TEST(NearestNote, NoNoteForZeroNegativeOrNonFiniteHz) {
    for (double hz : {0.0, -0.0, -440.0, std::nan(""), double(INFINITY), -double(INFINITY)}) {
        const NearestNote n = NearestNoteOf(hz);
        EXPECT_FALSE(n.valid) << hz;
        EXPECT_EQ(n.name, "") << hz;
        EXPECT_EQ(n.cents, 0) << hz;
    }
    // The extremes of the double range still name a note, far outside the keyboard.
    EXPECT_TRUE(NearestNoteOf(4.9406564584124654e-324).valid);
    EXPECT_TRUE(NearestNoteOf(1.7976931348623157e308).valid);
    EXPECT_EQ(NearestNoteOf(1e-300).name, NoteNameOf(NearestNoteOf(1e-300).midi));
}

TEST(NoteNameOf, SharpsAndOctavesFromC) {
    EXPECT_EQ(NoteNameOf(60), "C4");
    EXPECT_EQ(NoteNameOf(59), "B3");
    EXPECT_EQ(NoteNameOf(61), "C#4");
    EXPECT_EQ(NoteNameOf(69), "A4");
    EXPECT_EQ(NoteNameOf(0), "C-1");
    EXPECT_EQ(NoteNameOf(-1), "B-2");
    EXPECT_EQ(NoteNameOf(-12), "C-2");
    EXPECT_EQ(NoteNameOf(127), "G9");
}

// The nearest note and cents the analysis tables print, and the notes' names.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "analysis/NoteName.h"

using namespace sonabi;

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

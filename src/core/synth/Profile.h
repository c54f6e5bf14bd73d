// Harmonic profiles: the mixer's settings as a small JSON file, so a tone can be saved,
// exchanged and synthesised again sample for sample.
//
// The file is one JSON object with these six members and an optional seventh, in any order,
// each once:
//   {"sonabi-profile":1,"fundamental":261,"volume":10,"length":0.5,
//    "levels":[100,45,24,0,...],"phases":[0,-1.5707963267948966,...]}
// sonabi-profile  the format's version, the integer 1
// fundamental     Hz, an integer 1 .. 2000 (the `freq` slider)
// volume          an integer 0 .. 300 (the `volume` slider)
// length          seconds, 0.1 .. 3.0 in steps of 0.1 (the `TBmixtime` position / 10); any
//                 JSON number within 1e-9 of a whole number of tenths ("1", "1.0", "0.5")
// levels          exactly 20 integers 0 .. 100: harmonics 1 .. 20 (HarmonicLevels[1..20])
// phases          exactly 20 finite numbers, radians: harmonics 1 .. 20 (HarmonicPhases[1..20]);
//                 written with 17 significant digits, so they read back bit for bit
// pitch           optional: Hz above 0, the measured pitch that `fundamental` is the rounding
//                 of (two decimals; written when known, ignored by the mixer)
// Integers are written without a fraction or exponent ("10", never "10.0" or "1e1"). Whitespace
// between tokens is free, a leading UTF-8 byte order mark is skipped, and nothing but
// whitespace may follow the object. Files over kMaxProfileBytes are refused unread.
#pragma once
#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace sonabi {

constexpr int kProfileVersion = 1;
constexpr size_t kMaxProfileBytes = 65536;                  // a written profile takes under 1 KiB
constexpr int kMinFundamental = 1, kMaxFundamental = 2000;  // Hz, the `freq` slider's range
constexpr int kMaxVolume = 300;                             // the `volume` slider: 0 .. 300
constexpr int kMinLength = 1, kMaxLength = 30;              // `TBmixtime`: tenths of a second

// The mixer's start-up values are the defaults: every level 0, every phase 0, 100 Hz,
// volume 10, 0.5 s.
struct Profile {
    std::array<int, 21> levels{};     // [1 .. 20]: 0 .. 100; [0] unused, always 0
    std::array<double, 21> phases{};  // [1 .. 20]: radians, finite; [0] unused, always 0
    int fundamental = 100;            // Hz, 1 .. 2000
    int volume = 10;                  // 0 .. 300
    int length = 5;                   // tenths of a second (the `TBmixtime` position), 1 .. 30
    double pitch = 0.0;               // Hz, the refined pitch of an analysed sound; 0: none
};

// "" when every field is within its range, else the first field that is not
// ("volume 301 is outside 0 .. 300").
std::string ProfileError(const Profile& profile);

// The profile as one line of JSON with a final '\n', members in the order shown above.
// A profile with ProfileError() != "" is written as it stands (a non-finite phase as null), so
// the text will not parse back; the file functions refuse such a profile instead.
std::string ProfileToJson(const Profile& profile);

// Reads a profile from text. Returns "" and sets profile, or an error text that says where and
// what ("line 1, column 42: levels: expected 20 values, found 19"); profile is then unchanged.
// Never crashes, reads nothing past text, and needs no recursion whatever the input.
std::string ParseProfile(std::string_view text, Profile& profile);

// Reads the file at path. Returns "" and sets profile, or an error text (profile unchanged):
// the file cannot be opened or read, is larger than kMaxProfileBytes, or ParseProfile's text.
std::string LoadProfileFile(const std::string& path, Profile& profile);

// Writes ProfileToJson(profile) to path through a temporary file in the same folder that
// replaces path only once it is complete, so a failed save never destroys the file that was
// there. Returns "" or an error text; refuses a profile with ProfileError() != "".
std::string SaveProfileFile(const std::string& path, const Profile& profile);

}  // namespace sonabi

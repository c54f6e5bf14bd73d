// The profile file that keeps the mixer's settings: its text as documented, the round trip bit
// for bit, the strict reading with where and what, and the files' safe saving.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "synth/Profile.h"
#include "synth/ToneGenerator.h"

using namespace sonabi;

namespace {

constexpr int kRate = 44100;

Profile RandomProfile(std::mt19937_64& rng) {
    std::uniform_int_distribution<int> level(0, 100), freq(1, 2000), vol(0, 300), len(1, 30);
    std::uniform_real_distribution<double> angle(-2 * M_PI, 2 * M_PI);
    Profile p;
    for (int k = 1; k <= 20; ++k) {
        p.levels[k] = level(rng);
        p.phases[k] = angle(rng);
    }
    p.fundamental = freq(rng);
    p.volume = vol(rng);
    p.length = len(rng);
    return p;
}

bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// A valid profile's text with one member's value replaced.
std::string With(const std::string& member, const std::string& value) {
    std::string text = ProfileToJson(Profile{});
    const size_t at = text.find("\"" + member + "\":") + member.size() + 3;
    const size_t end = text.find_first_of(",}", text[at] == '[' ? text.find(']', at) : at);
    return text.substr(0, at) + value + text.substr(end);
}

}  // namespace

TEST(Profile, WrittenAsDocumented) {
    Profile p;
    p.levels[1] = 100;
    p.levels[2] = 45;
    p.phases[2] = -M_PI / 2;
    p.fundamental = 261;
    p.length = 10;
    std::string levels = "100,45", phases = "0,-1.5707963267948966";
    for (int k = 3; k <= 20; ++k) levels += ",0", phases += ",0";
    EXPECT_EQ(ProfileToJson(p),
              "{\"sonabi-profile\":1,\"fundamental\":261,\"volume\":10,"
              "\"length\":1.0,\"levels\":[" +
                  levels + "],\"phases\":[" + phases + "]}\n");
    p.length = 5;
    EXPECT_NE(ProfileToJson(p).find("\"length\":0.5,"), std::string::npos);
    p.length = 23;
    EXPECT_NE(ProfileToJson(p).find("\"length\":2.3,"), std::string::npos);
    // The refined pitch, when known, goes last with two decimals and reads back; it is optional
    // and must lie above 0 Hz.
    p.pitch = 196.0213;
    const std::string text = ProfileToJson(p);
    EXPECT_EQ(text.substr(text.size() - 18), "],\"pitch\":196.02}\n");
    Profile q;
    ASSERT_EQ(ParseProfile(text, q), "");
    EXPECT_EQ(q.pitch, 196.02);
    const std::string zero = text.substr(0, text.size() - 8) + "0}";
    EXPECT_NE(ParseProfile(zero, q).find("pitch 0 is not above 0 Hz"), std::string::npos);
    const std::string twice = text.substr(0, text.size() - 2) + ",\"pitch\":1}";
    EXPECT_NE(ParseProfile(twice, q).find("given twice"), std::string::npos);
}

TEST(Profile, RoundTripKeepsEveryPhaseBitForBitAndTheToneSampleForSample) {
    std::mt19937_64 rng(19);
    for (int i = 0; i < 200; ++i) {
        Profile p = RandomProfile(rng);
        if (i == 0) p.phases[3] = -0.0, p.phases[4] = 5e-324, p.phases[5] = 1e300;
        Profile q;
        ASSERT_EQ(ParseProfile(ProfileToJson(p), q), "") << ProfileToJson(p);
        EXPECT_EQ(q.levels, p.levels);
        for (int k = 1; k <= 20; ++k) ASSERT_TRUE(SameBits(q.phases[k], p.phases[k])) << k;
        EXPECT_EQ(q.fundamental, p.fundamental);
        EXPECT_EQ(q.volume, p.volume);
        EXPECT_EQ(q.length, p.length);
        EXPECT_EQ(ProfileToJson(q), ProfileToJson(p));
    }
    // The tone the mixer makes from the parsed profile is the very same.
    Profile p = RandomProfile(rng), q;
    ASSERT_EQ(ParseProfile(ProfileToJson(p), q), "");
    const auto toneOf = [](const Profile& f) {
        ToneSettings s;
        s.frequency = f.fundamental;
        s.volume = f.volume;
        s.harmonicCount = 20;
        s.levels = f.levels;
        s.phases = f.phases;
        std::vector<uint8_t> bytes(ToneByteCount(f.length));
        GenerateTone(bytes.data(), static_cast<uint32_t>(bytes.size()), kRate, s);
        return bytes;
    };
    EXPECT_EQ(toneOf(q), toneOf(p));
}

TEST(Profile, AcceptsAnyOrderWhitespaceAndWholeTenths) {
    const std::string text =
        "\xEF\xBB\xBF {\n \"phases\" : [0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,1.5e-1],\r\n"
        "\t\"length\": 3, \"volume\":0, \"levels\":[0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,100],"
        "\"fundamental\":2000, \"sonabi-profile\":1 }\n\n";
    Profile p;
    ASSERT_EQ(ParseProfile(text, p), "");
    EXPECT_EQ(p.length, 30);
    EXPECT_EQ(p.volume, 0);
    EXPECT_EQ(p.fundamental, 2000);
    EXPECT_EQ(p.levels[20], 100);
    EXPECT_EQ(p.phases[20], 0.15);
    for (const char* seconds : {"0.1", "0.30000000000000004", "1", "2.9", "1.0e0"}) {
        EXPECT_EQ(ParseProfile(With("length", seconds), p), "") << seconds;
    }
}

TEST(Profile, MalformedTextIsRefusedWithWhereAndWhatAndLeavesTheProfile) {
    const std::string twenty = "[0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0]";
    const std::string nineteen = "[0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0]";
    const std::string valid = ProfileToJson(Profile{});
    struct Case {
        std::string text, error;
    };
    const Case cases[] = {
        {"", "end of text: expected '{'"},
        {"[]", "line 1, column 1: expected '{'"},
        {valid + "x", "unexpected text after the profile's object"},
        {valid + "{}", "unexpected text after the profile's object"},
        {valid.substr(0, valid.size() - 3), "end of text: phases: expected ',' or ']'"},
        {"{}", "member \"sonabi-profile\" is missing"},
        {"{\"sonabi-profile\":1,}", "expected a member name"},
        {"{\"sonabi-profile\":1,\"sonabi-profile\":1}", "given twice"},
        {"{\"colour\":1}", "line 1, column 2: unknown member \"colour\""},
        {"{\n\"sonabi-profile\":2}", "line 2, column 18: sonabi-profile 2 is not a version"},
        {With("fundamental", "0"), "fundamental 0 is outside 1 .. 2000"},
        {With("fundamental", "2001"), "fundamental 2001 is outside 1 .. 2000"},
        {With("fundamental", "261.0"), "fundamental must be an integer, not 261.0"},
        {With("fundamental", "\"261\""), "fundamental: expected a number"},
        {With("fundamental", "99999999999999999999"), "is too large"},
        {With("volume", "-1"), "volume -1 is outside 0 .. 300"},
        {With("volume", "1e1"), "volume must be an integer"},
        {With("volume", "010"), "volume: expected a number"},
        {With("volume", "true"), "volume: expected a number"},
        {With("length", "0"), "length 0 is not 0.1 .. 3.0 seconds"},
        {With("length", "3.1"), "length 3.1 is not 0.1 .. 3.0 seconds"},
        {With("length", "0.55"), "length 0.55 is not 0.1 .. 3.0 seconds"},
        {With("length", "-0.5"), "length -0.5 is not"},
        {With("levels", nineteen), "levels: expected 20 values, found 19"},
        {With("levels", "[]"), "levels: expected 20 values, found 0"},
        {With("levels", "[" + twenty.substr(1, twenty.size() - 2) + ",0]"),
         "levels: expected 20 values, found more"},
        {With("levels", "[101" + twenty.substr(2)), "levels[1] 101 is outside 0 .. 100"},
        {With("levels", "[[0]" + twenty.substr(2)), "levels[1]: expected a number"},
        {With("levels", "0"), "levels: expected an array of 20 numbers"},
        {With("phases", "[1e999" + twenty.substr(2)), "phases[1] 1e999 is beyond the range"},
        {With("phases", "[NaN" + twenty.substr(2)), "phases[1]: expected a number"},
        {With("phases", "[1.]" + twenty.substr(2)), "phases[1]: expected a number"},
        {With("phases", "[0,,0]"), "phases[2]: expected a number"},
        {"{\"sonabi-profile\":1 \"volume\":1}", "expected ',' or '}'"},
        {"{\"sonabi-pro", "string not closed"},
        {"{\"a\\q\":1}", "bad escape"},
        {std::string(kMaxProfileBytes + 1, ' '), "larger than 65536 bytes"},
    };
    for (const Case& c : cases) {
        Profile p;
        p.volume = 77;
        const std::string error = ParseProfile(c.text, p);
        EXPECT_NE(error.find(c.error), std::string::npos)
            << "text: " << c.text.substr(0, 200) << "\nerror: " << error;
        EXPECT_EQ(p.volume, 77) << c.text.substr(0, 200);
    }
}

TEST(Profile, ArbitraryBytesNeverCrashAndDeepNestingNeedsNoStack) {
    Profile p;
    EXPECT_NE(ParseProfile(std::string(60000, '['), p), "");
    EXPECT_NE(ParseProfile("{\"levels\":" + std::string(60000, '['), p), "");
    const std::string valid = ProfileToJson(Profile{});
    std::mt19937 rng(7);
    for (int i = 0; i < 20000; ++i) {
        std::string text = valid;
        for (int flips = 1 + i % 4; flips > 0; --flips) {
            text[rng() % text.size()] = static_cast<char>(rng());
        }
        Profile q;
        const std::string error = ParseProfile(text, q);
        if (error.empty()) EXPECT_EQ(ProfileError(q), "") << text;
        for (size_t cut : {text.size() / 2, text.size() / 3}) ParseProfile(text.substr(0, cut), q);
    }
}

TEST(Profile, FilesSaveOverTheOldOneAndRefuseBadProfilesAndHugeFiles) {
    const std::string path = ::testing::TempDir() + "sonabi_profile_test.json";
    Profile p;
    p.levels[1] = 100;
    p.phases[2] = 0.1;
    ASSERT_EQ(SaveProfileFile(path, p), "");
    Profile q;
    ASSERT_EQ(LoadProfileFile(path, q), "");
    EXPECT_EQ(ProfileToJson(q), ProfileToJson(p));

    Profile bad = p;
    bad.volume = 301;
    EXPECT_EQ(SaveProfileFile(path, bad), "volume 301 is outside 0 .. 300");
    bad = p;
    bad.phases[7] = std::nan("");
    EXPECT_EQ(SaveProfileFile(path, bad), "phases[7] is not a finite number");
    ASSERT_EQ(LoadProfileFile(path, q), "");  // the old file is still there, whole
    EXPECT_EQ(ProfileToJson(q), ProfileToJson(p));

    EXPECT_NE(SaveProfileFile(::testing::TempDir() + "no/such/folder/x.json", p), "");
    EXPECT_EQ(LoadProfileFile(path + ".missing", q), "cannot open " + path + ".missing");
    std::FILE* big = std::fopen(path.c_str(), "wb");
    ASSERT_NE(big, nullptr);
    const std::string block(70000, ' ');
    std::fwrite(block.data(), 1, block.size(), big);
    std::fclose(big);
    EXPECT_NE(LoadProfileFile(path, q).find("larger than 65536 bytes"), std::string::npos);
    std::remove(path.c_str());
}

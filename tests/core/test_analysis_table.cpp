// The analysis table: each window's line as JSON or CSV, with its time, hz and note, and the
// window's own export, which must match the analyser window by window.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "WindowHelpers.h"
#include "analysis/AnalysisTable.h"

using namespace sonabi;
using namespace windowtest;

TEST(AnalysisTable, TimesHzAndTheHeader) {
    EXPECT_EQ(MillisecondsText(0, 88200), "0.0");
    EXPECT_EQ(MillisecondsText(4096, 88200), "0.046");
    EXPECT_EQ(MillisecondsText(1234567, 1000), "1234.567");
    EXPECT_EQ(MillisecondsText(1234570, 1000), "1234.57");
    EXPECT_EQ(MillisecondsText(1, 2000), "0.001");  // half a millisecond rounds up
    EXPECT_EQ(MillisecondsText(5, 0), "0.0");
    EXPECT_EQ(HzText(440.0), "440.00");
    EXPECT_EQ(HzText(261.625), "261.62");  // exactly representable: ties to even
    EXPECT_EQ(HzText(261.6256), "261.63");
    EXPECT_EQ(HzText(0.004), "0.00");
    EXPECT_EQ(HzText(std::nan("")), "");
    EXPECT_EQ(AnalysisCsvHeader(),
              "offset,time,detected,frequency,level,h1,h2,h3,h4,h5,h6,h7,h8,h9,h10,h11,h12,h13,"
              "h14,h15,h16,h17,h18,h19,h20,hz,note,cents,pitch\n");
}

TEST(AnalysisTable, RowsAndLinesOfDetectedAndSilentWindows) {
    WindowResult r;
    std::string csv, json;
    AppendAnalysisCsvRow(csv, "", 4096, 88200, r);
    AppendAnalysisJsonLine(json, "\"file\":\"a.wav\",", 4096, 88200, r);
    EXPECT_EQ(csv, "4096,0.046,false" + std::string(26, ',') + "\n");
    EXPECT_EQ(json, "{\"file\":\"a.wav\",\"offset\":4096,\"time\":0.046,\"detected\":false}\n");

    r.detected = true;
    r.frequency = 262;
    r.level = 1563;
    r.harmonicLevels[1] = 100;
    r.harmonicLevels[2] = 45;
    r.hz = 261.6256;
    r.pitch = 262.0;  // the note and cents are the refined pitch's: C4 +2
    csv.clear(), json.clear();
    AppendAnalysisCsvRow(csv, "a.wav,", 0, 88200, r);
    AppendAnalysisJsonLine(json, "", 0, 88200, r);
    const std::string zeros = "0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0";
    EXPECT_EQ(csv, "a.wav,0,0.0,true,262,1563,100,45," + zeros + ",261.63,C4,2,262.00\n");
    EXPECT_EQ(json,
              "{\"offset\":0,\"time\":0.0,\"detected\":true,\"frequency\":262,\"level\":1563,"
              "\"harmonics\":[100,45," +
                  zeros + "],\"hz\":261.63,\"note\":\"C4\",\"cents\":2,\"pitch\":262.00}\n");
    // Against another A4 the same pitch is another note: 262 Hz is C4 -21 at A4 = 446.
    csv.clear();
    AppendAnalysisCsvRow(csv, "", 0, 88200, r, 446.0);
    EXPECT_EQ(csv.substr(csv.size() - 15), ",C4,-21,262.00\n");

    // Columns keep their places whether a window was detected or not: 29 each.
    std::string silent;
    AppendAnalysisCsvRow(silent, "", 0, 88200, WindowResult{});
    const auto columns = [](const std::string& row) {
        return std::count(row.begin(), row.end(), ',') + 1;
    };
    EXPECT_EQ(columns(AnalysisCsvHeader()), 29);
    EXPECT_EQ(columns(silent), 29);
    EXPECT_EQ(columns(csv), 29);

    // A detection whose pitch names no note.
    r.hz = r.pitch = 0.0;
    csv.clear(), json.clear();
    AppendAnalysisCsvRow(csv, "", 0, 88200, r);
    AppendAnalysisJsonLine(json, "", 0, 88200, r);
    EXPECT_EQ(csv.substr(csv.size() - 13), ",0.00,,,0.00\n");
    const std::string end = "],\"hz\":0.00,\"note\":null,\"cents\":null,\"pitch\":0.00}\n";
    ASSERT_GT(json.size(), end.size());
    EXPECT_EQ(json.substr(json.size() - end.size()), end);
}

TEST(AnalysisTable, WindowExportMatchesWindowByWindowAndUsesTheCapturedNoise) {
    std::vector<uint8_t> bytes;
    for (int t = 0; t < 8192; ++t) Put16(bytes, Sine(10000, 440, t));
    const WAVEFORMATEX f = MakePcmFormat(1, 16);
    AnalysisSettings settings;
    std::string csv;
    ASSERT_TRUE(
        AnalyzeWindowsCsv(bytes.data(), bytes.size(), f, settings, 2048, 0, 1000, nullptr, 0, csv));
    // 8192 frames, windows of 2048 every 1024: 7 windows, each row as the analysis gives it.
    EXPECT_EQ(WindowCountOf(bytes.size(), f, 2048, 0, 2048), 7u);
    std::istringstream lines(csv);
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(line + "\n", AnalysisCsvHeader());
    Analyzer a;
    int rows = 0;
    for (; std::getline(lines, line); ++rows) {
        ASSERT_TRUE(a.Run(bytes, f, 2048u * rows));
        std::string expected;
        AppendAnalysisCsvRow(expected, "", 2048u * rows, 88200, a.result);
        EXPECT_EQ(line + "\n", expected);
        // The last four columns: hz, note, cents and pitch.
        const size_t pitchAt = line.rfind(',') + 1;
        const size_t hzAt = line.rfind(',', line.rfind(',', pitchAt - 2) - 1);
        const size_t hzStart = line.rfind(',', hzAt - 1) + 1;
        EXPECT_NEAR(std::stod(line.substr(hzStart)), a.result.hz, 0.005) << line;
        EXPECT_NEAR(std::stod(line.substr(pitchAt)), a.result.pitch, 0.005) << line;
        EXPECT_EQ(line.substr(hzAt, pitchAt - hzAt), ",A4,0,") << line;
    }
    EXPECT_EQ(rows, 7);
    // first and count pick a part; a first past the end gives the header alone.
    ASSERT_TRUE(
        AnalyzeWindowsCsv(bytes.data(), bytes.size(), f, settings, 2048, 5, 9, nullptr, 0, csv));
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 3);
    EXPECT_EQ(csv.substr(AnalysisCsvHeader().size(), 11), "10240,0.116");
    ASSERT_TRUE(
        AnalyzeWindowsCsv(bytes.data(), bytes.size(), f, settings, 2048, 99, 1, nullptr, 0, csv));
    EXPECT_EQ(csv, AnalysisCsvHeader());

    // The tone itself captured as noise leaves nothing to detect (threshold as the capture
    // sets it); the caller's noise array is not changed.
    a.ws->noiseCapturePending = true;
    ASSERT_TRUE(a.Run(bytes, f, 0));
    std::vector<double> noise(a.ws->noise, a.ws->noise + kMaxWindowFrames);
    const std::vector<double> kept = noise;
    ASSERT_TRUE(AnalyzeWindowsCsv(bytes.data(), bytes.size(), f, settings, 2048, 0, 1, noise.data(),
                                  noise.size(), csv));
    EXPECT_NE(csv.find("\n0,0.0,false,"), std::string::npos) << csv;
    EXPECT_EQ(noise, kept);
}

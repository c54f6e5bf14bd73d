// Every recording's take in the takes folder: whole after a stop and after closing the window,
// readable up to its last block after the program is killed, said once when it cannot be
// written, and the folder kept to its newest takes.
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>

#include "EngineFixture.h"
#include "wavfile/TakeFile.h"
#include "wavfile/WavFile.h"

using namespace sonabi;
using namespace enginetest;
namespace fs = std::filesystem;

namespace {

class TakesTest : public EngineTest {
  protected:
    void SetUp() override {
        ASSERT_TRUE(home.isValid());
        saved = qgetenv("XDG_DATA_HOME");
        // The killed child writes where its parent looks.
        if (qEnvironmentVariableIsEmpty("SONABI_TAKE_CHILD"))
            qputenv("XDG_DATA_HOME", home.path().toLocal8Bit());
        EngineTest::SetUp();
        audio->SetInputGenerator(Frames(1, [](uint64_t frame) { return Sine(440, frame); }));
    }
    void TearDown() override {
        EngineTest::TearDown();
        qputenv("XDG_DATA_HOME", saved);
    }
    fs::path Folder() const { return fs::path(home.path().toStdString()) / "sonabi" / "takes"; }
    std::vector<fs::path> Takes() const {
        std::vector<fs::path> names;
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(Folder(), ec)) names.push_back(e.path());
        std::sort(names.begin(), names.end());
        return names;
    }
    static std::vector<uint8_t> Bytes(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    // The file as the window's WAV writer would save `frames` frames of the 440 Hz capture.
    static std::vector<uint8_t> Expected(uint32_t frames) {
        std::vector<uint8_t> samples(frames * 2);
        for (uint32_t f = 0; f < frames; ++f) PutSample(samples.data(), f * 2, Sine(440, f));
        return WaveFileBytes(MakePcmFormat(1, 16, 44100), samples.data(), frames * 2);
    }
    QTemporaryDir home;
    QByteArray saved;
};

TEST_F(TakesTest, AStoppedAndAClosedRecordingAreThereWhole) {
    StartRecording();
    RecordBlocks(12);
    ASSERT_EQ(Takes().size(), 1u);
    EXPECT_EQ(Takes()[0].filename().string().substr(19), ".part.wav") << "not done yet";
    StopRecording();
    ASSERT_EQ(Takes().size(), 1u);
    const fs::path take = Takes()[0];
    EXPECT_TRUE(std::regex_match(take.filename().string(),
                                 std::regex(R"(\d{4}-\d\d-\d\d_\d\d-\d\d-\d\d\.wav)")))
        << take;
    EXPECT_EQ(Bytes(take), Expected(12 * kBlockFrames));
    EXPECT_EQ(Bytes(take), WaveFileBytes(form->WaveFormat, form->WaveData, form->WaveDataSize))
        << "the take equals what 保存 saves";

    // Closed while recording, in the same second: a second name, whole too.
    StartRecording();
    RecordBlocks(7);
    form->close();
    const auto takes = Takes();
    ASSERT_EQ(takes.size(), 2u);
    for (const fs::path& t : takes) EXPECT_EQ(t.extension(), ".wav") << t;
    EXPECT_TRUE(Bytes(takes[0]) == Expected(7 * kBlockFrames) ||
                Bytes(takes[1]) == Expected(7 * kBlockFrames));
    ExpectNoMessages();

    // Stopped before its first block: nothing to keep, no empty take.
    form = std::make_unique<TFormMain>(audio.get());
    HoldTimer();
    StartRecording();
    StopRecording();
    EXPECT_EQ(Takes().size(), 2u);
}

TEST_F(TakesTest, AnUnwritableFolderIsSaidOnceAndTheRecordingGoesOn) {
    fs::create_directories(Folder().parent_path());
    std::ofstream(Folder()) << "a file where the folder should be";
    StartRecording();
    RecordBlocks(5);
    Pump();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].text.startsWith(QString::fromUtf8("録音をテイクのフォルダに")));
    EXPECT_EQ(EngineState(*form), "Recording");
    StopRecording();
    EXPECT_EQ(form->WaveDataSize, 5 * kMonoBlock) << "the held recording is whole";
    EXPECT_EQ(messages.size(), 1u);
}

// Run by the next test in a process of its own: records 2.5 s, says so, and waits to be killed.
TEST_F(TakesTest, ChildRecordsUntilKilled) {
    if (qEnvironmentVariableIsEmpty("SONABI_TAKE_CHILD")) GTEST_SKIP() << "run by KilledMidTake";
    StartRecording();
    RecordBlocks(25);
    std::printf("recorded\n");
    std::fflush(stdout);
    for (;;) QThread::msleep(100);
}

TEST_F(TakesTest, AKilledRecordingLeavesItsTakeReadableToTheLastBlock) {
    if (!qEnvironmentVariableIsEmpty("SONABI_TAKE_CHILD")) GTEST_SKIP();
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("SONABI_TAKE_CHILD", "1");
    env.insert("SONABI_TEST_KEEP_XDG", "1");
    env.insert("XDG_DATA_HOME", home.path());
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(),
                {"--gtest_filter=TakesTest.ChildRecordsUntilKilled"});
    ASSERT_TRUE(child.waitForStarted());
    while (!child.readAllStandardOutput().contains("recorded"))
        ASSERT_TRUE(child.waitForReadyRead(30000)) << "the child never recorded";
    child.kill();  // SIGKILL: nothing of the window runs after it
    child.waitForFinished();
    ASSERT_EQ(Takes().size(), 1u);
    EXPECT_EQ(Takes()[0].filename().string().substr(19), ".part.wav");
    EXPECT_EQ(Bytes(Takes()[0]), Expected(25 * kBlockFrames));
    WaveFileData read{};
    EXPECT_EQ(ReadWaveFile(Takes()[0].string(), read), "");
    EXPECT_EQ(read.size, 25 * kMonoBlock);
    blocks::Release(read.data);
}

TEST(TakeFolder, FollowsXdgAndKeepsTheNewestHundred) {
    EXPECT_EQ(TakesFolder("/x/data", "/home/u"), fs::path("/x/data/sonabi/takes"));
    EXPECT_EQ(TakesFolder("relative", "/home/u"), fs::path("/home/u/.local/share/sonabi/takes"));
    EXPECT_EQ(TakesFolder(nullptr, "/home/u"), fs::path("/home/u/.local/share/sonabi/takes"));
    EXPECT_EQ(TakesFolder(nullptr, nullptr), fs::path());

    QTemporaryDir dir;
    const fs::path folder = dir.path().toStdString();
    auto touch = [&](const std::string& name) { std::ofstream(folder / name) << "x"; };
    for (int i = 0; i < 103; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "2026-01-01_10-%02d-%02d", i / 60, i % 60);
        touch(std::string(name) + (i == 50 ? ".part.wav" : ".wav"));
    }
    touch("2026-01-01_10-00-00-2.wav");  // a second take in the oldest second
    touch("my notes.wav");
    touch("2026-01-01_09-00-00.txt");
    KeepNewestTakes(folder, 100);
    EXPECT_FALSE(fs::exists(folder / "2026-01-01_10-00-00.wav"));
    EXPECT_FALSE(fs::exists(folder / "2026-01-01_10-00-00-2.wav"));
    EXPECT_FALSE(fs::exists(folder / "2026-01-01_10-00-01.wav"));
    EXPECT_FALSE(fs::exists(folder / "2026-01-01_10-00-02.wav"));
    EXPECT_TRUE(fs::exists(folder / "2026-01-01_10-00-03.wav"));
    EXPECT_TRUE(fs::exists(folder / "2026-01-01_10-00-50.part.wav"));
    EXPECT_TRUE(fs::exists(folder / "my notes.wav"));
    EXPECT_TRUE(fs::exists(folder / "2026-01-01_09-00-00.txt"));
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 102);
}

}  // namespace

// The open and save commands of the window with files in a temporary folder: what an opened file
// sets, what a refused one keeps, the overwrite question, the name rule and the bytes written.
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>

#include "FormFixture.h"
#include "TestWavFiles.h"
#include "synth/Profile.h"

using namespace sonabi;

namespace {

class FileCommandsTest : public FormTest {
  protected:
    QString Path(const QString& name) const { return dir.filePath(name); }
    // An 8-bit stereo 22050 Hz sound of a quarter second with a recognisable pattern.
    static std::vector<uint8_t> Stereo8() {
        std::vector<uint8_t> data(2 * 5512);
        for (size_t i = 0; i < data.size(); ++i)
            data[i] = static_cast<uint8_t>(i % 2 == 0 ? 128 + (i / 2) % 40 : 100 + (i / 2) % 17);
        return data;
    }
    void OpenFile(const QString& path) {
        openName = path;
        form->Butopen->click();
    }
    // The file the program writes for the sound it holds now.
    QByteArray HeldAsFile() const {
        return testwav::WaveFile(form->WaveFormat,
                                 testwav::Bytes(form->WaveData, form->WaveDataSize));
    }
    QTemporaryDir dir;
};

TEST_F(FileCommandsTest, DialogsUseTheWavFilterAndCancelChangesNothing) {
    uint8_t* held = form->WaveData;
    openName.clear();
    form->Butopen->click();
    saveName.clear();
    form->Butsave->click();
    ASSERT_EQ(filters.size(), 2);
    EXPECT_TRUE(filters[0].startsWith(QString::fromUtf8("wav|*.wav|すべての音声ファイル|*.wav;")))
        << filters[0].toStdString();
    EXPECT_EQ(filters[1], "wav|*.wav");
    EXPECT_EQ(form->WaveData, held);
    EXPECT_TRUE(messages.empty());
    EXPECT_TRUE(QDir(dir.path()).isEmpty());
}

TEST_F(FileCommandsTest, OpeningAnEightBitStereoFileTakesItsFormat) {
    const auto data = Stereo8();
    ASSERT_TRUE(testwav::WriteWave(Path("s.wav"), MakePcmFormat(2, 8, 22050), data));
    form->UpDownfftscale->Click(btNext);  // settings the open puts back
    form->UpDownChoicedata->Click(btNext);
    uint32_t pos = 2000;
    form->PlayScrollBarScroll(0, pos);
    form->VoiceprintX = 30;

    OpenFile(Path("s.wav"));
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(form->CurBits, 8);
    EXPECT_EQ(form->CurRate, 22050);
    EXPECT_EQ(form->CurChannels, 2);
    EXPECT_EQ(form->DataBits, 8);
    EXPECT_EQ(form->DataRate, 22050);
    EXPECT_EQ(form->DataChannels, 2);
    EXPECT_EQ(form->WaveFormat.nBlockAlign, 2);
    EXPECT_EQ(form->WaveFormat.cbSize, 0);
    EXPECT_EQ(testwav::Bytes(form->WaveData, form->WaveDataSize), data);
    EXPECT_EQ(form->PeakThreshold, 0.1);
    EXPECT_EQ(form->ViewOffset, 0u);
    EXPECT_EQ(form->VoiceprintX, 0);
    EXPECT_EQ(form->FftSize, 2048u);
    EXPECT_EQ(form->FrequencySpan, 2000.0);
    EXPECT_EQ(form->freq->maximum(), 2000);
    EXPECT_EQ(form->TimeGridFineMs, 5);
    EXPECT_TRUE(form->WaveDataHeld);
    EXPECT_FALSE(form->SynthActive);

    // A 16-bit file sets the threshold back to 5.
    ASSERT_TRUE(testwav::WriteWave(Path("m.wav"), MakePcmFormat(1, 16, 44100),
                                   testwav::Mono16(4410, [](uint32_t t) { return 3 * t; })));
    OpenFile(Path("m.wav"));
    EXPECT_EQ(form->PeakThreshold, 5.0);
    EXPECT_EQ(form->CurBits, 16);
}

TEST_F(FileCommandsTest, RefusedFileKeepsTheHeldSound) {
    const auto data = Stereo8();
    ASSERT_TRUE(testwav::WriteWave(Path("s.wav"), MakePcmFormat(2, 8, 22050), data));
    OpenFile(Path("s.wav"));
    uint8_t* held = form->WaveData;
    const WAVEFORMATEX format = form->WaveFormat;
    QByteArray bad = testwav::WaveFile(MakePcmFormat(1, 16, 44100), {1, 2, 3, 4});
    bad[20] = 3;  // wFormatTag: IEEE float
    ASSERT_TRUE(testwav::WriteBytes(Path("bad.wav"), bad));

    OpenFile(Path("bad.wav"));
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].text, "No fmttag");
    EXPECT_EQ(messages[0].caption, "ERROR");
    EXPECT_EQ(messages[1].text, "stop");
    EXPECT_EQ(messages[1].caption, "Sonabi");
    EXPECT_EQ(form->WaveData, held);
    EXPECT_EQ(testwav::Bytes(form->WaveData, form->WaveDataSize), data);
    EXPECT_EQ(std::memcmp(&form->WaveFormat, &format, sizeof format), 0);
    EXPECT_EQ(form->CurBits, 8);
    EXPECT_TRUE(form->WaveDataHeld);

    messages.clear();
    OpenFile(Path("missing.wav"));
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].text, "No File");
    EXPECT_EQ(messages[1].text, "stop");

    // Still playable and savable.
    form->PlayButton->click();
    ASSERT_TRUE(form->Playing);
    EXPECT_EQ(audio->OutputBlock()->lpData, reinterpret_cast<char*>(held));
    audio->FinishOutput();
    Pump();
    saveName = Path("again.wav");
    form->Butsave->click();
    EXPECT_EQ(testwav::ReadAll(Path("again.wav")), testwav::ReadAll(Path("s.wav")));
}

TEST_F(FileCommandsTest, RefusedFileKeepsAHeldTone) {
    form->TrackBars[1]->SetPosition(0);
    form->Transmit->click();
    audio->FinishOutput();
    Pump();
    uint8_t* parked = form->SavedWaveData;
    ASSERT_TRUE(testwav::WriteBytes(Path("junk.wav"), QByteArray("RIFF\x04\0\0\0JUNK", 12)));
    OpenFile(Path("junk.wav"));
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[1].text, "stop");
    EXPECT_TRUE(form->SynthActive);
    EXPECT_EQ(form->WaveData, form->SynthBuffer);
    EXPECT_EQ(form->SavedWaveData, parked);
    form->PlayButton->click();  // the user's sound is still there behind the tone
    EXPECT_EQ(form->WaveData, parked);
    EXPECT_TRUE(form->Playing);
}

// Without memory for the start-up sound nothing is held until a file is opened or a sound made.
class FileCommandsWithoutSoundTest : public FileCommandsTest {
  protected:
    void SetUp() override {
        createForm = false;
        FileCommandsTest::SetUp();
        blocks::FailHook = [](size_t bytes) { return bytes == 30u * 44100; };
        form = std::make_unique<TFormMain>(audio.get());
        blocks::FailHook = nullptr;
    }
};

TEST_F(FileCommandsWithoutSoundTest, SaveSaysNoDataUntilAFileIsOpened) {
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "No pwavedata");
    ASSERT_FALSE(form->WaveDataHeld);
    messages.clear();
    saveName = Path("x.wav");
    form->Butsave->click();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "no data");
    EXPECT_EQ(messages[0].caption, "error");
    EXPECT_TRUE(filters.isEmpty());
    EXPECT_FALSE(QFileInfo::exists(Path("x.wav")));

    const auto data = Stereo8();
    ASSERT_TRUE(testwav::WriteWave(Path("s.wav"), MakePcmFormat(2, 8, 22050), data));
    OpenFile(Path("s.wav"));
    EXPECT_TRUE(form->WaveDataHeld);
    form->Butsave->click();
    EXPECT_EQ(testwav::ReadAll(Path("x.wav")), testwav::ReadAll(Path("s.wav")));
}

TEST_F(FileCommandsTest, SavedFileIsTheHeldSoundByteForByte) {
    const auto data = Stereo8();
    ASSERT_TRUE(testwav::WriteWave(Path("in.wav"), MakePcmFormat(2, 8, 22050), data));
    OpenFile(Path("in.wav"));
    saveName = Path("out");
    form->Butsave->click();
    EXPECT_TRUE(messages.empty());
    EXPECT_TRUE(confirmations.isEmpty());
    EXPECT_EQ(testwav::ReadAll(Path("out.wav")), testwav::ReadAll(Path("in.wav")));

    // The start-up silence after a fresh start: 44100 bytes of 16-bit mono.
    form.reset();
    form = std::make_unique<TFormMain>(audio.get());
    saveName = Path("silence.wav");
    form->Butsave->click();
    EXPECT_EQ(testwav::ReadAll(Path("silence.wav")),
              testwav::WaveFile(MakePcmFormat(1, 16, 44100), std::vector<uint8_t>(44100, 0)));
}

TEST_F(FileCommandsTest, NameRuleAppendsWavUnlessItEndsInWavOrWAV) {
    const QByteArray expected = HeldAsFile();
    struct Case {
        const char* chosen;
        const char* written;
    };
    for (const Case& c : {Case{"a", "a.wav"}, Case{"b.wav", "b.wav"}, Case{"c.WAV", "c.WAV"},
                          Case{"d.Wav", "d.Wav.wav"}, Case{"e.wav.txt", "e.wav.txt.wav"}}) {
        saveName = Path(c.chosen);
        form->Butsave->click();
        EXPECT_EQ(testwav::ReadAll(Path(c.written)), expected) << c.chosen;
    }
    EXPECT_FALSE(QFileInfo::exists(Path("d.Wav")));
    EXPECT_TRUE(messages.empty());
}

TEST_F(FileCommandsTest, OverwriteQuestionGuardsEveryNameTheFileMayHave) {
    const QByteArray expected = HeldAsFile();
    const QByteArray old = "old contents";
    // The chosen name, the name with ".wav" and the name with ".WAV" each count as existing.
    for (const char* existing : {"n", "n.wav", "n.WAV"}) {
        QDir(dir.path()).removeRecursively();
        ASSERT_TRUE(QDir().mkpath(dir.path()));
        ASSERT_TRUE(testwav::WriteBytes(Path(existing), old));
        saveName = Path("n");
        for (Answer refusal : {Answer::No, Answer::Cancel}) {
            confirmations.clear();
            confirmAnswer = refusal;
            form->Butsave->click();
            ASSERT_EQ(confirmations.size(), 1) << existing;
            EXPECT_EQ(confirmations[0], QString::fromUtf8("上書きしていいですか？ ") + Path("n"));
            EXPECT_EQ(testwav::ReadAll(Path(existing)), old) << existing;
            EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{existing});
        }
        confirmAnswer = Answer::Yes;
        form->Butsave->click();
        EXPECT_EQ(testwav::ReadAll(Path("n.wav")), expected) << existing;
    }
    confirmations.clear();
    saveName = Path("fresh");
    form->Butsave->click();
    EXPECT_TRUE(confirmations.isEmpty());
}

TEST_F(FileCommandsTest, FailedSaveNamesThePathAndLeavesTheFileThere) {
    // A path longer than the 255-character path buffer, in folders that exist.
    QString folder = dir.path();
    while (folder.size() < 280) folder += "/" + QString(40, 'f');
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString target = folder + "/keep.wav";
    ASSERT_TRUE(testwav::WriteBytes(target, "precious"));
    saveName = target;
    form->Butsave->click();
    ASSERT_EQ(confirmations.size(), 1);
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].text, "No File");
    EXPECT_EQ(messages[0].caption, "ERROR");
    EXPECT_EQ(messages[1].text, "no save file");
    EXPECT_EQ(messages[1].caption, target);
    EXPECT_EQ(testwav::ReadAll(target), QByteArray("precious"));
    EXPECT_EQ(QDir(folder).entryList(QDir::Files), QStringList{"keep.wav"});
}

TEST_F(FileCommandsTest, BothButtonsDoNothingWhileBusy) {
    ASSERT_TRUE(testwav::WriteWave(Path("s.wav"), MakePcmFormat(2, 8, 22050), Stereo8()));
    openName = Path("s.wav");
    saveName = Path("busy.wav");
    uint8_t* held = form->WaveData;

    form->PlayButton->click();
    ASSERT_TRUE(form->Playing);
    form->Butopen->click();
    form->Butsave->click();
    for (auto command : {&TFormMain::ExportAnalysisClick, &TFormMain::SavePictureClick,
                         &TFormMain::SaveProfileClick, &TFormMain::LoadProfileClick})
        (form.get()->*command)();
    EXPECT_EQ(form->WaveData, held);
    audio->FinishOutput();
    Pump();

    form->RecButton->click();
    ASSERT_TRUE(form->Recording);
    form->Butopen->click();
    form->Butsave->click();
    form->ExportAnalysisClick();
    form->SavePictureClick();
    EXPECT_EQ(form->CurChannels, 1);
    form->RecButton->click();
    Pump();

    EXPECT_TRUE(filters.isEmpty());
    EXPECT_TRUE(messages.empty());
    EXPECT_FALSE(QFileInfo::exists(Path("busy.wav")));
}

// A note with overtones at their own phases, a second long.
std::vector<uint8_t> Overtones() {
    return testwav::Mono16(44100, [](uint32_t t) {
        const double x = 6.283185307179586 * 220 * t / 44100;
        return static_cast<int>(std::lrint(6000 * std::sin(x) + 3000 * std::sin(2 * x + 1) +
                                           1500 * std::sin(3 * x + 2)));
    });
}

QByteArray AnalyserCsv(const QStringList& args) {
    QProcess analyser;
    analyser.start(SONABI_ANALYZE_BIN, QStringList{"--csv"} + args);
    analyser.waitForFinished(60000);
    return analyser.readAllStandardOutput();
}

TEST_F(FileCommandsTest, ExportIsTheAnalysersTableAndThePictureTheWindow) {
    ASSERT_TRUE(testwav::WriteWave(Path("note.wav"), MakePcmFormat(1, 16, 44100), Overtones()));
    OpenFile(Path("note.wav"));
    saveName = Path("note");
    form->ExportAnalysisClick();
    EXPECT_EQ(filters.last(), "csv|*.csv");
    const QByteArray table = testwav::ReadAll(Path("note.csv"));
    EXPECT_EQ(table.count('\n'), 1 + 42);  // the header and every half-window step
    EXPECT_EQ(table, AnalyserCsv({Path("note.wav")}));
    form->UpDownChoicedata->Click(btNext);
    ASSERT_EQ(form->FftSize, 1024u);
    saveName = Path("note1024.csv");
    form->ExportAnalysisClick();
    EXPECT_EQ(testwav::ReadAll(Path("note1024.csv")),
              AnalyserCsv({"--fft-size", "1024", Path("note.wav")}));
    form->SetReferenceA4(442.5);  // the tuner's reference: notes and cents follow it
    saveName = Path("note442.csv");
    form->ExportAnalysisClick();
    EXPECT_EQ(testwav::ReadAll(Path("note442.csv")),
              AnalyserCsv({"--fft-size", "1024", "--a4", "442.5", Path("note.wav")}));
    EXPECT_NE(testwav::ReadAll(Path("note442.csv")), testwav::ReadAll(Path("note1024.csv")));
    form->SetReferenceA4(kDefaultA4);

    saveName = Path("window");
    form->SavePictureClick();
    const QImage picture(Path("window.png"));
    EXPECT_EQ(picture.size(), form->grab().size());
    EXPECT_TRUE(messages.empty());
}

// The profile of an analysed note, loaded into a new window, makes ミキサー play the very tone
// the first window plays; a profile the window cannot take changes nothing.
TEST_F(FileCommandsTest, LoadedProfilePlaysTheSameSamples) {
    ASSERT_TRUE(testwav::WriteWave(Path("note.wav"), MakePcmFormat(1, 16, 44100), Overtones()));
    OpenFile(Path("note.wav"));
    form->PlayButton->click();  // while it plays, the sliders follow the analysis
    audio->FinishOutput();
    Pump();
    saveName = Path("note");
    form->SaveProfileClick();
    // The profile keeps the refined pitch, to the slider's whole hertz, with its fraction.
    Profile saved;
    ASSERT_EQ(LoadProfileFile(Path("note.json").toStdString(), saved), "");
    ASSERT_GT(form->RefinedHz, 0);
    EXPECT_EQ(saved.fundamental, std::lround(form->RefinedHz));
    EXPECT_NEAR(saved.pitch, form->RefinedHz, 0.005);
    form->freq->SetPosition(saved.fundamental);
    form->Transmit->click();
    const std::vector<uint8_t> played = testwav::Bytes(form->WaveData, form->WaveDataSize);
    EXPECT_GT(form->HarmonicLevels[3], 0);
    audio->FinishOutput();
    Pump();

    form.reset();
    form = std::make_unique<TFormMain>(audio.get());
    openName = Path("note.json");
    form->LoadProfileClick();
    form->Transmit->click();
    EXPECT_EQ(testwav::Bytes(form->WaveData, form->WaveDataSize), played);
    audio->FinishOutput();
    Pump();
    EXPECT_TRUE(messages.empty());

    ASSERT_TRUE(testwav::WriteBytes(Path("bad.json"), "{\"sonabi-profile\":1}"));
    openName = Path("bad.json");
    const int level = form->HarmonicLevels[1];
    form->LoadProfileClick();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].text.contains("fundamental")) << messages[0].text.toStdString();
    EXPECT_EQ(form->HarmonicLevels[1], level);
}

// The saved mixer tones in tests/data/tones, which the Python module's tone() is checked
// against, are what ミキサー plays from each profile loaded into a fresh window.
// SONABI_WRITE_TONES=1 writes them anew from the window.
TEST_F(FileCommandsTest, SavedMixerTonesAreWhatTheMixerPlaysFromTheirProfiles) {
    const QDir tones(SONABI_TEST_DATA_DIR "/tones");
    const QStringList profiles = tones.entryList({"*.json"}, QDir::Files, QDir::Name);
    ASSERT_GE(profiles.size(), 3);
    for (const QString& name : profiles) {
        form.reset();
        form = std::make_unique<TFormMain>(audio.get());
        openName = tones.filePath(name);
        form->LoadProfileClick();
        ASSERT_TRUE(messages.empty()) << name.toStdString();
        form->Transmit->click();
        const QByteArray played = testwav::WaveFile(
            MakePcmFormat(1, 16, 44100), testwav::Bytes(form->WaveData, form->WaveDataSize));
        audio->FinishOutput();
        Pump();
        const QString wav = tones.filePath(QFileInfo(name).completeBaseName() + ".wav");
        if (qEnvironmentVariableIsSet("SONABI_WRITE_TONES"))
            ASSERT_TRUE(testwav::WriteBytes(wav, played));
        EXPECT_EQ(testwav::ReadAll(wav), played) << name.toStdString();
    }
}

// Ctrl with a letter runs its command or nothing: never the note that letter types.
TEST_F(FileCommandsTest, ShortcutsReachTheirCommandsAndNeverPlayANote) {
    form->show();
    QApplication::setActiveWindow(form.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    const struct {
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        const char* filter;
    } keys[] = {{Qt::Key_E, Qt::ControlModifier, "csv|*.csv"},
                {Qt::Key_I, Qt::ControlModifier, "png|*.png"},
                {Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier, "倍音プロファイル|*.json"},
                {Qt::Key_O, Qt::ControlModifier | Qt::ShiftModifier, "倍音プロファイル|*.json"},
                {Qt::Key_D, Qt::ControlModifier, nullptr}};
    for (const auto& k : keys) {
        filters.clear();
        QTest::keyClick(form.get(), k.key, k.modifiers);
        EXPECT_EQ(filters, k.filter ? QStringList{k.filter} : QStringList{}) << k.key;
        EXPECT_FALSE(form->Playing) << k.key;
    }
    QTest::keyClick(form.get(), Qt::Key_T, Qt::ControlModifier);
    ASSERT_NE(form->TunerWindow, nullptr);
    EXPECT_TRUE(form->TunerWindow->isVisible());
    EXPECT_FALSE(form->Playing);
    form->TunerWindow->hide();
    QApplication::setActiveWindow(form.get());
    QTest::keyClick(form.get(), Qt::Key_D);  // typed alone, d plays its note
    EXPECT_TRUE(form->Playing);
    audio->FinishOutput();
    Pump();
}

}  // namespace

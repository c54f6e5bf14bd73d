// Malformed WAV files opened through the window (the corpus tests/data/bad_wav/, written by
// tests/data/make_bad_wav.py with the expected outcome of each file in its EXPECTED list): each
// gives its clear message or loads safely; after a refusal the sound held before is still held,
// byte for byte, and the window stays usable; after a load the window can be scrolled, its
// analysis controls pressed and the sound played (or the device's refusal shown), and its
// analysis is the one its samples give, never the previous sound's.
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTextStream>
#include <algorithm>
#include <cstring>

#include "FormFixture.h"
#include "analysis/WindowAnalysis.h"
#include "wavfile/WavFile.h"

using namespace sonabi;

namespace {

QString BadWavFolder() {
    return QFileInfo(QString::fromUtf8(__FILE__)).absolutePath() + "/../data/bad_wav";
}

struct Expectation {
    QString file;
    bool loads = false;
    QString refusal;  // the text of the ERROR box when refused
    uint32_t size = 0;
    uint32_t channels = 0, rate = 0, bits = 0, tag = 0;
    QByteArray samples;  // the sample bytes held, when they are not the generator's ramp
};

std::vector<Expectation> ReadManifest() {
    std::vector<Expectation> list;
    QFile file(BadWavFolder() + "/EXPECTED");
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) return list;
    QTextStream in(&file);
    while (!in.atEnd()) {
        const QStringList fields = in.readLine().split('\t');
        if (fields.size() != 3) continue;
        Expectation e;
        e.file = fields[0];
        e.loads = fields[1] == "loaded";
        if (e.loads) {
            const QStringList v = fields[2].split(' ');
            e.size = v.value(0).toUInt();
            e.channels = v.value(1).toUInt();
            e.rate = v.value(2).toUInt();
            e.bits = v.value(3).toUInt();
            e.tag = v.value(4).toUInt();
            e.samples = QByteArray::fromHex(v.value(5).toLatin1());
        } else {
            e.refusal = fields[2];
        }
        list.push_back(e);
    }
    return list;
}

// The ramp the generator writes as sample bytes.
uint8_t Ramp(uint32_t i) { return static_cast<uint8_t>(7 * i + 3); }

// Whether the views and the analysis read samples of this tag and width.
bool ReadableCoding(const Expectation& e) {
    if (e.tag == WAVE_FORMAT_IEEE_FLOAT) return e.bits == 32 || e.bits == 64;
    return e.tag == WAVE_FORMAT_PCM &&
           (e.bits == 8 || e.bits == 16 || e.bits == 24 || e.bits == 32);
}

class BadFiles : public FormTest {
  protected:
    void SetUp() override {
        FormTest::SetUp();
        ASSERT_TRUE(dir.isValid());
        // The sound held before every bad file: one second of a 16-bit mono tone.
        good.resize(88200);
        for (size_t i = 0; i < good.size(); i += 2) {
            const int16_t s = static_cast<int16_t>(9000 * std::sin(i * 0.0314));
            std::memcpy(&good[i], &s, 2);
        }
        goodPath = dir.filePath("held.wav");
        const WAVEFORMATEX f = MakePcmFormat(1, 16, 44100);
        ASSERT_EQ(WriteWaveFile(goodPath.toStdString(), f, good.data(), 88200), "");
    }

    void HoldGoodSound() {
        messages.clear();
        form->OpenPath(goodPath);
        ASSERT_TRUE(messages.empty());
        ASSERT_TRUE(HoldsGoodSound());
    }

    bool HoldsGoodSound() const {
        const WAVEFORMATEX f = MakePcmFormat(1, 16, 44100);
        return form->WaveDataHeld && form->WaveData && form->WaveDataSize == good.size() &&
               std::memcmp(form->WaveData, good.data(), good.size()) == 0 &&
               std::memcmp(&form->WaveFormat, &f, 16) == 0;
    }

    // Idle flags, and the window still plays: a press starts, a second one pauses.
    void ExpectIdleAndPlayable(const QString& file) {
        SCOPED_TRACE(file.toStdString());
        EXPECT_FALSE(form->Playing || form->Recording || form->StopRequested);
        form->PlayButtonClick();
        EXPECT_TRUE(form->Playing);
        form->PlayButtonClick();
        Pump();
        EXPECT_FALSE(form->Playing);
        EXPECT_EQ(form->PlayButton->text(), QString::fromUtf8("再生"));
    }

    // The analysis window starts on a frame and lies inside the held block: the sound, or for a
    // sound shorter than the shortest window the one window it was padded to.
    void ExpectWindowInside() {
        const uint64_t align = form->WaveFormat.nBlockAlign;
        const uint64_t end = form->ViewOffset + align * form->FftSize;
        EXPECT_EQ(form->ViewOffset % align, 0u) << "the window starts between two frames";
        EXPECT_TRUE(end <= form->WaveDataSize || form->ViewOffset == 0)
            << form->ViewOffset << " + " << align << " x " << form->FftSize << " > "
            << form->WaveDataSize;
        EXPECT_LE(
            form->PlayScrollBar->Max(),
            std::max<uint64_t>(form->WaveDataSize, align * form->FftSize) - align * form->FftSize);
    }

    void ExpectLabelsOfFirstWindow() {
        const WAVEFORMATEX& f = form->WaveFormat;
        AnalysisSettings s;
        s.fftSize = form->FftSize;
        s.frequencySpan = form->FrequencySpan;
        s.lowCutBin = form->LowCutBin;
        s.peakThreshold = form->PeakThreshold;
        auto ws = std::make_unique<AnalysisWorkspace>();
        WindowResult r;
        const size_t window = size_t{f.nBlockAlign} * form->FftSize;
        ASSERT_TRUE(AnalyzeWindow(form->WaveData, std::max<size_t>(form->WaveDataSize, window), f,
                                  0, s, *ws, r));
        EXPECT_EQ(form->LbfftValue->text().toStdString(),
                  r.detected ? std::to_string(r.frequency) : "");
        EXPECT_EQ(form->Label21->text().toStdString(), r.detected ? std::to_string(r.level) : "");
    }

    // Everything a user does next with a loaded sound: the end of the range, both arrows both
    // ways, then play to the end (or see the device refuse the format).
    void Exercise(const QString& file) {
        SCOPED_TRACE(file.toStdString());
        form->PlayScrollBar->triggerAction(QAbstractSlider::SliderToMaximum);
        ExpectWindowInside();
        for (UDBtnType b : {btNext, btPrev, btPrev}) {
            form->UpDownChoicedata->Click(b);
            ExpectWindowInside();
            form->UpDownfftscale->Click(b);
        }
        messages.clear();
        form->PlayButtonClick();
        if (form->Playing) {
            audio->FinishOutput();
            Pump();
            EXPECT_FALSE(form->Playing);
        } else {
            // A format the device cannot play: its text, and the button back to play.
            ASSERT_EQ(messages.size(), 1u);
            EXPECT_EQ(messages[0].caption, "ERROR");
            EXPECT_EQ(messages[0].text.toStdString(), audio->waveOutGetErrorText(WAVERR_BADFORMAT));
        }
        EXPECT_EQ(form->PlayButton->text(), QString::fromUtf8("再生"));
        ExpectWindowInside();
    }

    QTemporaryDir dir;
    std::vector<uint8_t> good;
    QString goodPath;
};

TEST_F(BadFiles, CorpusIsCompleteAndEveryFileIsListed) {
    const std::vector<Expectation> list = ReadManifest();
    ASSERT_GT(list.size(), 90u) << "manifest missing in " << BadWavFolder().toStdString();
    QStringList listed;
    for (const Expectation& e : list) listed << e.file;
    QStringList onDisk = QDir(BadWavFolder()).entryList({"*.wav"}, QDir::Files, QDir::Name);
    listed.sort();
    EXPECT_EQ(listed, onDisk);
    EXPECT_TRUE(std::any_of(list.begin(), list.end(), [](auto& e) { return e.loads; }));
}

TEST_F(BadFiles, EachGivesItsMessageOrLoadsSafelyAndRefusalsKeepTheHeldSound) {
    const std::vector<Expectation> list = ReadManifest();
    ASSERT_FALSE(list.empty());
    const QString waitText = QString::fromUtf8("プログラムを閉じてください");
    for (const Expectation& e : list) {
        SCOPED_TRACE(e.file.toStdString());
        ASSERT_NO_FATAL_FAILURE(HoldGoodSound());
        ASSERT_NE(form->LbfftValue->text(), "") << "the held tone is analysed";
        messages.clear();
        form->OpenPath(BadWavFolder() + "/" + e.file);
        if (!e.loads) {
            ASSERT_EQ(messages.size(), 2u);
            EXPECT_EQ(messages[0].text, e.refusal);
            EXPECT_EQ(messages[0].caption, "ERROR");
            EXPECT_EQ(messages[1].text, "stop");
            EXPECT_TRUE(HoldsGoodSound()) << "a refused file changed the held sound";
            ExpectWindowInside();
            ExpectIdleAndPlayable(e.file);
            continue;
        }
        // Loaded: only the short-sound notice may be shown.
        for (const ShownMessage& m : messages) EXPECT_EQ(m.text, waitText);
        ASSERT_TRUE(form->WaveDataHeld && form->WaveData);
        EXPECT_EQ(form->WaveDataSize, e.size);
        EXPECT_EQ(form->WaveFormat.nChannels, e.channels);
        EXPECT_EQ(form->WaveFormat.nSamplesPerSec, e.rate);
        EXPECT_EQ(form->WaveFormat.wBitsPerSample, e.bits);
        EXPECT_EQ(form->WaveFormat.wFormatTag, e.tag);
        if (!e.samples.isEmpty()) ASSERT_EQ(uint32_t(e.samples.size()), form->WaveDataSize);
        bool same = true;
        for (uint32_t i = 0; i < form->WaveDataSize; ++i) {
            const uint8_t want = e.samples.isEmpty() ? Ramp(i) : uint8_t(e.samples.at(int(i)));
            same = same && form->WaveData[i] == want;
        }
        EXPECT_TRUE(same) << "the held bytes are not the file's samples";
        if (!ReadableCoding(e)) {
            // Samples the views cannot read give what silence gives, not the last sound's result.
            EXPECT_EQ(form->LbfftValue->text(), "");
            EXPECT_EQ(form->Label21->text(), "");
            for (int k = 1; k <= 60; ++k) EXPECT_NE(form->KeyPanels[k]->Colour(), 0xFF0000u) << k;
            for (int k = 1; k <= 20; ++k) EXPECT_EQ(form->HarmonicSliders[k]->Position(), 100);
        } else {
            // Readable samples (wider ones on the 16-bit scale) show their own analysis, the one
            // the command-line analyser gives for the first window (over the silent tail a short
            // sound is padded with), whatever the previous sound showed.
            ExpectLabelsOfFirstWindow();
        }
        ExpectWindowInside();
        Exercise(e.file);
    }
}

TEST_F(BadFiles, PathsThatAreNoFileAreRefusedWithoutWaitingAndKeepTheHeldSound) {
    // A pipe would block a reader for ever; a folder and a missing file cannot be read; a path
    // longer than 255 characters is not cut to another file's name.
    const QString fifo = dir.filePath("pipe.wav");
    ASSERT_EQ(mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
    ASSERT_TRUE(QDir(dir.path()).mkdir("folder.wav"));
    QString longName = dir.filePath(QString(300 - dir.path().size(), 'x') + ".wav");
    for (const QString& path :
         {fifo, dir.filePath("folder.wav"), dir.filePath("missing.wav"), longName, QString()}) {
        SCOPED_TRACE(path.toStdString());
        ASSERT_NO_FATAL_FAILURE(HoldGoodSound());
        messages.clear();
        form->OpenPath(path);
        ASSERT_EQ(messages.size(), 2u);
        EXPECT_EQ(messages[0].text, "No File");
        EXPECT_EQ(messages[1].text, "stop");
        EXPECT_TRUE(HoldsGoodSound());
        ExpectIdleAndPlayable(path);
    }
}

TEST_F(BadFiles, RefusalWhileAMixerToneIsHeldKeepsTheToneAndTheParkedSound) {
    ASSERT_NO_FATAL_FAILURE(HoldGoodSound());
    form->TrackBars[1]->SetPosition(0);  // harmonic 1 at full level
    form->TransmitClick();
    Pump();
    if (form->Playing) audio->FinishOutput();
    Pump();
    ASSERT_TRUE(form->SynthActive);
    const uint8_t* tone = form->WaveData;
    const uint32_t toneSize = form->WaveDataSize;
    messages.clear();
    form->OpenPath(BadWavFolder() + "/rate_0.wav");
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].text, "No rate");
    EXPECT_TRUE(form->SynthActive);
    EXPECT_EQ(form->WaveData, tone);
    EXPECT_EQ(form->WaveDataSize, toneSize);
    // The play press goes back to the parked sound, which is the one held before the tone.
    form->PlayButtonClick();
    EXPECT_FALSE(form->SynthActive);
    EXPECT_TRUE(HoldsGoodSound());
    form->PlayButtonClick();
    Pump();
}

}  // namespace

// Faults of the audio devices, injected into the simulated device: opens, prepares, writes and
// starts that fail, position queries that fail, blocks that never come back and devices that
// give up in the middle of a recording or of playback. Each shows its text under its title, and
// afterwards the engine is idle, the sound the user held (or recorded so far) is held, and both
// buttons work again once the device does.
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>
#include <cstring>
#include <functional>
#include <string>

#include "FormFixture.h"
#include "wavfile/WavFile.h"

using namespace sonabi;

namespace {

using Fault = SimulatedWaveAudio::Fault;

class DeviceFaults : public FormTest {
  protected:
    void SetUp() override {
        FormTest::SetUp();
        ASSERT_TRUE(dir.isValid());
        // The user's sound: one second of a 16-bit mono tone.
        sound.resize(88200);
        for (size_t i = 0; i < sound.size(); i += 2) {
            const auto s = static_cast<int16_t>(7000 * std::sin(i * 0.02));
            std::memcpy(&sound[i], &s, 2);
        }
        const WAVEFORMATEX f = MakePcmFormat(1, 16, 44100);
        const QString path = dir.filePath("held.wav");
        ASSERT_EQ(WriteWaveFile(path.toStdString(), f, sound.data(), 88200), "");
        form->OpenPath(path);
        ASSERT_TRUE(HoldsSound());
        // The microphone delivers each byte's own index, so kept blocks can be recognised.
        audio->SetInputGenerator([](uint8_t* dst, uint32_t bytes, uint64_t offset) {
            for (uint32_t i = 0; i < bytes; ++i) dst[i] = static_cast<uint8_t>((offset + i) % 251);
        });
        messages.clear();
    }

    bool HoldsSound() const {
        return form->WaveData && form->WaveDataSize == sound.size() &&
               std::memcmp(form->WaveData, sound.data(), sound.size()) == 0 &&
               form->WaveFormat.nChannels == 1 && form->WaveFormat.wBitsPerSample == 16;
    }

    // The recording holds exactly the first `bytes` bytes the microphone delivered.
    bool HoldsRecording(uint32_t bytes) const {
        if (!form->WaveData || form->WaveDataSize != bytes) return false;
        for (uint32_t i = 0; i < bytes; ++i)
            if (form->WaveData[i] != i % 251) return false;
        return true;
    }

    ::testing::AssertionResult Idle() const {
        std::string wrong;
        if (form->Playing) wrong += " Playing";
        if (form->Recording) wrong += " Recording";
        if (form->CaptureOpen || form->CaptureRunning) wrong += " capture flags";
        if (form->StopRequested || form->StopFinished) wrong += " stop flags";
        if (form->RecButton->text() != QString::fromUtf8("録音") || form->RecButton->isHidden())
            wrong += " RecButton";
        if (form->PlayButton->text() != QString::fromUtf8("再生")) wrong += " PlayButton";
        if (audio->OutputOpen()) wrong += " output open";
        if (audio->InputOpen()) wrong += " input open";
        if (wrong.empty()) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "not idle:" << wrong;
    }

    using Texts = std::vector<std::pair<std::string, std::string>>;  // (text, caption)
    void ExpectMessages(const Texts& expected) {
        Texts shown;
        for (const ShownMessage& m : messages)
            shown.emplace_back(m.text.toStdString(), m.caption.toStdString());
        EXPECT_EQ(shown, expected);
        messages.clear();
    }

    // With the device mended, a recording and a playback both run.
    void ExpectBothButtonsWork() {
        audio->faults = {};
        form->RecButtonClick();
        ASSERT_TRUE(form->Recording);
        audio->FillInputBlocks(1);
        Pump();
        form->RecButtonClick();
        Pump();
        EXPECT_TRUE(Idle());
        form->PlayButtonClick();
        EXPECT_TRUE(form->Playing);
        audio->FinishOutput();
        Pump();
        // Also after a done message that was lost: this playback's own one ends it.
        EXPECT_TRUE(Idle());
        EXPECT_TRUE(messages.empty());
    }

    // Records `blocks` full blocks (mono, 8820 bytes each).
    void RecordBlocks(int blocks) {
        form->RecButtonClick();
        ASSERT_TRUE(form->Recording && audio->InputStarted());
        for (int b = 0; b < blocks; ++b) {
            audio->FillInputBlocks(1);
            Pump();
        }
    }

    QTemporaryDir dir;
    std::vector<uint8_t> sound;
};

const std::string kOutFailed = "The audio output device failed";
const std::string kInFailed = "The audio input device failed";

TEST_F(DeviceFaults, OutputThatCannotOpenShowsItsTextAndTheNextPressPlays) {
    audio->faults.outOpen = Fault{MMSYSERR_NODRIVER, 0};
    form->PlayButtonClick();
    ExpectMessages({{"No audio output device", "ERROR"}});
    EXPECT_TRUE(Idle());
    EXPECT_TRUE(HoldsSound());
    ExpectBothButtonsWork();
}

TEST_F(DeviceFaults, OutputPrepareOrWriteFailureShowsItsTextUnderWave) {
    for (int which = 0; which < 2; ++which) {
        SCOPED_TRACE(which ? "write" : "prepare");
        audio->faults = {};
        (which ? audio->faults.outWrite : audio->faults.outPrepare) = Fault{MMSYSERR_NOMEM, 0};
        form->PlayButtonClick();
        ExpectMessages({{"Not enough memory for the audio device", "wave"}});
        EXPECT_TRUE(Idle());
        EXPECT_TRUE(HoldsSound());
    }
    ExpectBothButtonsWork();
}

TEST_F(DeviceFaults, PositionQueryFailingInTheTimerStopsTheTimerAndPlaybackEndsByItsDone) {
    form->PlayButtonClick();
    audio->AdvanceOutput(8820);
    form->Timer1Timer();
    ASSERT_TRUE(messages.empty());
    audio->faults.outGetPosition = Fault{MMSYSERR_ERROR, 0};
    form->Timer1Timer();
    ExpectMessages({{"error", "time"}});
    EXPECT_FALSE(form->Timer1->isActive());
    EXPECT_TRUE(form->Playing) << "the output plays on until its done message";
    // The done handler's query fails too: it goes on with the last position it had.
    audio->FinishOutput();
    Pump();
    ExpectMessages({{"error", "won"}});
    EXPECT_TRUE(Idle());
    EXPECT_EQ(form->ViewOffset, 8820u);
    EXPECT_TRUE(HoldsSound());
    ExpectBothButtonsWork();
}

TEST_F(DeviceFaults, PositionQueryFailingAtThePauseStopsWhereTheLastPositionWas) {
    form->PlayButtonClick();
    audio->AdvanceOutput(4410);
    form->Timer1Timer();
    audio->AdvanceOutput(4410);
    audio->faults.outGetPosition = Fault{MMSYSERR_INVALHANDLE, 0};
    form->PlayButtonClick();
    Pump();
    ExpectMessages({{"error", "won"}});
    EXPECT_TRUE(Idle());
    EXPECT_EQ(form->ViewOffset, 4410u);
    ExpectBothButtonsWork();
}

TEST_F(DeviceFaults, PlaybackWhoseDoneNeverComesIsEndedByTheTimer) {
    audio->faults.outDoneNeverPosted = true;
    form->PlayButtonClick();
    audio->FinishOutput();
    Pump();
    ASSERT_TRUE(form->Playing);
    // The 200 ms timer finds the end.
    EXPECT_TRUE(QTest::qWaitFor([&] { return !form->Playing; }, 2000));
    EXPECT_TRUE(Idle());
    EXPECT_TRUE(messages.empty());
    ExpectBothButtonsWork();
}

TEST_F(DeviceFaults, OutputThatGivesUpMidwayStopsWithItsTextAndPlaysAgain) {
    form->PlayButtonClick();
    audio->AdvanceOutput(20000);
    form->Timer1Timer();
    // The device hands the block back on its own, before its end (a sound server that died).
    audio->waveOutReset(form->WaveOutHandle);
    Pump();
    ExpectMessages({{kOutFailed, "ERROR"}});
    EXPECT_TRUE(Idle());
    EXPECT_TRUE(HoldsSound());
    ExpectBothButtonsWork();
}

TEST_F(DeviceFaults, CaptureThatCannotOpenOrStartKeepsTheHeldSoundAndReturnsToIdle) {
    struct Case {
        const char* name;
        Fault SimulatedWaveAudio::Faults::*fault;
        MMRESULT code;
        std::string text;
    } cases[] = {
        {"open", &SimulatedWaveAudio::Faults::inOpen, MMSYSERR_ALLOCATED,
         "The audio input device is already in use"},
        {"prepare", &SimulatedWaveAudio::Faults::inPrepare, MMSYSERR_NOMEM,
         "Not enough memory for the audio device"},
        {"add", &SimulatedWaveAudio::Faults::inAddBuffer, MMSYSERR_INVALPARAM,
         "An invalid parameter was passed to the audio device"},
        {"start", &SimulatedWaveAudio::Faults::inStart, MMSYSERR_NODRIVER, "No audio input device"},
    };
    // A view away from the start-up settings, with a voiceprint history: a failed start leaves
    // all of it as it was.
    form->UpDownChoicedata->Click(btNext);  // 1024 frames
    form->UpDownfftscale->Click(btPrev);    // 4000 Hz
    form->freq->SetPosition(3000);
    form->PlayScrollBar->triggerAction(QAbstractSlider::SliderPageStepAdd);
    form->PeakThreshold = 12.5;
    form->TimeGridFineMs = 2;
    form->HarmonicsFromAnalysis = true;
    const auto viewNow = [&] {
        return std::make_tuple(form->FftSize, form->FrequencySpan, form->PeakThreshold,
                               form->TimeGridFineMs, form->HarmonicsFromAnalysis,
                               form->freq->Position(), form->freq->maximum(), form->ViewOffset,
                               form->PlayScrollBar->Position(), form->PlayScrollBar->Max(),
                               form->VoiceprintX, form->PaintBoxSeimon->Canvas().Image(),
                               form->PaintBoxGra->Canvas().Image());
    };
    const auto before = viewNow();
    ASSERT_EQ(std::get<0>(before), 1024u);
    ASSERT_GT(std::get<7>(before), 0u);
    ASSERT_GT(std::get<10>(before), 0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        audio->faults = {};
        audio->faults.*c.fault = Fault{c.code, 0};
        form->RecButtonClick();
        Pump();
        ExpectMessages({{c.text, "ERROR"}});
        EXPECT_TRUE(Idle());
        EXPECT_TRUE(HoldsSound());
        EXPECT_TRUE(form->WaveDataHeld);
        EXPECT_TRUE(viewNow() == before);
    }
    ExpectBothButtonsWork();
}

TEST_F(DeviceFaults, CaptureThatGivesUpMidwayKeepsTheRecordingSoFar) {
    ASSERT_NO_FATAL_FAILURE(RecordBlocks(3));
    audio->FeedInput(1000);  // the next block is partly filled when the device goes
    // The device hands back its blocks on its own (a sound server that died).
    audio->waveInReset(form->WaveInHandle);
    Pump();
    ExpectMessages({{kInFailed, "ERROR"}});
    EXPECT_TRUE(Idle());
    EXPECT_TRUE(form->WaveDataHeld);
    EXPECT_TRUE(HoldsRecording(3 * 8820));
    ExpectBothButtonsWork();
}

TEST_F(DeviceFaults, BlockThatCannotBeHandedBackEndsTheRecordingWithWhatItHolds) {
    // The two blocks queued at the start go in; handing back the first filled one fails.
    audio->faults.inAddBuffer = Fault{MMSYSERR_NOMEM, 2};
    ASSERT_NO_FATAL_FAILURE(RecordBlocks(1));
    ExpectMessages({{"Not enough memory for the audio device", "ERROR"}});
    EXPECT_TRUE(Idle());
    EXPECT_TRUE(HoldsRecording(8820));
    ExpectBothButtonsWork();
}

TEST_F(DeviceFaults, StopWhoseResetFailsStillHandsOverTheRecording) {
    ASSERT_NO_FATAL_FAILURE(RecordBlocks(2));
    audio->faults.inReset = Fault{MMSYSERR_ERROR, 0};
    form->RecButtonClick();
    Pump();
    ExpectMessages({{kInFailed, "ERROR"}});
    EXPECT_TRUE(Idle());
    EXPECT_TRUE(HoldsRecording(2 * 8820));
    ExpectBothButtonsWork();
}

TEST_F(DeviceFaults, CaptureBlocksThatNeverComeBackDoNotLeaveTheStopWaiting) {
    audio->faults.inDataNeverPosted = true;
    ASSERT_NO_FATAL_FAILURE(RecordBlocks(0));
    // Both blocks are filled and kept by the device: no message reaches the window.
    EXPECT_EQ(audio->FillInputBlocks(2), 2);
    Pump();
    form->RecButtonClick();
    Pump();
    ASSERT_TRUE(form->StopRequested) << "the stop waits for the blocks";
    // Not for ever: a second later the recording (none yet) is handed over all the same.
    EXPECT_TRUE(QTest::qWaitFor([&] { return !form->StopRequested; }, 3000));
    ExpectMessages({{kInFailed, "ERROR"}});
    EXPECT_TRUE(Idle());
    EXPECT_TRUE(form->WaveDataHeld && form->WaveData && form->WaveDataSize > 0);
    ExpectBothButtonsWork();
}

TEST_F(DeviceFaults, OneCaptureBlockThatNeverComesBackIsNotWaitedForEither) {
    ASSERT_NO_FATAL_FAILURE(RecordBlocks(2));
    // The stop's reset returns one block; the other one is lost by the device.
    audio->faults.inDataNeverPosted = true;
    audio->FillInputBlocks(1);
    form->RecButtonClick();
    Pump();
    EXPECT_TRUE(form->StopRequested && form->StopFinished) << "handed over, one message short";
    EXPECT_TRUE(HoldsRecording(2 * 8820));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !form->StopRequested; }, 3000));
    EXPECT_TRUE(Idle());
    EXPECT_TRUE(messages.empty()) << "the recording is whole: nothing to tell";
    ExpectBothButtonsWork();
}

}  // namespace

// The application's own box, a QMessageBox whose exec() spins a nested event loop until OK is
// pressed, with a script of steps that the test runs inside that loop: each step acts as the
// device or the user and may wait (up to 3 s) until the window has done what it must. After the
// last step OK is pressed. Device messages and Timer1's real ticks reach the window only through
// the box's loop meanwhile.
class NestedBoxes : public DeviceFaults {
  protected:
    struct Step {
        std::function<void()> act;
        std::function<bool()> until = [] { return true; };
    };
    void UseRealBoxes(std::vector<Step> script) {
        AppServices& app = AppServices::Instance();
        app.UseRealServices();
        auto realBox = app.MessageBox;
        app.MessageBox = [this, realBox](const QString& text, const QString& caption) {
            messages.push_back({text, caption});
            realBox(text, caption);
        };
        steps = std::move(script);
        next = 0;
        acted = false;
        driver.start();
    }
    void SetUp() override {
        DeviceFaults::SetUp();
        driver.setInterval(5);
        QObject::connect(&driver, &QTimer::timeout, [this] { Drive(); });
    }
    void Drive() {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return;  // steps run only while a box is open
        if (next < steps.size() && !acted) {
            steps[next].act();
            acted = true;
            deadline.start();
            return;  // what the step posted is delivered by the box's loop first
        }
        if (next < steps.size()) {
            const bool done = steps[next].until();
            if (!done && deadline.elapsed() < 3000) return;
            EXPECT_TRUE(done) << "step " << next << " under the open box";
            ++next;
            acted = false;
            if (next < steps.size()) return;
        }
        driver.stop();
        box->button(QMessageBox::Ok)->click();
    }
    std::vector<Step> steps;
    size_t next = 0;
    bool acted = false;
    QTimer driver;
    QElapsedTimer deadline;
};

TEST_F(NestedBoxes, DeviceMessagesAndTicksAreHandledWhileABoxIsOpen) {
    // Recording: handing back a block fails while the other one is already full and its message
    // waits. The device's text is shown; the waiting block still reaches the recording.
    ASSERT_NO_FATAL_FAILURE(RecordBlocks(2));
    audio->faults.inAddBuffer = Fault{MMSYSERR_NOMEM, 4};
    UseRealBoxes({{[] {}, [&] { return Idle(); }}});
    ASSERT_EQ(audio->FillInputBlocks(2), 2);
    Pump();
    ExpectMessages({{"Not enough memory for the audio device", "ERROR"}});
    EXPECT_TRUE(Idle());
    EXPECT_TRUE(HoldsRecording(4 * 8820));
    EXPECT_EQ(next, 1u) << "the box's loop ran the script";

    // Playback: under a box opened while playing, the real 200 ms ticks keep the views on the
    // play position, and the done message ends the playback and goes back to the start.
    audio->faults = {};
    form->PlayButtonClick();
    ASSERT_TRUE(form->Playing && form->Timer1->isActive());
    // Each tick redraws the waveform at the new position.
    QImage shown = form->PaintBoxGra->Canvas().Image().copy();
    auto followed = [&](uint32_t position) {
        if (form->PlayScrollBar->Position() != position) return false;
        const QImage now = form->PaintBoxGra->Canvas().Image();
        if (now == shown) return false;
        shown = now.copy();
        return true;
    };
    UseRealBoxes({
        {[&] { audio->AdvanceOutput(8820); }, [&] { return followed(8820); }},
        {[&] { audio->AdvanceOutput(8820); }, [&] { return followed(17640); }},
        {[&] { audio->FinishOutput(); }, [&] { return !form->Playing; }},
    });
    form->ShowMessage("stop", "");
    EXPECT_EQ(next, 3u);
    EXPECT_TRUE(Idle());
    EXPECT_EQ(form->ViewOffset, 0u);
    ExpectMessages({{"stop", ""}});
}

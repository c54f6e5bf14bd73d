// The recording engine on the simulated device: two circulating blocks of 0.1 s, the live
// analysis of every second block, the growing recording and its start-over, the hand-over of the
// recording as the held sound, the failures of the device and of memory, and closing the window
// in every state.
#include <QStringList>
#include <algorithm>
#include <functional>
#include <vector>

#include "EngineFixture.h"
#include "audio/WaveSupport.h"

using namespace sonabi;

namespace {

using namespace enginetest;

using RecordingTest = EngineTest;
const QString kRecord = QString::fromUtf8("録音");
const QString kStopRecord = QString::fromUtf8("録音停止");
constexpr uint32_t kCapacity = 44100 * 180;

// Records the engine's state each time a device message reaches the window, before it is
// handled.
class StateProbe : public QObject {
  public:
    explicit StateProbe(TFormMain* form) : form_(form) { form->installEventFilter(this); }
    std::vector<std::string> seen;
    std::function<void(int count)> onMessage;  // after the state is taken, count from 1

  protected:
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() != WaveAudioEvent::EventType()) return false;
        seen.push_back(EngineState(*form_));
        if (onMessage) onMessage(static_cast<int>(seen.size()));
        return false;
    }

  private:
    TFormMain* form_;
};

TEST_F(RecordingTest, StartOpensTwoBlocksOfATenthOfASecond) {
    bool hiddenWhileOpening = false;
    blocks::FailHook = [&](size_t bytes) {
        if (bytes == kMonoBlock) hiddenWhileOpening = form->RecButton->isHidden();
        return false;
    };
    StartRecording();
    blocks::FailHook = nullptr;

    EXPECT_TRUE(hiddenWhileOpening) << "the button is hidden until the device has started";
    EXPECT_FALSE(form->RecButton->isHidden());
    EXPECT_EQ(form->RecButton->text(), kStopRecord);
    EXPECT_EQ(EngineState(*form), "Recording");
    EXPECT_TRUE(audio->InputStarted());
    EXPECT_EQ(audio->LastInputFormat().nChannels, 1);
    EXPECT_EQ(audio->LastInputFormat().wBitsPerSample, 16);
    EXPECT_EQ(audio->LastInputFormat().nSamplesPerSec, 44100u);
    EXPECT_EQ(form->WaveDataSize, kMonoBlock);
    EXPECT_EQ(audio->QueuedInputBlocks(),
              std::vector<WAVEHDR*>({form->WaveHeader, form->WaveHeader2}));
    EXPECT_EQ(form->WaveHeader->dwBufferLength, kMonoBlock);
    EXPECT_EQ(form->WaveHeader2->dwBufferLength, kMonoBlock);
    EXPECT_EQ(form->RecordedBytes, 0u);
    EXPECT_EQ(form->RecordBuffer, nullptr);
    EXPECT_EQ(form->PlayScrollBar->Max(), kCapacity);
    EXPECT_TRUE(form->HarmonicsFromAnalysis);
    ExpectNoMessages();
}

TEST_F(RecordingTest, TenMonoBlocksBecomeTheHeldSoundShownAtItsLastWindow) {
    // 440 Hz, but the last block at 880 Hz: the last full window lies inside it.
    audio->SetInputGenerator(
        TonePerBlock(1, [](uint64_t block) { return block == 9 ? 880 : 440; }));
    StartRecording();
    RecordBlocks(10);
    EXPECT_EQ(form->RecordedBytes, 88200u);
    EXPECT_EQ(form->PlayScrollBar->Position(), 88200u) << "the progress of the recording";
    StopRecording();

    EXPECT_EQ(EngineState(*form), "Idle");
    EXPECT_EQ(form->RecButton->text(), kRecord);
    EXPECT_FALSE(form->RecButton->isHidden());
    EXPECT_TRUE(form->WaveDataHeld);
    EXPECT_FALSE(audio->InputOpen());
    EXPECT_EQ(audio->PreparedInputHeaders(), 0);
    EXPECT_EQ(form->WaveDataSize, 88200u);
    EXPECT_EQ(form->RecordBuffer, nullptr);
    EXPECT_EQ(form->ViewOffset, 0u);
    EXPECT_EQ(form->PlayScrollBar->Position(), 0u);
    EXPECT_EQ(form->PlayScrollBar->Max(), 88200u - kWindowBytes);
    // The held samples are the ones captured.
    for (uint32_t frame : {0u, 1u, 4409u, 4410u, 39689u, 39690u, 44099u})
        EXPECT_EQ(SampleAt(form->WaveData, frame * 2), Sine(frame >= 39690 ? 880 : 440, frame))
            << frame;

    // The views show the window at byte 84104, not the one at ViewOffset.
    EXPECT_NEAR(form->DetectedFrequency, 880, 3);
    const QImage shown = Snapshot(form->PaintBoxGra);
    form->ViewOffset = 84104;
    form->FullRefresh();
    EXPECT_EQ(Snapshot(form->PaintBoxGra), shown);
    form->ViewOffset = 0;
    form->FullRefresh();
    EXPECT_NE(Snapshot(form->PaintBoxGra), shown);
    EXPECT_NEAR(form->DetectedFrequency, 440, 1);
    ExpectNoMessages();

    // The recording plays like any held sound.
    form->PlayButton->click();
    ASSERT_NE(audio->OutputBlock(), nullptr);
    EXPECT_EQ(audio->OutputBlock()->dwBufferLength, 88200u);
}

TEST_F(RecordingTest, OnlyEverySecondBlockIsAnalysedLive) {
    // Block k sounds at 300 + 50 k Hz; only the blocks that come back in WaveHeader are shown.
    audio->SetInputGenerator(TonePerBlock(1, [](uint64_t block) { return 300.0 + 50 * block; }));
    StartRecording();
    for (int k = 0; k < 8; ++k) {
        SCOPED_TRACE(k);
        WAVEHDR* next = audio->QueuedInputBlocks().front();
        EXPECT_EQ(next, k % 2 == 0 ? form->WaveHeader : form->WaveHeader2);
        const QImage wave = Snapshot(form->PaintBoxGra);
        RecordBlocks(1);
        const int analysed = k - k % 2;
        EXPECT_NEAR(form->DetectedFrequency, 300 + 50 * analysed, 2);
        if (k % 2 == 1) EXPECT_EQ(Snapshot(form->PaintBoxGra), wave);
        EXPECT_EQ(form->RecordedBytes, (k + 1) * kMonoBlock);
        EXPECT_EQ(audio->QueuedInputBlocks().back(), next) << "handed back to the device";
    }
    StopRecording();
}

TEST_F(RecordingTest, TwoChannelBlocksAndTheirCapacity) {
    // Every sample says which block it was captured in.
    audio->SetInputGenerator(
        Frames(2, [](uint64_t frame) { return static_cast<int16_t>(frame / kBlockFrames); }));
    StartRecording(2);
    EXPECT_EQ(form->WaveDataSize, 17640u);
    EXPECT_EQ(form->WaveFormat.nBlockAlign, 4);
    EXPECT_EQ(form->WaveFormat.nAvgBytesPerSec, 176400u);
    EXPECT_EQ(audio->LastInputFormat().nChannels, 2);
    RecordBlocks(450);  // 45 s fill the recording buffer exactly
    EXPECT_EQ(form->RecordedBytes, kCapacity);
    RecordBlocks(1);
    EXPECT_EQ(form->RecordedBytes, 17640u) << "the 451st block starts over";
    StopRecording();
    EXPECT_EQ(form->WaveDataSize, 17640u);
    EXPECT_EQ(form->CurChannels, 2);
    EXPECT_EQ(form->DataChannels, 2);
    EXPECT_EQ(SampleAt(form->WaveData, 0), 450);
    EXPECT_EQ(SampleAt(form->WaveData, 17638), 450);
}

TEST_F(RecordingTest, NinetyFiveSecondsKeepTheLastFive) {
    audio->SetInputGenerator(
        Frames(1, [](uint64_t frame) { return static_cast<int16_t>(frame / kBlockFrames); }));
    StartRecording();
    RecordBlocks(950);
    StopRecording();
    EXPECT_EQ(form->WaveDataSize, 441000u);
    EXPECT_EQ(SampleAt(form->WaveData, 0), 900);
    EXPECT_EQ(SampleAt(form->WaveData, 441000 - 2), 949);
    EXPECT_EQ(form->PlayScrollBar->Max(), 441000u - kWindowBytes);
}

TEST_F(RecordingTest, StatesFollowTheTableFromStartToFinish) {
    StateProbe probe(form.get());
    EXPECT_EQ(EngineState(*form), "Idle");
    StartRecording();
    EXPECT_EQ(EngineState(*form), "Recording");
    RecordBlocks(3);
    form->RecButton->click();
    EXPECT_EQ(EngineState(*form), "Stopping");
    EXPECT_EQ(form->RecButton->text(), kStopRecord) << "until the finish";
    EXPECT_TRUE(form->WaveDataHeld);
    EXPECT_FALSE(audio->InputOpen());
    EXPECT_EQ(form->WaveHeader2, nullptr);
    EXPECT_EQ(form->CaptureBuffer2, nullptr);
    probe.seen.clear();
    Pump();
    EXPECT_EQ(probe.seen, std::vector<std::string>({"Stopping", "Finishing"}));
    EXPECT_EQ(EngineState(*form), "Idle");
    EXPECT_EQ(form->RecButton->text(), kRecord);

    // A new recording can start at once.
    StartRecording();
    EXPECT_EQ(EngineState(*form), "Recording");
    StopRecording();
    EXPECT_EQ(EngineState(*form), "Idle");
}

TEST_F(RecordingTest, TooLoudABlockShowsTheWarningInsteadOfTheSpectrum) {
    // 440 Hz, except that block 2 starts at full scale and block 4 sounds at 660 Hz.
    audio->SetInputGenerator(Frames(1, [](uint64_t frame) {
        const uint64_t block = frame / kBlockFrames;
        if (block == 2 && frame % kBlockFrames < 20) return static_cast<int16_t>(32767);
        return Sine(block == 4 ? 660 : 440, frame);
    }));
    StartRecording();
    RecordBlocks(2);
    ASSERT_NEAR(form->DetectedFrequency, 440, 1);
    const QImage spectrum = Snapshot(form->PaintBoxFft);
    RecordBlocks(1);

    // The waveform stops at the loud sample; the red text stands from the middle of the view.
    // (Red elsewhere would be the waveform itself; the grid's red labels are in the top rows.)
    TCanvas& c = form->PaintBoxGra->Canvas();
    auto redIn = [&](int x0, int y0, int x1, int y1) {
        int n = 0;
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x) n += c.Pixel(x, y) == 0xFF0000;
        return n;
    };
    EXPECT_GT(redIn(c.Width() / 2, c.Height() / 2, c.Width(), c.Height()), 20);
    EXPECT_EQ(redIn(0, 20, c.Width() / 2, c.Height()), 0);
    EXPECT_EQ(Snapshot(form->PaintBoxFft), spectrum) << "no spectrum for this block";
    EXPECT_NEAR(form->DetectedFrequency, 440, 1) << "the last results stay";
    EXPECT_EQ(form->RecordedBytes, 3 * kMonoBlock) << "the loud block is recorded all the same";

    // The next analysed block is quiet again: waveform, spectrum and detection are back.
    RecordBlocks(2);
    EXPECT_GT(redIn(0, 20, c.Width() / 2, c.Height()), 0);
    EXPECT_NE(Snapshot(form->PaintBoxFft), spectrum);
    EXPECT_NEAR(form->DetectedFrequency, 660, 1);
    StopRecording();
}

TEST_F(RecordingTest, RecordBufferThatCannotBeAllocatedDropsTheBlockOnly) {
    StartRecording();
    blocks::FailHook = [](size_t bytes) { return bytes == kCapacity; };
    RecordBlocks(1);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "No pwavedata[0]");
    EXPECT_EQ(messages[0].caption, "ERROR");
    EXPECT_EQ(form->RecordedBytes, 0u);
    EXPECT_EQ(form->RecordBuffer, nullptr);
    EXPECT_EQ(EngineState(*form), "Recording");
    EXPECT_EQ(audio->QueuedInputBlocks().size(), 2u) << "the block went back to the device";

    blocks::FailHook = nullptr;
    RecordBlocks(2);
    EXPECT_EQ(messages.size(), 1u);
    EXPECT_EQ(form->RecordedBytes, 2 * kMonoBlock);
    StopRecording();
    EXPECT_EQ(form->WaveDataSize, 2 * kMonoBlock);
}

TEST_F(RecordingTest, FailedStartKeepsTheHeldSoundAndReturnsToIdle) {
    using F = SimulatedWaveAudio::Faults;
    struct Case {
        const char* name;
        SimulatedWaveAudio::Fault F::*fault;  // or null for an allocation failure
        MMRESULT code;
        size_t failBytes;
        const char* text;
    };
    const Case cases[] = {
        {"open", &F::inOpen, MMSYSERR_NODRIVER, 0, "No audio input device"},
        {"prepare", &F::inPrepare, MMSYSERR_ERROR, 0, "The audio input device failed"},
        {"second prepare", &F::inPrepare, MMSYSERR_ERROR, 0, "The audio input device failed"},
        {"add", &F::inAddBuffer, MMSYSERR_NOMEM, 0, "Not enough memory for the audio device"},
        {"second add", &F::inAddBuffer, MMSYSERR_ERROR, 0, "The audio input device failed"},
        {"start", &F::inStart, MMSYSERR_ERROR, 0, "The audio input device failed"},
        {"blocks", nullptr, 0, kMonoBlock, "No pwavedata"},
        {"headers", nullptr, 0, sizeof(WAVEHDR), "No pwaveheader"},
    };
    HoldSteppedTones();
    uint8_t* held = form->WaveData;
    WAVEHDR* header = form->WaveHeader;
    const std::vector<uint8_t> bytes(held, held + 44100);
    uint32_t position = 2002;
    form->PlayScrollBarScroll(0, position);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        messages.clear();
        audio->faults = {};
        if (c.fault) {
            const char* call = c.fault == &F::inOpen        ? "waveInOpen"
                               : c.fault == &F::inPrepare   ? "waveInPrepareHeader"
                               : c.fault == &F::inAddBuffer ? "waveInAddBuffer"
                                                            : "waveInStart";
            const int pass = std::string(c.name).starts_with("second") ? 1 : 0;
            audio->faults.*c.fault = {c.code, audio->CallCount(call) + pass};
        }
        bool hiddenAtMessage = false;
        AppServices::Instance().MessageBox = [&](const QString& text, const QString& caption) {
            hiddenAtMessage = form->RecButton->isHidden();
            messages.push_back({text, caption});
        };
        blocks::FailHook = [&](size_t n) { return c.failBytes != 0 && n == c.failBytes; };
        StartRecording();
        blocks::FailHook = nullptr;

        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0].text.toStdString(), c.text);
        EXPECT_EQ(messages[0].caption, "ERROR");
        EXPECT_TRUE(hiddenAtMessage);
        EXPECT_EQ(EngineState(*form), "Idle");
        EXPECT_FALSE(form->RecButton->isHidden());
        EXPECT_EQ(form->RecButton->text(), kRecord);
        EXPECT_FALSE(audio->InputOpen());
        EXPECT_EQ(audio->PreparedInputHeaders(), 0);
        EXPECT_EQ(form->WaveInHandle, nullptr);
        EXPECT_EQ(form->WaveHeader2, nullptr);
        EXPECT_EQ(form->CaptureBuffer2, nullptr);
        // The user's sound is untouched and usable.
        EXPECT_EQ(form->WaveData, held);
        EXPECT_EQ(form->WaveHeader, header);
        EXPECT_EQ(form->WaveDataSize, 44100u);
        EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), form->WaveData));
        EXPECT_TRUE(form->WaveDataHeld);
        EXPECT_EQ(form->WaveFormat.nChannels, 1);
        EXPECT_EQ(form->PlayScrollBar->Max(), 44100u - kWindowBytes);
        EXPECT_NEAR(form->DetectedFrequency, 300, 3);
        Pump();  // messages of blocks returned while the device was given up
        EXPECT_EQ(EngineState(*form), "Idle");
    }
    // Recording and playback both work after all that.
    audio->faults = {};
    form->PlayButton->click();
    EXPECT_EQ(EngineState(*form), "Playing");
    form->PlayButton->click();
    Pump();
    StartRecording();
    EXPECT_EQ(EngineState(*form), "Recording");
    RecordBlocks(1);
    StopRecording();
    EXPECT_EQ(form->WaveDataSize, kMonoBlock);
}

TEST_F(RecordingTest, FailedStartKeepsAParkedMixerTone) {
    HoldSteppedTones();
    uint8_t* users = form->WaveData;
    form->TransmitClick();
    audio->FinishOutput();
    Pump();
    ASSERT_TRUE(form->SynthActive);
    uint8_t* tone = form->WaveData;
    const uint32_t toneSize = form->WaveDataSize;

    audio->faults.inOpen = {MMSYSERR_ALLOCATED, 0};
    StartRecording(2);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "The audio input device is already in use");
    EXPECT_TRUE(form->SynthActive);
    EXPECT_EQ(form->WaveData, tone);
    EXPECT_EQ(form->WaveDataSize, toneSize);
    EXPECT_EQ(form->SavedWaveData, users);
    EXPECT_EQ(form->SavedWaveDataSize, 44100u);
    EXPECT_EQ(form->CurChannels, 1);

    // Play brings the user's sound back as usual.
    form->PlayButton->click();
    EXPECT_EQ(form->WaveData, users);
    EXPECT_FALSE(form->SynthActive);
    EXPECT_EQ(audio->OutputBlock()->dwBufferLength, 44100u);
}

TEST_F(RecordingTest, StopBeforeTheFirstBlockHoldsOneWindowOfSilence) {
    for (int channels : {1, 2}) {
        SCOPED_TRACE(channels);
        StartRecording(channels);
        StopRecording();
        EXPECT_EQ(EngineState(*form), "Idle");
        EXPECT_TRUE(form->WaveDataHeld);
        ASSERT_NE(form->WaveData, nullptr);
        EXPECT_EQ(form->WaveDataSize, 2048u * 2 * channels);
        EXPECT_EQ(form->FftSize, 2048u);
        EXPECT_EQ(form->PlayScrollBar->Max(), 0u);
        EXPECT_TRUE(std::all_of(form->WaveData, form->WaveData + form->WaveDataSize,
                                [](uint8_t b) { return b == 0; }));
        ExpectNoMessages();
        form->PlayButton->click();
        ASSERT_EQ(EngineState(*form), "Playing");
        EXPECT_EQ(audio->OutputBlock()->dwBufferLength, 2048u * 2 * channels);
        audio->FinishOutput();
        Pump();
        EXPECT_EQ(EngineState(*form), "Idle");
    }
}

TEST_F(RecordingTest, ClosingTheWindowInEveryState) {
    struct Case {
        const char* name;
        std::function<void()> reach;
        const char* state;
    };
    const Case cases[] = {
        {"idle", [] {}, "Idle"},
        {"playing", [&] { form->PlayButton->click(); }, "Playing"},
        {"recording",
         [&] {
             StartRecording();
             RecordBlocks(3);
         },
         "Recording"},
        {"recording, no block yet", [&] { StartRecording(2); }, "Recording"},
        {"stopping",
         [&] {
             StartRecording();
             RecordBlocks(3);
             form->RecButton->click();
         },
         "Stopping"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        form.reset();
        form = std::make_unique<TFormMain>(audio.get());
        HoldTimer();
        c.reach();
        ASSERT_EQ(EngineState(*form), c.state);
        const uint32_t recorded = form->RecordedBytes;
        form->close();
        EXPECT_TRUE(form->Closing);
        EXPECT_FALSE(audio->InputOpen());
        EXPECT_FALSE(audio->OutputOpen());
        EXPECT_EQ(audio->PreparedInputHeaders(), 0);
        EXPECT_EQ(audio->PreparedOutputHeaders(), 0);
        EXPECT_FALSE(form->Playing);
        EXPECT_FALSE(form->Recording);
        EXPECT_FALSE(form->Timer1->isActive());
        audio->FillInputBlocks(2);
        Pump();  // returned blocks reach a closed window and are not handled
        EXPECT_EQ(form->RecordedBytes, recorded);
    }

    // Finishing: the window closes while the second returned block is on its way.
    form.reset();
    form = std::make_unique<TFormMain>(audio.get());
    HoldTimer();
    StartRecording();
    RecordBlocks(3);
    form->RecButton->click();
    StateProbe probe(form.get());
    probe.onMessage = [&](int count) {
        if (count == 2) form->close();
    };
    Pump();
    EXPECT_EQ(probe.seen, std::vector<std::string>({"Stopping", "Finishing"}));
    EXPECT_TRUE(form->Closing);
    EXPECT_TRUE(form->StopFinished) << "the second message was not handled after the close";
    EXPECT_FALSE(audio->InputOpen());
    form.reset();
}

// The stream object of a closed device, whose destructor runs the event loop as Qt's audio sink
// and source do.
class EventLoopOnDestroy : public QObject {
  public:
    ~EventLoopOnDestroy() override { QCoreApplication::processEvents(); }
};

// A device that closes as the real back-end does: the closed stream is retired, and the engine
// calls in progress are counted, so that a click run inside one of them is seen.
class ClosingRunsTheEventLoop : public SimulatedWaveAudio {
  public:
    int closing = 0;
    MMRESULT waveInClose(HWAVEIN handle) override {
        ++closing;
        const MMRESULT r = SimulatedWaveAudio::waveInClose(handle);
        Retire();
        --closing;
        return r;
    }
    MMRESULT waveOutClose(HWAVEOUT handle) override {
        ++closing;
        const MMRESULT r = SimulatedWaveAudio::waveOutClose(handle);
        Retire();
        --closing;
        return r;
    }

  private:
    void Retire() { RetireDevice(new EventLoopOnDestroy); }
};

class ReentrantCloseTest : public RecordingTest {
  protected:
    void SetUp() override {
        createForm = false;
        FormTest::SetUp();
        audio = std::make_unique<ClosingRunsTheEventLoop>();
        form = std::make_unique<TFormMain>(audio.get());
        HoldTimer();
    }
    ClosingRunsTheEventLoop& Device() { return static_cast<ClosingRunsTheEventLoop&>(*audio); }
    // Runs `action` from the event loop, as a click queued behind the current one; it notes
    // whether it ran inside a click or a device close.
    void Queue(std::function<void()> action) {
        QMetaObject::invokeMethod(
            form.get(),
            [this, action] {
                reentered |= clicking > 0 || Device().closing > 0;
                ++clicking;
                action();
                --clicking;
            },
            Qt::QueuedConnection);
    }
    void Click(QAbstractButton* button) {
        ++clicking;
        button->click();
        --clicking;
    }
    int clicking = 0;
    bool reentered = false;
};

// A double click on a busy machine: the second click, and a close of the window, wait in the
// queue while the first one closes a device.
TEST_F(ReentrantCloseTest, QueuedClicksRunOnlyAfterTheOperationThatClosesTheDevice) {
    enum Button { Play, Rec };
    struct Case {
        const char* name;
        bool recording;  // the first click stops a recording of 3 blocks, else pauses playback
        Button second;
        bool secondLater;  // queued after the first click's device messages, not before them
        bool close;
        const char* state;  // after the queue has run; a closed window has only closed devices
    };
    const Case cases[] = {
        {"pause, play", false, Play, false, false, "Playing"},
        {"pause, play, close", false, Play, false, true, ""},
        {"pause, record", false, Rec, false, false, "Recording"},
        {"pause, record, close", false, Rec, false, true, ""},
        {"stop, record (ignored while the recording is handed over)", true, Rec, false, false,
         "Idle"},
        {"stop, record after the hand-over", true, Rec, true, false, "Recording"},
        {"stop, record after the hand-over, close", true, Rec, true, true, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        form = std::make_unique<TFormMain>(audio.get());
        HoldTimer();
        reentered = false;
        HoldSteppedTones();
        audio->SetInputGenerator(TonePerBlock(1, [](uint64_t) { return 440; }));
        if (c.recording) {
            StartRecording();
            RecordBlocks(3);
        } else {
            Click(form->PlayButton);
            audio->AdvanceOutput(10000);
        }
        QAbstractButton* second = c.second == Play ? form->PlayButton : form->RecButton;
        if (!c.secondLater) Queue([second] { second->click(); });
        Click(c.recording ? form->RecButton : form->PlayButton);
        if (c.secondLater) Queue([second] { second->click(); });
        if (c.close) Queue([this] { form->close(); });
        Pump();

        const std::string state = c.state;
        EXPECT_FALSE(reentered);
        EXPECT_EQ(c.close, form->Closing);
        if (!c.close) EXPECT_EQ(EngineState(*form), state);
        EXPECT_EQ(audio->OutputOpen(), state == "Playing");
        EXPECT_EQ(audio->InputOpen(), state == "Recording");
        if (!c.close && c.recording)
            EXPECT_EQ(form->WaveDataSize, c.secondLater ? kMonoBlock : 3 * kMonoBlock);
        if (!c.recording && !c.close && c.second == Play) EXPECT_EQ(form->ViewOffset, 10000u);
        // What runs next runs on blocks of its own: a recording is whole, playback ends.
        if (state == "Recording") {
            RecordBlocks(2);
            StopRecording();
            EXPECT_EQ(form->WaveDataSize, 2 * kMonoBlock);
            EXPECT_NEAR(form->DetectedFrequency, 440, 1);
        } else if (state == "Playing") {
            audio->FinishOutput();
            Pump();
        }
        if (!c.close) EXPECT_EQ(EngineState(*form), "Idle");
        form.reset();
        Pump();
        EXPECT_FALSE(audio->OutputOpen() || audio->InputOpen());
        EXPECT_EQ(audio->PreparedOutputHeaders() + audio->PreparedInputHeaders(), 0);
        EXPECT_FALSE(reentered);
    }
    ExpectNoMessages();
}

TEST_F(ReentrantCloseTest, FailedStartIgnoresTheBlocksItsResetReturns) {
    audio->faults.inStart = {MMSYSERR_ERROR, 0};
    StartRecording();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "The audio input device failed");
    EXPECT_EQ(EngineState(*form), "Idle");
    EXPECT_EQ(form->RecordedBytes, 0u);
    EXPECT_EQ(form->RecordBuffer, nullptr);
    EXPECT_EQ(form->WaveDataSize, 44100u);
    audio->faults = {};
    audio->faults.inAddBuffer = {MMSYSERR_ERROR, audio->CallCount("waveInAddBuffer") + 1};
    StartRecording();
    EXPECT_EQ(messages.size(), 2u);
    EXPECT_EQ(EngineState(*form), "Idle");
    EXPECT_EQ(form->RecordBuffer, nullptr);
    EXPECT_EQ(form->WaveDataSize, 44100u);
}

}  // namespace

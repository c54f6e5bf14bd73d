// The playback engine on the simulated device: the one block from the analysis window to the end,
// the views following the play position, the three ways playback ends, pause and resume, the
// failures of the device, the play position scroll bar and the level buttons.
#include <QStringList>

#include "EngineFixture.h"
#include "SoundHelpers.h"

using namespace sonabi;

namespace {

using namespace enginetest;

using PlaybackTest = EngineTest;
const QString kPlay = QString::fromUtf8("再生");
const QString kStop = QString::fromUtf8("停止");

TEST_F(PlaybackTest, PressPlaysTheHeldSoundFromTheViewOffsetToItsEnd) {
    ASSERT_EQ(form->WaveDataSize, 44100u);
    form->PlayButton->click();

    EXPECT_EQ(EngineState(*form), "Playing");
    EXPECT_EQ(form->PlayButton->text(), kStop);
    EXPECT_TRUE(form->Timer1->isActive());
    EXPECT_TRUE(form->HarmonicsFromAnalysis);
    ASSERT_NE(audio->OutputBlock(), nullptr);
    EXPECT_EQ(audio->OutputBlock(), form->WaveHeader);
    EXPECT_EQ(audio->OutputBlock()->lpData, reinterpret_cast<char*>(form->WaveData));
    EXPECT_EQ(audio->OutputBlock()->dwBufferLength, 44100u);
    EXPECT_EQ(audio->LastOutputFormat().nChannels, 1);
    EXPECT_EQ(audio->LastOutputFormat().wBitsPerSample, 16);
    EXPECT_EQ(audio->LastOutputFormat().nSamplesPerSec, 44100u);

    // From a scrolled position only the rest is played.
    form->PlayButton->click();
    Pump();
    uint32_t position = 10000;
    form->PlayScrollBarScroll(0, position);
    form->PlayButton->click();
    ASSERT_NE(audio->OutputBlock(), nullptr);
    EXPECT_EQ(audio->OutputBlock()->lpData, reinterpret_cast<char*>(form->WaveData) + 10000);
    EXPECT_EQ(audio->OutputBlock()->dwBufferLength, 34100u);
    ExpectNoMessages();
}

// Every width and channel count: each pause leaves the view on a whole frame and shows the
// sound's own pitch there, resuming hands the device whole frames from it, and the end returns
// to the start, also when the sound ends in part of a frame (a cut-off recording).
TEST_F(PlaybackTest, PausesAndTheEndStayOnWholeFramesForEveryWidth) {
    const struct {
        WAVEFORMATEX format;
        uint32_t cut;  // bytes of a last, partial frame
    } cases[] = {
        {MakePcmFormat(1, 8), 0},  {MakePcmFormat(2, 8), 1},    {MakePcmFormat(1, 16), 0},
        {MakePcmFormat(2, 16), 2}, {MakePcmFormat(1, 24), 0},   {MakePcmFormat(2, 24), 4},
        {MakePcmFormat(1, 32), 3}, {MakeFloatFormat(1, 32), 2}, {MakeFloatFormat(2, 64), 9}};
    constexpr uint32_t kFrames = 22051;  // odd, so an 8-bit mono sound ends on an odd byte
    for (const auto& c : cases) {
        const WAVEFORMATEX& f = c.format;
        SCOPED_TRACE(testing::Message()
                     << f.nChannels << " x " << f.wBitsPerSample
                     << (f.wFormatTag == WAVE_FORMAT_IEEE_FLOAT ? " float" : ""));
        const auto pcm16 = sound::Pcm16(kFrames, f.nChannels,
                                        [](uint32_t t, int) { return sound::Sine(10000, 440, t); });
        std::vector<uint8_t> bytes;
        if (f.wBitsPerSample == 8)
            for (size_t i = 0; i < pcm16.size(); i += 2)
                bytes.push_back(uint8_t(pcm16[i + 1] + 128));
        else
            bytes = f.wBitsPerSample == 16 ? pcm16 : sound::Widen(pcm16, f);
        bytes.resize(bytes.size() + c.cut, 0x5A);
        sound::HoldSound(*form, bytes, f);
        const uint32_t align = f.nBlockAlign;
        const uint32_t end = kFrames * align;
        uint32_t at = 0;
        for (uint32_t frames : {1001u, 3333u, 777u}) {
            form->PlayButton->click();
            ASSERT_NE(audio->OutputBlock(), nullptr);
            EXPECT_EQ(audio->OutputBlock()->lpData, reinterpret_cast<char*>(form->WaveData) + at);
            EXPECT_EQ(audio->OutputBlock()->dwBufferLength, end - at) << "whole frames only";
            audio->AdvanceOutput(frames * align + align - 1);  // the device hears whole frames
            form->PlayButton->click();                         // pause
            Pump();
            at += frames * align;
            EXPECT_EQ(form->ViewOffset, at);
            EXPECT_EQ(form->PlayScrollBar->Position(), at);
            EXPECT_NEAR(form->DetectedFrequency, 440, 3) << "at " << at;
        }
        form->PlayButton->click();
        audio->FinishOutput();
        Pump();
        EXPECT_EQ(EngineState(*form), "Idle");
        EXPECT_EQ(form->ViewOffset, 0u);
        EXPECT_EQ(form->PlayScrollBar->Position(), 0u);
        EXPECT_NEAR(form->DetectedFrequency, 440, 3);
    }
    ExpectNoMessages();
}

TEST_F(PlaybackTest, TimerTicksAnalyseTheWindowThatIsSounding) {
    HoldSteppedTones();
    form->PlayButton->click();
    // Each tick lands at the start of the next 0.1 s segment: its tone is what the views show.
    for (uint32_t segment = 1; segment <= 4; ++segment) {
        SCOPED_TRACE(segment);
        PlayAndTick(kMonoBlock);
        EXPECT_EQ(form->PlayScrollBar->Position(), segment * kMonoBlock);
        EXPECT_NEAR(form->DetectedFrequency, SegmentHz(segment), 3);
        EXPECT_EQ(form->ViewOffset, 0u) << "ViewOffset stays where playback started";
        EXPECT_TRUE(form->Playing);
    }
    // 37280: the window still fits (it ends at 41376); 40280: it would end past 44100, so the
    // tick neither draws nor moves the scroll bar.
    PlayAndTick(2000);
    EXPECT_EQ(form->PlayScrollBar->Position(), 37280u);
    const QImage wave = Snapshot(form->PaintBoxGra);
    PlayAndTick(3000);
    EXPECT_EQ(form->PlayScrollBar->Position(), 37280u);
    EXPECT_EQ(Snapshot(form->PaintBoxGra), wave);
    EXPECT_TRUE(form->Playing);
    ExpectNoMessages();
}

TEST_F(PlaybackTest, TimerAtTheEndShowsTheLastWindowAndSwallowsTheDoneMessage) {
    HoldSteppedTones();
    form->PlayButton->click();
    PlayAndTick(kMonoBlock);
    PlayAndTick(kMonoBlock);
    EXPECT_NEAR(form->DetectedFrequency, 500, 3);
    // The block ends; the timer sees it before the done message is handled.
    audio->FinishOutput();
    form->Timer1Timer();

    EXPECT_EQ(EngineState(*form), "Idle");
    EXPECT_FALSE(form->Timer1->isActive());
    EXPECT_EQ(form->PlayButton->text(), kPlay);
    EXPECT_FALSE(audio->OutputOpen());
    EXPECT_TRUE(form->IgnoreNextDone);
    EXPECT_EQ(form->ViewOffset, 0u);
    EXPECT_EQ(form->PlayScrollBar->Position(), 44100u - kWindowBytes - 1);
    EXPECT_NEAR(form->DetectedFrequency, 700, 3) << "the last window is in the 700 Hz segment";

    const QImage wave = Snapshot(form->PaintBoxGra);
    Pump();
    EXPECT_FALSE(form->IgnoreNextDone);
    EXPECT_EQ(form->ViewOffset, 0u);
    EXPECT_EQ(form->PlayScrollBar->Position(), 44100u - kWindowBytes - 1);
    EXPECT_EQ(Snapshot(form->PaintBoxGra), wave) << "the swallowed done redraws nothing";
    EXPECT_EQ(audio->CallCount("waveOutClose"), 1);
    ExpectNoMessages();

    // The next press plays from ViewOffset again, the whole sound.
    form->PlayButton->click();
    ASSERT_NE(audio->OutputBlock(), nullptr);
    EXPECT_EQ(audio->OutputBlock()->dwBufferLength, 44100u);
}

TEST_F(PlaybackTest, DoneMessageAtTheEndReturnsTheViewsToTheStart) {
    // The start-up silence, played from 0 and from a scrolled position.
    for (uint32_t start : {0u, 20000u}) {
        SCOPED_TRACE(start);
        uint32_t position = start;
        form->PlayScrollBarScroll(0, position);
        form->PlayButton->click();
        PlayAndTick(kMonoBlock);
        EXPECT_EQ(form->PlayScrollBar->Position(), start + kMonoBlock);
        audio->FinishOutput();
        Pump();

        EXPECT_EQ(EngineState(*form), "Idle");
        EXPECT_FALSE(form->Timer1->isActive());
        EXPECT_EQ(form->PlayButton->text(), kPlay);
        EXPECT_FALSE(audio->OutputOpen());
        EXPECT_FALSE(form->IgnoreNextDone);
        EXPECT_EQ(form->ViewOffset, 0u);
        EXPECT_EQ(form->PlayScrollBar->Position(), 0u);
        EXPECT_TRUE(form->WaveDataHeld);
    }
    // With tones the views show the first window again.
    HoldSteppedTones();
    form->PlayButton->click();
    PlayAndTick(3 * kMonoBlock);
    EXPECT_NEAR(form->DetectedFrequency, 600, 3);
    audio->FinishOutput();
    Pump();
    EXPECT_NEAR(form->DetectedFrequency, 300, 3);
    ExpectNoMessages();
}

TEST_F(PlaybackTest, PauseKeepsTheWindowWhereTheSoundWasAndTheNextPressPlaysTheRest) {
    HoldSteppedTones();
    form->PlayButton->click();
    PlayAndTick(kMonoBlock);
    audio->AdvanceOutput(22051 - kMonoBlock);  // about 0.25 s, an odd byte count
    form->PlayButton->click();

    EXPECT_EQ(EngineState(*form), "Idle");
    EXPECT_EQ(form->ViewOffset, 22050u) << "rounded down to an even byte";
    EXPECT_EQ(form->PlayScrollBar->Position(), 22050u);
    EXPECT_EQ(form->PlayButton->text(), kPlay);
    EXPECT_FALSE(form->Timer1->isActive());
    EXPECT_FALSE(audio->OutputOpen());
    for (const char* call :
         {"waveOutPause", "waveOutReset", "waveOutUnprepareHeader", "waveOutClose"})
        EXPECT_EQ(audio->CallCount(call), 1) << call;
    EXPECT_NEAR(form->DetectedFrequency, 500, 3) << "frame 11025 lies in the 500 Hz segment";
    EXPECT_TRUE(form->IgnoreNextDone);
    Pump();
    EXPECT_FALSE(form->IgnoreNextDone);
    EXPECT_EQ(form->ViewOffset, 22050u);

    form->PlayButton->click();
    ASSERT_NE(audio->OutputBlock(), nullptr);
    EXPECT_EQ(audio->OutputBlock()->lpData, reinterpret_cast<char*>(form->WaveData) + 22050);
    EXPECT_EQ(audio->OutputBlock()->dwBufferLength, 22050u);
    PlayAndTick(kMonoBlock);
    EXPECT_EQ(form->PlayScrollBar->Position(), 22050u + kMonoBlock);
    audio->FinishOutput();
    Pump();
    EXPECT_EQ(EngineState(*form), "Idle");
    EXPECT_EQ(form->ViewOffset, 0u);
    ExpectNoMessages();
}

TEST_F(PlaybackTest, PauseNearTheEndStopsAtTheLastFullWindow) {
    form->PlayButton->click();
    audio->AdvanceOutput(43001);
    form->PlayButton->click();
    EXPECT_EQ(form->ViewOffset, 44100u - kWindowBytes);
    EXPECT_EQ(form->PlayScrollBar->Position(), 44100u - kWindowBytes);
    Pump();
    EXPECT_EQ(form->ViewOffset, 44100u - kWindowBytes);
    // Resuming plays the last window only.
    form->PlayButton->click();
    ASSERT_NE(audio->OutputBlock(), nullptr);
    EXPECT_EQ(audio->OutputBlock()->dwBufferLength, kWindowBytes);
}

TEST_F(PlaybackTest, FailedPositionQueries) {
    // In the timer: "error" under "time", the timer stops, the sound plays on to its done.
    audio->faults.outGetPosition = {MMSYSERR_ERROR, 0};
    form->PlayButton->click();
    audio->AdvanceOutput(kMonoBlock);
    form->Timer1Timer();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "error");
    EXPECT_EQ(messages[0].caption, "time");
    EXPECT_FALSE(form->Timer1->isActive());
    EXPECT_TRUE(form->Playing);
    EXPECT_TRUE(audio->OutputOpen());
    EXPECT_EQ(form->PlayButton->text(), kStop);
    // The done handler asks too: "error" under "won", and the window still returns to idle.
    audio->FinishOutput();
    Pump();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[1].text, "error");
    EXPECT_EQ(messages[1].caption, "won");
    EXPECT_EQ(EngineState(*form), "Idle");
    EXPECT_FALSE(audio->OutputOpen());
    EXPECT_EQ(form->PlayButton->text(), kPlay);

    // In the pause: "error" under "won", and the last position the timer saw is used.
    messages.clear();
    audio->faults.outGetPosition = {};
    form->PlayButton->click();
    PlayAndTick(kMonoBlock);
    audio->faults.outGetPosition = {MMSYSERR_ERROR, audio->CallCount("waveOutGetPosition")};
    audio->AdvanceOutput(kMonoBlock);
    form->PlayButton->click();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "error");
    EXPECT_EQ(messages[0].caption, "won");
    EXPECT_EQ(form->ViewOffset, kMonoBlock);
    EXPECT_EQ(EngineState(*form), "Idle");
    EXPECT_FALSE(audio->OutputOpen());
    Pump();
    EXPECT_FALSE(form->IgnoreNextDone);
}

TEST_F(PlaybackTest, FailedStartsShowTheDeviceTextAndLeaveTheSoundPlayable) {
    struct Case {
        const char* name;
        SimulatedWaveAudio::Fault SimulatedWaveAudio::Faults::*fault;
        MMRESULT code;
        const char* text;
        const char* caption;
    };
    const Case cases[] = {
        {"open", &SimulatedWaveAudio::Faults::outOpen, MMSYSERR_NODRIVER, "No audio output device",
         "ERROR"},
        {"prepare", &SimulatedWaveAudio::Faults::outPrepare, MMSYSERR_NOMEM,
         "Not enough memory for the audio device", "wave"},
        {"write", &SimulatedWaveAudio::Faults::outWrite, MMSYSERR_ERROR,
         "The audio output device failed", "wave"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        messages.clear();
        audio->faults = {};
        audio->faults.*c.fault = {c.code, 0};
        form->PlayButton->click();
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0].text.toStdString(), c.text);
        EXPECT_EQ(messages[0].caption.toStdString(), c.caption);
        EXPECT_EQ(EngineState(*form), "Idle");
        EXPECT_EQ(form->PlayButton->text(), kPlay);
        EXPECT_FALSE(form->Timer1->isActive());
        EXPECT_FALSE(audio->OutputOpen());
        EXPECT_EQ(audio->PreparedOutputHeaders(), 0);
        EXPECT_EQ(form->WaveOutHandle, nullptr);
        // The sound is still held: it scrolls, and the next press plays it.
        EXPECT_TRUE(form->WaveDataHeld);
        uint32_t position = 1001;
        form->PlayScrollBarScroll(0, position);
        EXPECT_EQ(form->ViewOffset, 1000u);
        audio->faults = {};
        form->PlayButton->click();
        EXPECT_EQ(EngineState(*form), "Playing");
        EXPECT_EQ(form->PlayButton->text(), kStop);
        form->PlayButton->click();
        Pump();
        uint32_t zero = 0;
        form->PlayScrollBarScroll(0, zero);
    }
}

TEST_F(PlaybackTest, BlockReturnedBeforeItsEndStopsWhereTheSoundWas) {
    // A device that was lost hands the block back early.
    form->PlayButton->click();
    audio->AdvanceOutput(10001);
    QCoreApplication::postEvent(form.get(), new WaveAudioEvent(MM_WOM_DONE, form->WaveHeader));
    Pump();
    EXPECT_EQ(EngineState(*form), "Idle");
    EXPECT_EQ(form->ViewOffset, 10000u);
    EXPECT_EQ(form->PlayScrollBar->Position(), 10000u);
    EXPECT_EQ(form->PlayButton->text(), kPlay);
    EXPECT_FALSE(form->Timer1->isActive());
    EXPECT_FALSE(audio->OutputOpen());
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "The audio output device failed");
    EXPECT_EQ(messages[0].caption, "ERROR");
    form->PlayButton->click();
    EXPECT_EQ(EngineState(*form), "Playing");
}

TEST_F(PlaybackTest, ScrollBarMovesTheWindowByWholeFrames) {
    // Mono: positions go down to an even byte; the thumb follows through the scroll bar itself.
    form->PlayScrollBar->setSliderPosition(3001);
    EXPECT_EQ(form->ViewOffset, 3000u);
    EXPECT_EQ(form->PlayScrollBar->Position(), 3000u);
    form->PlayScrollBar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_EQ(form->ViewOffset, 3204u);

    // Stereo (a recording of five blocks): every position a multiple of 4.
    StartRecording(2);
    RecordBlocks(5);
    StopRecording();
    ASSERT_EQ(form->WaveFormat.nBlockAlign, 4);
    const QImage first = Snapshot(form->PaintBoxGra);
    for (uint32_t p : {1u, 2u, 3u, 4u, 1001u, 1002u, 1003u, 40005u, form->PlayScrollBar->Max()}) {
        SCOPED_TRACE(p);
        form->PlayScrollBar->setSliderPosition(static_cast<int>(p));
        EXPECT_EQ(form->ViewOffset % 4, 0u);
        EXPECT_EQ(form->ViewOffset, p - p % 4);
        EXPECT_EQ(form->PlayScrollBar->Position(), form->ViewOffset);
    }
    form->PlayScrollBar->setSliderPosition(0);
    EXPECT_EQ(Snapshot(form->PaintBoxGra), first) << "a full refresh at every move";

    // A position past the bar's end (the handler called directly) stops at the last window.
    uint32_t beyond = 1000000;
    form->PlayScrollBarScroll(0, beyond);
    EXPECT_EQ(beyond, 5 * 17640u - 4 * 2048);
    EXPECT_EQ(form->ViewOffset, beyond);
}

TEST_F(PlaybackTest, ScrollBarIsRefusedWhileBusyAndResetWhenNothingIsHeld) {
    form->PlayButton->click();
    uint32_t position = 5000;
    form->PlayScrollBarScroll(0, position);
    EXPECT_EQ(form->ViewOffset, 0u);
    EXPECT_EQ(position, 5000u) << "left for the next tick to move back";
    form->PlayButton->click();
    Pump();

    StartRecording();
    form->PlayScrollBarScroll(0, position);
    EXPECT_EQ(form->ViewOffset, 0u);
    StopRecording();

    // A window whose start-up could not allocate the sound holds nothing.
    form.reset();
    messages.clear();
    blocks::FailHook = [](size_t bytes) { return bytes == 30u * 44100; };
    form = std::make_unique<TFormMain>(audio.get());
    blocks::FailHook = nullptr;
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "No pwavedata");
    EXPECT_FALSE(form->WaveDataHeld);
    position = 5000;
    form->PlayScrollBarScroll(0, position);
    EXPECT_EQ(position, 0u);
    EXPECT_EQ(form->ViewOffset, 0u);
    // Nothing to play either.
    form->PlayButton->click();
    EXPECT_FALSE(form->Playing);
    EXPECT_EQ(form->PlayButton->text(), kPlay);
}

TEST_F(PlaybackTest, LevelButtonsStartTheVolumeControlOnlyWhenIdle) {
    form->ButtonPlayLevel->click();
    form->ButtonRecLevel->click();
    EXPECT_EQ(started, QStringList({"pavucontrol --tab=3", "pavucontrol --tab=4"}));

    started.clear();
    form->PlayButton->click();
    form->ButtonPlayLevel->click();
    form->ButtonRecLevel->click();
    form->PlayButton->click();
    Pump();
    StartRecording();
    form->ButtonPlayLevel->click();
    form->ButtonRecLevel->click();
    StopRecording();
    EXPECT_TRUE(started.isEmpty());
}

TEST_F(PlaybackTest, PlayAndRecordExcludeEachOther) {
    form->PlayButton->click();
    form->RecButton->click();
    EXPECT_EQ(EngineState(*form), "Playing");
    EXPECT_EQ(audio->CallCount("waveInOpen"), 0);
    EXPECT_EQ(form->RecButton->text(), QString::fromUtf8("録音"));
    form->PlayButton->click();
    Pump();

    StartRecording();
    RecordBlocks(1);
    form->PlayButton->click();
    EXPECT_EQ(EngineState(*form), "Recording");
    EXPECT_EQ(audio->CallCount("waveOutOpen"), 1);
    EXPECT_EQ(form->PlayButton->text(), kPlay);

    // Between the stop press and the hand-over the held sound is still a capture block.
    form->RecButton->click();
    ASSERT_EQ(EngineState(*form), "Stopping");
    form->PlayButton->click();
    uint32_t position = 50000;
    form->PlayScrollBarScroll(0, position);
    EXPECT_EQ(audio->CallCount("waveOutOpen"), 1);
    EXPECT_EQ(form->ViewOffset, 0u);
    Pump();
    EXPECT_EQ(EngineState(*form), "Idle");
    form->PlayButton->click();
    EXPECT_EQ(EngineState(*form), "Playing");
    EXPECT_EQ(audio->OutputBlock()->dwBufferLength, kMonoBlock);
}

TEST_F(PlaybackTest, PlayWhileTheMixerToneIsHeldPlaysTheUsersSoundFromItsStart) {
    HoldSteppedTones();
    uint8_t* users = form->WaveData;
    uint32_t position = 20000;
    form->PlayScrollBarScroll(0, position);
    form->TransmitClick();  // the mixer's tone takes the held sound's place and plays
    ASSERT_TRUE(form->Playing);
    ASSERT_TRUE(form->SynthActive);
    audio->FinishOutput();
    Pump();
    ASSERT_EQ(form->WaveData, form->SynthBuffer);

    form->PlayButton->click();
    EXPECT_FALSE(form->SynthActive);
    EXPECT_EQ(form->WaveData, users);
    EXPECT_EQ(form->WaveDataSize, 44100u);
    ASSERT_NE(audio->OutputBlock(), nullptr);
    EXPECT_EQ(audio->OutputBlock()->lpData, reinterpret_cast<char*>(users));
    EXPECT_EQ(audio->OutputBlock()->dwBufferLength, 44100u);
    EXPECT_TRUE(form->HarmonicsFromAnalysis);
}

TEST_F(PlaybackTest, ClosingWhilePlayingStopsTheOutputFirst) {
    form->PlayButton->click();
    audio->AdvanceOutput(kMonoBlock);
    form->close();
    EXPECT_FALSE(audio->OutputOpen());
    EXPECT_EQ(audio->PreparedOutputHeaders(), 0);
    EXPECT_FALSE(form->Playing);
    EXPECT_FALSE(form->Timer1->isActive());
    Pump();  // the reset's done message reaches a closed window
    form.reset();
}

}  // namespace

// Helpers shared by the playback and recording tests: tones written into the held sound or fed
// to the simulated microphone, capture one block at a time, and the engine's flags read as one of
// the states Idle, Playing, Recording, Stopping, Finishing.
#pragma once
#include <QImage>
#include <cmath>
#include <cstdint>
#include <functional>
#include <string>

#include "FormFixture.h"

namespace enginetest {

constexpr uint32_t kMonoBlock = 8820;    // 0.1 s of 16-bit mono, bytes
constexpr uint32_t kBlockFrames = 4410;  // frames in one capture block
constexpr uint32_t kWindowBytes = 4096;  // 2048 frames of 16-bit mono

// Round(amplitude x sin(2 pi hz n / 44100)).
inline int16_t Sine(double hz, uint64_t frame, double amplitude = 10000) {
    return static_cast<int16_t>(std::lround(amplitude * std::sin(2 * M_PI * hz * frame / 44100.0)));
}

inline int16_t SampleAt(const uint8_t* data, uint32_t byteOffset) {
    return static_cast<int16_t>(data[byteOffset] | (data[byteOffset + 1] << 8));
}

inline void PutSample(uint8_t* data, uint32_t byteOffset, int16_t value) {
    data[byteOffset] = static_cast<uint8_t>(value & 0xFF);
    data[byteOffset + 1] = static_cast<uint8_t>((static_cast<uint16_t>(value) >> 8) & 0xFF);
}

// A capture signal of 16-bit frames (every channel the same) given frame by frame.
using FrameSignal = std::function<int16_t(uint64_t frame)>;
inline SimulatedWaveAudio::InputGenerator Frames(int channels, FrameSignal signal) {
    return [channels, signal](uint8_t* dst, uint32_t bytes, uint64_t offset) {
        const uint64_t frameBytes = 2u * channels;
        for (uint32_t i = 0; i < bytes; ++i) {
            const uint64_t b = offset + i;
            const auto v = static_cast<uint16_t>(signal(b / frameBytes));
            dst[i] = static_cast<uint8_t>(b % 2 == 0 ? v & 0xFF : v >> 8);
        }
    };
}

// A sine per capture block: block k (0.1 s) sounds at hzOfBlock(k).
inline SimulatedWaveAudio::InputGenerator TonePerBlock(int channels,
                                                       std::function<double(uint64_t)> hzOfBlock) {
    return Frames(channels, [hzOfBlock](uint64_t frame) {
        return Sine(hzOfBlock(frame / kBlockFrames), frame);
    });
}

inline std::string EngineState(const TFormMain& f) {
    const bool capture = f.CaptureOpen || f.CaptureRunning;
    if (!f.Playing && !f.Recording && !capture && !f.StopRequested && !f.StopFinished)
        return "Idle";
    if (f.Playing && !f.Recording && !capture && !f.StopRequested && !f.StopFinished)
        return "Playing";
    if (!f.Playing && f.Recording && f.CaptureOpen && f.CaptureRunning && !f.StopRequested &&
        !f.StopFinished)
        return "Recording";
    if (!f.Playing && !f.Recording && !capture && f.StopRequested && !f.StopFinished)
        return "Stopping";
    if (!f.Playing && !f.Recording && !capture && f.StopRequested && f.StopFinished)
        return "Finishing";
    return "Mixed";
}

class EngineTest : public FormTest {
  protected:
    void SetUp() override {
        FormTest::SetUp();
        ASSERT_EQ(form->Timer1->interval(), 200);
        HoldTimer();
    }
    // The tests tick Timer1 by hand: a real tick in the middle of a Pump() would depend on how
    // fast the machine is. Whether the timer runs is still seen in isActive().
    void HoldTimer() { form->Timer1->setInterval(3600 * 1000); }

    // Held sound: 5 segments of 0.1 s (4410 frames each) at 300, 400, 500, 600 and 700 Hz in the
    // start-up buffer, the size unchanged (44100 bytes, 16-bit mono).
    void HoldSteppedTones() {
        for (uint32_t frame = 0; frame < 22050; ++frame)
            PutSample(form->WaveData, frame * 2, Sine(SegmentHz(frame / kBlockFrames), frame));
        form->FullRefresh();
    }
    static double SegmentHz(uint32_t segment) { return 300.0 + 100.0 * segment; }

    void StartRecording(int channels = 1) {
        form->RadioGroupchan->SetItemIndex(channels - 1);
        form->RecButton->click();
    }
    // The device fills the next queued block; its message is handled.
    void RecordBlocks(int count) {
        for (int i = 0; i < count; ++i) {
            ASSERT_EQ(audio->FillInputBlocks(1), 1) << "block " << i;
            Pump();
        }
    }
    // The stop press and both returned-block messages.
    void StopRecording() {
        form->RecButton->click();
        Pump();
    }
    // Moves the play position by `bytes` and lets Timer1 tick once.
    void PlayAndTick(uint32_t bytes) {
        audio->AdvanceOutput(bytes);
        form->Timer1Timer();
    }
    QImage Snapshot(PaintBox* box) { return box->Canvas().Image().copy(); }
    void ExpectNoMessages() {
        for (const ShownMessage& m : messages)
            ADD_FAILURE() << "message \"" << m.text.toStdString() << "\" under \""
                          << m.caption.toStdString() << "\"";
    }
};

}  // namespace enginetest

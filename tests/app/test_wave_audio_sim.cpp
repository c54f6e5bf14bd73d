// The simulated waveform-audio device: the semantics the engines rely on (blocks in order, one
// posted event per block, resets returning every queued block, the heard position) and its
// planned failures.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <vector>

#include "audio/SimulatedWaveAudio.h"

namespace {

// Collects the device events that reach it through the event loop.
class EventLog : public QObject {
  public:
    struct Entry {
        int message;
        WAVEHDR* header;
    };
    std::vector<Entry> entries;

    // Delivers what has been posted so far and returns it, emptying the log.
    std::vector<Entry> Take() {
        QCoreApplication::sendPostedEvents(this);
        return std::exchange(entries, {});
    }

  protected:
    bool event(QEvent* e) override {
        if (e->type() != WaveAudioEvent::EventType()) return QObject::event(e);
        auto* audio = static_cast<WaveAudioEvent*>(e);
        entries.push_back({audio->message, audio->header});
        return true;
    }
};

// A header over its own bytes, as the engines fill them.
struct Block {
    explicit Block(uint32_t size) : bytes(size, 0x55) {
        header.lpData = bytes.data();
        header.dwBufferLength = size;
    }
    std::vector<char> bytes;
    WAVEHDR header;
};

class SimulatedOutput : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(audio.waveOutOpen(&handle, MakePcmFormat(1, 16), &log), MMSYSERR_NOERROR);
        ASSERT_EQ(audio.waveOutPrepareHeader(handle, &block.header), MMSYSERR_NOERROR);
    }
    SimulatedWaveAudio audio;
    EventLog log;
    HWAVEOUT handle = nullptr;
    Block block{44100};
};

class SimulatedInput : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(audio.waveInOpen(&handle, MakePcmFormat(1, 16), &log), MMSYSERR_NOERROR);
        for (Block* b : {&a, &b, &c}) {
            ASSERT_EQ(audio.waveInPrepareHeader(handle, &b->header), MMSYSERR_NOERROR);
        }
        // Each 16-bit sample holds its own index in the stream, so order and gaps are visible.
        audio.SetInputGenerator([](uint8_t* dst, uint32_t bytes, uint64_t offset) {
            for (uint32_t i = 0; i < bytes; ++i) {
                const uint64_t at = offset + i;
                const uint64_t sample = at / 2;
                dst[i] = static_cast<uint8_t>(at % 2 == 0 ? sample & 0xFF : (sample >> 8) & 0xFF);
            }
        });
    }
    static uint16_t SampleAt(const Block& block, uint32_t index) {
        const auto* p = reinterpret_cast<const uint8_t*>(block.bytes.data()) + 2 * index;
        return static_cast<uint16_t>(p[0] | (p[1] << 8));
    }
    SimulatedWaveAudio audio;
    EventLog log;
    HWAVEIN handle = nullptr;
    Block a{8820}, b{8820}, c{8820};
};

TEST(WaveAudioEvent, TypeIsRegisteredOnceAndOutsideQtsOwnRange) {
    const QEvent::Type type = WaveAudioEvent::EventType();
    EXPECT_EQ(WaveAudioEvent::EventType(), type);
    EXPECT_GE(type, QEvent::User);
    EXPECT_LE(type, QEvent::MaxUser);
}

TEST_F(SimulatedOutput, BlockPlaysToItsEndAndPostsOneDoneThroughTheEventLoop) {
    ASSERT_EQ(audio.waveOutWrite(handle, &block.header), MMSYSERR_NOERROR);
    EXPECT_EQ(audio.OutputBlock(), &block.header);
    EXPECT_TRUE(block.header.dwFlags & WHDR_INQUEUE);

    MMTIME time;
    EXPECT_EQ(audio.AdvanceOutput(10000), 10000u);
    ASSERT_EQ(audio.waveOutGetPosition(handle, &time), MMSYSERR_NOERROR);
    EXPECT_EQ(time.wType, TIME_BYTES);
    EXPECT_EQ(time.cb, 10000u);

    // The clock stops at the end of the block; the done message is posted, not sent.
    EXPECT_EQ(audio.AdvanceOutput(50000), 34100u);
    EXPECT_TRUE(log.entries.empty());
    const auto events = log.Take();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].message, MM_WOM_DONE);
    EXPECT_EQ(events[0].header, &block.header);
    EXPECT_TRUE(block.header.dwFlags & WHDR_DONE);
    EXPECT_FALSE(block.header.dwFlags & WHDR_INQUEUE);

    // After its end the block reports its full length; a reset then returns nothing more.
    ASSERT_EQ(audio.waveOutGetPosition(handle, &time), MMSYSERR_NOERROR);
    EXPECT_EQ(time.cb, 44100u);
    EXPECT_EQ(audio.AdvanceOutput(100), 0u);
    EXPECT_EQ(audio.waveOutReset(handle), MMSYSERR_NOERROR);
    EXPECT_TRUE(log.Take().empty());
}

TEST_F(SimulatedOutput, PauseHoldsTheClockAndResetReturnsTheQueuedBlockOnce) {
    ASSERT_EQ(audio.waveOutWrite(handle, &block.header), MMSYSERR_NOERROR);
    audio.AdvanceOutput(2000);
    ASSERT_EQ(audio.waveOutPause(handle), MMSYSERR_NOERROR);
    EXPECT_TRUE(audio.OutputPaused());
    EXPECT_EQ(audio.AdvanceOutput(2000), 0u);
    EXPECT_EQ(audio.OutputPosition(), 2000u);

    ASSERT_EQ(audio.waveOutReset(handle), MMSYSERR_NOERROR);
    ASSERT_EQ(audio.waveOutReset(handle), MMSYSERR_NOERROR);
    const auto events = log.Take();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].message, MM_WOM_DONE);
    EXPECT_EQ(events[0].header, &block.header);
    EXPECT_FALSE(audio.OutputPaused());
    EXPECT_EQ(audio.OutputPosition(), 0u);

    // The block can be unprepared and written again from its start.
    ASSERT_EQ(audio.waveOutWrite(handle, &block.header), MMSYSERR_NOERROR);
    EXPECT_EQ(audio.AdvanceOutput(44100), 44100u);
    EXPECT_EQ(log.Take().size(), 1u);
}

TEST_F(SimulatedOutput, HeaderAndHandleRulesAreKept) {
    Block unprepared(100);
    EXPECT_EQ(audio.waveOutWrite(handle, &unprepared.header), WAVERR_UNPREPARED);
    ASSERT_EQ(audio.waveOutWrite(handle, &block.header), MMSYSERR_NOERROR);
    EXPECT_EQ(audio.waveOutWrite(handle, &block.header), WAVERR_STILLPLAYING);
    EXPECT_EQ(audio.waveOutUnprepareHeader(handle, &block.header), WAVERR_STILLPLAYING);
    EXPECT_EQ(audio.PreparedOutputHeaders(), 1);

    // A second device cannot be opened while one is.
    HWAVEOUT second = nullptr;
    EXPECT_EQ(audio.waveOutOpen(&second, MakePcmFormat(1, 16), &log), MMSYSERR_ALLOCATED);
    EXPECT_EQ(second, nullptr);

    ASSERT_EQ(audio.waveOutReset(handle), MMSYSERR_NOERROR);
    EXPECT_EQ(audio.waveOutUnprepareHeader(handle, &block.header), MMSYSERR_NOERROR);
    EXPECT_EQ(audio.PreparedOutputHeaders(), 0);
    ASSERT_EQ(audio.waveOutClose(handle), MMSYSERR_NOERROR);
    EXPECT_FALSE(audio.OutputOpen());

    // The closed handle is refused everywhere.
    MMTIME time;
    EXPECT_EQ(audio.waveOutGetPosition(handle, &time), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(audio.waveOutReset(handle), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(audio.waveOutClose(handle), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(log.Take().size(), 1u);  // only the reset's
}

TEST_F(SimulatedOutput, CloseDropsAQueuedBlockWithoutAMessage) {
    ASSERT_EQ(audio.waveOutWrite(handle, &block.header), MMSYSERR_NOERROR);
    ASSERT_EQ(audio.waveOutClose(handle), MMSYSERR_NOERROR);
    EXPECT_FALSE(block.header.dwFlags & WHDR_INQUEUE);
    EXPECT_EQ(audio.AdvanceOutput(44100), 0u);
    EXPECT_TRUE(log.Take().empty());
}

TEST_F(SimulatedOutput, EmptyBlockIsDoneAtOnce) {
    Block empty(0);
    ASSERT_EQ(audio.waveOutPrepareHeader(handle, &empty.header), MMSYSERR_NOERROR);
    ASSERT_EQ(audio.waveOutWrite(handle, &empty.header), MMSYSERR_NOERROR);
    const auto events = log.Take();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].header, &empty.header);
}

TEST(SimulatedDevice, RefusesFormatsItCannotPlayOrRecord) {
    SimulatedWaveAudio audio;
    HWAVEOUT out = nullptr;
    HWAVEIN in = nullptr;
    WAVEFORMATEX badAlign = MakePcmFormat(2, 16);
    badAlign.nBlockAlign = 2;
    WAVEFORMATEX notPcm = MakePcmFormat(1, 16);
    notPcm.wFormatTag = 3;
    for (const WAVEFORMATEX& f :
         {MakePcmFormat(0, 16), MakePcmFormat(1, 40), MakePcmFormat(1, 16, 0), badAlign, notPcm}) {
        EXPECT_EQ(audio.waveOutOpen(&out, f, nullptr), WAVERR_BADFORMAT);
        EXPECT_EQ(audio.waveInOpen(&in, f, nullptr), WAVERR_BADFORMAT);
    }
    EXPECT_FALSE(audio.OutputOpen());
    EXPECT_FALSE(audio.InputOpen());
    // 8-bit stereo and 16-bit stereo are fine, and the format is kept for checks.
    ASSERT_EQ(audio.waveOutOpen(&out, MakePcmFormat(2, 8, 22050), nullptr), MMSYSERR_NOERROR);
    EXPECT_EQ(audio.LastOutputFormat().nSamplesPerSec, 22050u);
    ASSERT_EQ(audio.waveInOpen(&in, MakePcmFormat(2, 16), nullptr), MMSYSERR_NOERROR);
    EXPECT_EQ(audio.LastInputFormat().nBlockAlign, 4);
}

TEST_F(SimulatedInput, BlocksAreFilledInQueueOrderWithOneMessageEach) {
    for (Block* x : {&a, &b, &c}) ASSERT_EQ(audio.waveInAddBuffer(handle, &x->header), 0u);
    // Nothing arrives before the start.
    EXPECT_EQ(audio.FillInputBlocks(1), 0);
    ASSERT_EQ(audio.waveInStart(handle), MMSYSERR_NOERROR);

    EXPECT_EQ(audio.FillInputBlocks(2), 2);
    auto events = log.Take();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].message, MM_WIM_DATA);
    EXPECT_EQ(events[0].header, &a.header);
    EXPECT_EQ(events[1].header, &b.header);
    EXPECT_EQ(a.header.dwBytesRecorded, 8820u);
    EXPECT_TRUE(a.header.dwFlags & WHDR_DONE);
    // The signal runs on from one block into the next.
    EXPECT_EQ(SampleAt(a, 0), 0);
    EXPECT_EQ(SampleAt(a, 4409), 4409);
    EXPECT_EQ(SampleAt(b, 0), 4410);

    // A block handed back goes behind the one still queued.
    ASSERT_EQ(audio.waveInAddBuffer(handle, &a.header), MMSYSERR_NOERROR);
    EXPECT_EQ(audio.waveInAddBuffer(handle, &a.header), WAVERR_STILLPLAYING);
    EXPECT_EQ(audio.QueuedInputBlocks(), (std::vector<WAVEHDR*>{&c.header, &a.header}));
    EXPECT_EQ(audio.FillInputBlocks(5), 2);
    events = log.Take();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].header, &c.header);
    EXPECT_EQ(events[1].header, &a.header);
    EXPECT_EQ(SampleAt(a, 0), 3 * 4410);
}

TEST_F(SimulatedInput, ResetReturnsEveryQueuedBlockWithWhatItHolds) {
    ASSERT_EQ(audio.waveInAddBuffer(handle, &a.header), MMSYSERR_NOERROR);
    ASSERT_EQ(audio.waveInAddBuffer(handle, &b.header), MMSYSERR_NOERROR);
    ASSERT_EQ(audio.waveInStart(handle), MMSYSERR_NOERROR);
    EXPECT_EQ(audio.FeedInput(1000), 1000u);
    EXPECT_TRUE(log.Take().empty());

    ASSERT_EQ(audio.waveInReset(handle), MMSYSERR_NOERROR);
    const auto events = log.Take();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].header, &a.header);
    EXPECT_EQ(events[1].header, &b.header);
    EXPECT_EQ(a.header.dwBytesRecorded, 1000u);
    EXPECT_EQ(b.header.dwBytesRecorded, 0u);
    EXPECT_FALSE(audio.InputStarted());
    EXPECT_TRUE(audio.QueuedInputBlocks().empty());

    // Reset stops capture: blocks queued again stay empty until the next start.
    ASSERT_EQ(audio.waveInAddBuffer(handle, &a.header), MMSYSERR_NOERROR);
    EXPECT_EQ(audio.FeedInput(100), 0u);
    EXPECT_EQ(a.header.dwBytesRecorded, 0u);
    ASSERT_EQ(audio.waveInReset(handle), MMSYSERR_NOERROR);
    ASSERT_EQ(log.Take().size(), 1u);
    EXPECT_EQ(audio.waveInUnprepareHeader(handle, &a.header), MMSYSERR_NOERROR);
    EXPECT_EQ(audio.waveInUnprepareHeader(handle, &b.header), MMSYSERR_NOERROR);
    EXPECT_EQ(audio.PreparedInputHeaders(), 1);  // c was never released
}

TEST_F(SimulatedInput, SoundWaitsForTheNextQueuedBlockUntilAReset) {
    ASSERT_EQ(audio.waveInStart(handle), MMSYSERR_NOERROR);
    EXPECT_EQ(audio.FeedInput(200), 0u);
    EXPECT_EQ(audio.InputBytesWaiting(), 200u);
    // The waiting sound goes into the block as soon as it is queued, and the signal runs on.
    ASSERT_EQ(audio.waveInAddBuffer(handle, &a.header), MMSYSERR_NOERROR);
    EXPECT_EQ(a.header.dwBytesRecorded, 200u);
    EXPECT_EQ(audio.FillInputBlocks(1), 1);
    EXPECT_EQ(SampleAt(a, 0), 0);
    EXPECT_EQ(SampleAt(a, 4409), 4409);
    EXPECT_EQ(audio.InputBytesDelivered(), 8820u);
    ASSERT_EQ(log.Take().size(), 1u);

    // More than one block's worth waits for two blocks; a reset drops what is left over.
    EXPECT_EQ(audio.FeedInput(8820 + 100), 0u);
    ASSERT_EQ(audio.waveInAddBuffer(handle, &b.header), MMSYSERR_NOERROR);
    ASSERT_EQ(audio.waveInAddBuffer(handle, &c.header), MMSYSERR_NOERROR);
    EXPECT_EQ(b.header.dwBytesRecorded, 8820u);
    EXPECT_EQ(c.header.dwBytesRecorded, 100u);
    EXPECT_EQ(SampleAt(b, 0), 4410);
    EXPECT_EQ(audio.FeedInput(300), 300u);
    ASSERT_EQ(audio.waveInReset(handle), MMSYSERR_NOERROR);
    EXPECT_EQ(c.header.dwBytesRecorded, 400u);
    EXPECT_EQ(audio.InputBytesWaiting(), 0u);
    const auto events = log.Take();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].header, &b.header);
    EXPECT_EQ(events[1].header, &c.header);
}

TEST_F(SimulatedInput, CloseDropsQueuedBlocksAndFreesTheDevice) {
    ASSERT_EQ(audio.waveInAddBuffer(handle, &a.header), MMSYSERR_NOERROR);
    EXPECT_EQ(audio.waveInUnprepareHeader(handle, &a.header), WAVERR_STILLPLAYING);
    ASSERT_EQ(audio.waveInClose(handle), MMSYSERR_NOERROR);
    EXPECT_FALSE(a.header.dwFlags & WHDR_INQUEUE);
    EXPECT_TRUE(log.Take().empty());
    EXPECT_EQ(audio.waveInStart(handle), MMSYSERR_INVALHANDLE);
    HWAVEIN again = nullptr;
    EXPECT_EQ(audio.waveInOpen(&again, MakePcmFormat(2, 16), &log), MMSYSERR_NOERROR);
}

TEST(SimulatedFaults, PlannedFailuresStartAfterTheGivenNumberOfCalls) {
    SimulatedWaveAudio audio;
    EventLog log;
    audio.faults.inPrepare = {MMSYSERR_NOMEM, 1};
    HWAVEIN in = nullptr;
    ASSERT_EQ(audio.waveInOpen(&in, MakePcmFormat(1, 16), &log), MMSYSERR_NOERROR);
    Block first(100), second(100);
    EXPECT_EQ(audio.waveInPrepareHeader(in, &first.header), MMSYSERR_NOERROR);
    EXPECT_EQ(audio.waveInPrepareHeader(in, &second.header), MMSYSERR_NOMEM);
    EXPECT_EQ(audio.waveInPrepareHeader(in, &second.header), MMSYSERR_NOMEM);
    EXPECT_FALSE(second.header.dwFlags & WHDR_PREPARED);
    EXPECT_EQ(audio.CallCount("waveInPrepareHeader"), 3);
    EXPECT_EQ(audio.waveInGetErrorText(MMSYSERR_NOMEM), "Not enough memory for the audio device");

    audio.faults.inStart = {MMSYSERR_ERROR, 0};
    EXPECT_EQ(audio.waveInStart(in), MMSYSERR_ERROR);
    EXPECT_FALSE(audio.InputStarted());
    EXPECT_EQ(audio.waveInGetErrorText(MMSYSERR_ERROR), "The audio input device failed");
}

TEST(SimulatedFaults, MissingDevicesFailToOpenWithTheirOwnTexts) {
    SimulatedWaveAudio audio;
    audio.faults.outOpen = {MMSYSERR_NODRIVER, 0};
    audio.faults.inOpen = {MMSYSERR_NODRIVER, 0};
    HWAVEOUT out = nullptr;
    HWAVEIN in = nullptr;
    EXPECT_EQ(audio.waveOutOpen(&out, MakePcmFormat(1, 16), nullptr), MMSYSERR_NODRIVER);
    EXPECT_EQ(audio.waveInOpen(&in, MakePcmFormat(1, 16), nullptr), MMSYSERR_NODRIVER);
    EXPECT_FALSE(audio.OutputOpen());
    EXPECT_EQ(audio.waveOutGetErrorText(MMSYSERR_NODRIVER), "No audio output device");
    EXPECT_EQ(audio.waveInGetErrorText(MMSYSERR_NODRIVER), "No audio input device");
    EXPECT_EQ(audio.waveOutGetErrorText(WAVERR_BADFORMAT),
              "The audio device does not support this format");
    EXPECT_EQ(audio.waveOutGetErrorText(999), "Unknown audio device error 999");
    // The device is usable again once the fault is lifted.
    audio.faults.outOpen = {};
    EXPECT_EQ(audio.waveOutOpen(&out, MakePcmFormat(1, 16), nullptr), MMSYSERR_NOERROR);
}

TEST_F(SimulatedOutput, LostMessagesAndFailedPositionQueries) {
    audio.faults.outDoneNeverPosted = true;
    audio.faults.outGetPosition = {MMSYSERR_ERROR, 1};
    ASSERT_EQ(audio.waveOutWrite(handle, &block.header), MMSYSERR_NOERROR);
    MMTIME time;
    EXPECT_EQ(audio.waveOutGetPosition(handle, &time), MMSYSERR_NOERROR);
    audio.FinishOutput();
    EXPECT_EQ(audio.waveOutGetPosition(handle, &time), MMSYSERR_ERROR);
    EXPECT_EQ(audio.OutputPosition(), 44100u);
    // The block came back without a message; a reset has nothing left to return.
    EXPECT_EQ(audio.OutputBlock(), nullptr);
    ASSERT_EQ(audio.waveOutReset(handle), MMSYSERR_NOERROR);
    EXPECT_TRUE(log.Take().empty());
}

TEST_F(SimulatedInput, FilledBlocksCanBeLostWhileResetStillReturnsTheRest) {
    audio.faults.inDataNeverPosted = true;
    ASSERT_EQ(audio.waveInAddBuffer(handle, &a.header), MMSYSERR_NOERROR);
    ASSERT_EQ(audio.waveInAddBuffer(handle, &b.header), MMSYSERR_NOERROR);
    ASSERT_EQ(audio.waveInStart(handle), MMSYSERR_NOERROR);
    EXPECT_EQ(audio.FillInputBlocks(1), 1);
    EXPECT_TRUE(log.Take().empty());
    ASSERT_EQ(audio.waveInReset(handle), MMSYSERR_NOERROR);
    const auto events = log.Take();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].header, &b.header);
}

}  // namespace

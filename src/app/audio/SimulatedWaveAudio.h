// A waveform-audio device whose clock and input signal a test drives by hand, so that every
// state of the recording and playback engines can be reached deterministically. It keeps the
// semantics of the real back-end: one output block played from its start, capture blocks filled
// in the order queued, one posted event per finished or returned block, resets that return every
// queued block. Events are posted, never sent: they arrive through the event loop.
//
// One output and one input device can be open at a time; a second open returns
// MMSYSERR_ALLOCATED, so that a handle the program forgot to close shows up in tests.
#pragma once
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "audio/WaveAudio.h"

class SimulatedWaveAudio : public WaveAudio {
  public:
    // A planned failure of one call: the first `passFirst` calls succeed, every later one
    // returns `code` without any effect. MMSYSERR_NOERROR means the call never fails.
    struct Fault {
        MMRESULT code = MMSYSERR_NOERROR;
        int passFirst = 0;
    };
    // Planned failures, by call. The two flags lose messages instead of failing a call.
    struct Faults {
        Fault outOpen, outPrepare, outWrite, outGetPosition, outPause, outReset, outUnprepare,
            outClose;
        Fault inOpen, inPrepare, inAddBuffer, inStart, inReset, inUnprepare, inClose;
        bool outDoneNeverPosted = false;  // a block that plays to its end posts no MM_WOM_DONE
        bool inDataNeverPosted = false;   // filled capture blocks post no MM_WIM_DATA
    };
    // Writes `bytes` bytes of simulated input at `dst`; `byteOffset` counts the bytes delivered
    // since the device was opened, so a generator can produce one continuous signal.
    using InputGenerator = std::function<void(uint8_t* dst, uint32_t bytes, uint64_t byteOffset)>;

    Faults faults;

    // --- The test's controls ---

    // Moves the output clock by up to `bytes` (not while paused, not past the block's end) and
    // returns how far it moved. As on a sound card, what has been heard is whole frames of the
    // open format. Reaching the end finishes the block and posts MM_WOM_DONE; a block that ends
    // in part of a frame never reaches it.
    uint32_t AdvanceOutput(uint32_t bytes);
    // Plays the rest of the current block at once.
    void FinishOutput();
    // The source of capture bytes; silence (zero bytes) when none is set.
    void SetInputGenerator(InputGenerator generator);
    // The card delivers `bytes` capture bytes while capture runs (nothing otherwise). They go
    // into the queued blocks in order; each block that becomes full posts one MM_WIM_DATA.
    // Bytes for which no block is queued wait for the next waveInAddBuffer, as with the real
    // back-end; a reset puts what fits into the queued blocks and discards the rest. Returns the
    // bytes placed into blocks now.
    uint32_t FeedInput(uint32_t bytes);
    // Fills the next `count` queued blocks completely (the first one from where it stands), one
    // MM_WIM_DATA each. Returns how many were filled: fewer when fewer were queued or stopped.
    int FillInputBlocks(int count);

    // --- What the program did, for checks ---

    bool OutputOpen() const { return out_.open; }
    bool InputOpen() const { return in_.open; }
    bool OutputPaused() const { return outPaused_; }
    bool InputStarted() const { return inStarted_; }
    WAVEHDR* OutputBlock() const { return outBlock_; }  // the queued output block, or null
    uint32_t OutputPosition() const { return outPosition_; }
    std::vector<WAVEHDR*> QueuedInputBlocks() const { return {inQueue_.begin(), inQueue_.end()}; }
    int PreparedOutputHeaders() const { return static_cast<int>(out_.prepared.size()); }
    int PreparedInputHeaders() const { return static_cast<int>(in_.prepared.size()); }
    const WAVEFORMATEX& LastOutputFormat() const { return out_.format; }
    const WAVEFORMATEX& LastInputFormat() const { return in_.format; }
    uint64_t InputBytesDelivered() const { return inDelivered_; }  // into blocks, since open
    uint64_t InputBytesWaiting() const { return inWaiting_; }      // for a block to be queued
    // How often a call was made (failed calls included), e.g. CallCount("waveOutReset").
    int CallCount(const std::string& call) const;

    // --- WaveAudio ---

    MMRESULT waveOutOpen(HWAVEOUT* handle, const WAVEFORMATEX& format, QObject* notify) override;
    MMRESULT waveOutPrepareHeader(HWAVEOUT handle, WAVEHDR* header) override;
    MMRESULT waveOutWrite(HWAVEOUT handle, WAVEHDR* header) override;
    MMRESULT waveOutGetPosition(HWAVEOUT handle, MMTIME* time) override;
    MMRESULT waveOutPause(HWAVEOUT handle) override;
    MMRESULT waveOutReset(HWAVEOUT handle) override;
    MMRESULT waveOutUnprepareHeader(HWAVEOUT handle, WAVEHDR* header) override;
    MMRESULT waveOutClose(HWAVEOUT handle) override;

    MMRESULT waveInOpen(HWAVEIN* handle, const WAVEFORMATEX& format, QObject* notify) override;
    MMRESULT waveInPrepareHeader(HWAVEIN handle, WAVEHDR* header) override;
    MMRESULT waveInAddBuffer(HWAVEIN handle, WAVEHDR* header) override;
    MMRESULT waveInStart(HWAVEIN handle) override;
    MMRESULT waveInReset(HWAVEIN handle) override;
    MMRESULT waveInUnprepareHeader(HWAVEIN handle, WAVEHDR* header) override;
    MMRESULT waveInClose(HWAVEIN handle) override;

  private:
    // What the output device (Device = WaveOutDevice) and the input device (WaveInDevice) both
    // keep; the handle is the address of `device`.
    template <typename Device>
    struct Side {
        Device device;
        bool open = false;
        QObject* notify = nullptr;
        WAVEFORMATEX format;             // the last one opened
        std::vector<WAVEHDR*> prepared;  // headers prepared and not yet unprepared
    };

    // Counts the call and returns the planned failure for it, if this call is to fail.
    MMRESULT Planned(const char* call, const Fault& fault);
    // Counts the call; its planned failure, else MMSYSERR_INVALHANDLE for a handle that is not
    // the side's open device, else MMSYSERR_NOERROR.
    template <typename Device>
    MMRESULT Enter(const char* call, const Fault& fault, const Side<Device>& side,
                   const Device* handle);
    // The checks and bookkeeping of waveOutOpen and waveInOpen; the caller clears its own state.
    template <typename Device>
    MMRESULT Open(const char* call, const Fault& fault, Side<Device>& side, Device** handle,
                  const WAVEFORMATEX& format, QObject* notify);
    void FinishOutputBlock();
    uint32_t DeliverWaitingInput();
    // The front capture block is full: it leaves the queue marked done, with its MM_WIM_DATA
    // unless that is planned away.
    void ReturnFullInputBlock();

    std::map<std::string, int> calls_;

    Side<WaveOutDevice> out_;
    WAVEHDR* outBlock_ = nullptr;
    uint32_t outPosition_ = 0;
    bool outPaused_ = false;

    Side<WaveInDevice> in_;
    std::deque<WAVEHDR*> inQueue_;
    bool inStarted_ = false;
    uint64_t inDelivered_ = 0;
    uint64_t inWaiting_ = 0;
    InputGenerator generator_;
};

#include "audio/SimulatedWaveAudio.h"

#include <algorithm>
#include <cstring>

#include "audio/WaveSupport.h"

namespace {

// The header rules of the real back-end, plus a record of what is prepared for the checks.
MMRESULT PrepareInto(std::vector<WAVEHDR*>& prepared, WAVEHDR* header) {
    if (MMRESULT r = PrepareHeader(header)) return r;
    if (std::find(prepared.begin(), prepared.end(), header) == prepared.end())
        prepared.push_back(header);
    return MMSYSERR_NOERROR;
}

MMRESULT UnprepareFrom(std::vector<WAVEHDR*>& prepared, WAVEHDR* header) {
    if (MMRESULT r = UnprepareHeader(header)) return r;
    std::erase(prepared, header);
    return MMSYSERR_NOERROR;
}

}  // namespace

MMRESULT SimulatedWaveAudio::Planned(const char* call, const Fault& fault) {
    const int made = calls_[call]++;
    return (fault.code != MMSYSERR_NOERROR && made >= fault.passFirst) ? fault.code
                                                                       : MMSYSERR_NOERROR;
}

int SimulatedWaveAudio::CallCount(const std::string& call) const {
    const auto it = calls_.find(call);
    return it == calls_.end() ? 0 : it->second;
}

template <typename Device>
MMRESULT SimulatedWaveAudio::Enter(const char* call, const Fault& fault, const Side<Device>& side,
                                   const Device* handle) {
    if (MMRESULT r = Planned(call, fault)) return r;
    return (side.open && handle == &side.device) ? MMSYSERR_NOERROR : MMSYSERR_INVALHANDLE;
}

template <typename Device>
MMRESULT SimulatedWaveAudio::Open(const char* call, const Fault& fault, Side<Device>& side,
                                  Device** handle, const WAVEFORMATEX& format, QObject* notify) {
    if (MMRESULT r = Planned(call, fault)) return r;
    if (handle == nullptr) return MMSYSERR_INVALPARAM;
    *handle = nullptr;
    if (side.open) return MMSYSERR_ALLOCATED;
    if (!IsSupportedPcm(format)) return WAVERR_BADFORMAT;
    side.open = true;
    side.notify = notify;
    side.format = format;
    *handle = &side.device;
    return MMSYSERR_NOERROR;
}

// ---- Output ----

MMRESULT SimulatedWaveAudio::waveOutOpen(HWAVEOUT* handle, const WAVEFORMATEX& format,
                                         QObject* notify) {
    if (MMRESULT r = Open("waveOutOpen", faults.outOpen, out_, handle, format, notify)) return r;
    outBlock_ = nullptr;
    outPosition_ = 0;
    outPaused_ = false;
    return MMSYSERR_NOERROR;
}

MMRESULT SimulatedWaveAudio::waveOutPrepareHeader(HWAVEOUT handle, WAVEHDR* header) {
    if (MMRESULT r = Enter("waveOutPrepareHeader", faults.outPrepare, out_, handle)) return r;
    return PrepareInto(out_.prepared, header);
}

MMRESULT SimulatedWaveAudio::waveOutWrite(HWAVEOUT handle, WAVEHDR* header) {
    if (MMRESULT r = Enter("waveOutWrite", faults.outWrite, out_, handle)) return r;
    if (MMRESULT r = CheckBlock(header)) return r;
    if (outBlock_ != nullptr) return WAVERR_STILLPLAYING;
    header->dwFlags = (header->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
    outBlock_ = header;
    outPosition_ = 0;
    if (header->dwBufferLength == 0) FinishOutputBlock();
    return MMSYSERR_NOERROR;
}

MMRESULT SimulatedWaveAudio::waveOutGetPosition(HWAVEOUT handle, MMTIME* time) {
    if (MMRESULT r = Enter("waveOutGetPosition", faults.outGetPosition, out_, handle)) return r;
    if (time == nullptr) return MMSYSERR_INVALPARAM;
    time->wType = TIME_BYTES;
    time->cb = outPosition_;
    return MMSYSERR_NOERROR;
}

MMRESULT SimulatedWaveAudio::waveOutPause(HWAVEOUT handle) {
    if (MMRESULT r = Enter("waveOutPause", faults.outPause, out_, handle)) return r;
    outPaused_ = true;
    return MMSYSERR_NOERROR;
}

MMRESULT SimulatedWaveAudio::waveOutReset(HWAVEOUT handle) {
    if (MMRESULT r = Enter("waveOutReset", faults.outReset, out_, handle)) return r;
    WAVEHDR* queued = outBlock_;
    outBlock_ = nullptr;
    outPosition_ = 0;
    outPaused_ = false;
    if (queued != nullptr) {
        MarkDone(queued);
        PostWaveEvent(out_.notify, MM_WOM_DONE, queued);
    }
    return MMSYSERR_NOERROR;
}

MMRESULT SimulatedWaveAudio::waveOutUnprepareHeader(HWAVEOUT handle, WAVEHDR* header) {
    if (MMRESULT r = Enter("waveOutUnprepareHeader", faults.outUnprepare, out_, handle)) return r;
    return UnprepareFrom(out_.prepared, header);
}

MMRESULT SimulatedWaveAudio::waveOutClose(HWAVEOUT handle) {
    if (MMRESULT r = Enter("waveOutClose", faults.outClose, out_, handle)) return r;
    // As on the real device, a block still queued is dropped without a message.
    if (outBlock_ != nullptr) outBlock_->dwFlags &= ~WHDR_INQUEUE;
    outBlock_ = nullptr;
    out_.open = false;
    out_.notify = nullptr;
    outPaused_ = false;
    return MMSYSERR_NOERROR;
}

uint32_t SimulatedWaveAudio::AdvanceOutput(uint32_t bytes) {
    if (!out_.open || outBlock_ == nullptr || outPaused_) return 0;
    const uint32_t frame = std::max<uint32_t>(1, out_.format.nBlockAlign);
    uint32_t heard = outPosition_ + std::min(bytes, outBlock_->dwBufferLength - outPosition_);
    heard -= heard % frame;
    const uint32_t moved = heard - outPosition_;
    outPosition_ = heard;
    if (outPosition_ == outBlock_->dwBufferLength) FinishOutputBlock();
    return moved;
}

void SimulatedWaveAudio::FinishOutput() {
    if (outBlock_ != nullptr) AdvanceOutput(outBlock_->dwBufferLength - outPosition_);
}

void SimulatedWaveAudio::FinishOutputBlock() {
    WAVEHDR* done = outBlock_;
    outBlock_ = nullptr;
    outPosition_ = done->dwBufferLength;
    MarkDone(done);
    if (!faults.outDoneNeverPosted) PostWaveEvent(out_.notify, MM_WOM_DONE, done);
}

// ---- Input ----

MMRESULT SimulatedWaveAudio::waveInOpen(HWAVEIN* handle, const WAVEFORMATEX& format,
                                        QObject* notify) {
    if (MMRESULT r = Open("waveInOpen", faults.inOpen, in_, handle, format, notify)) return r;
    inQueue_.clear();
    inStarted_ = false;
    inDelivered_ = 0;
    inWaiting_ = 0;
    return MMSYSERR_NOERROR;
}

MMRESULT SimulatedWaveAudio::waveInPrepareHeader(HWAVEIN handle, WAVEHDR* header) {
    if (MMRESULT r = Enter("waveInPrepareHeader", faults.inPrepare, in_, handle)) return r;
    return PrepareInto(in_.prepared, header);
}

MMRESULT SimulatedWaveAudio::waveInAddBuffer(HWAVEIN handle, WAVEHDR* header) {
    if (MMRESULT r = Enter("waveInAddBuffer", faults.inAddBuffer, in_, handle)) return r;
    if (MMRESULT r = CheckBlock(header)) return r;
    if (std::find(inQueue_.begin(), inQueue_.end(), header) != inQueue_.end())
        return WAVERR_STILLPLAYING;
    header->dwBytesRecorded = 0;
    header->dwFlags = (header->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
    inQueue_.push_back(header);
    DeliverWaitingInput();
    return MMSYSERR_NOERROR;
}

MMRESULT SimulatedWaveAudio::waveInStart(HWAVEIN handle) {
    if (MMRESULT r = Enter("waveInStart", faults.inStart, in_, handle)) return r;
    inStarted_ = true;
    return MMSYSERR_NOERROR;
}

MMRESULT SimulatedWaveAudio::waveInReset(HWAVEIN handle) {
    if (MMRESULT r = Enter("waveInReset", faults.inReset, in_, handle)) return r;
    DeliverWaitingInput();
    inWaiting_ = 0;
    inStarted_ = false;
    ReturnQueued(inQueue_, in_.notify);
    return MMSYSERR_NOERROR;
}

MMRESULT SimulatedWaveAudio::waveInUnprepareHeader(HWAVEIN handle, WAVEHDR* header) {
    if (MMRESULT r = Enter("waveInUnprepareHeader", faults.inUnprepare, in_, handle)) return r;
    return UnprepareFrom(in_.prepared, header);
}

MMRESULT SimulatedWaveAudio::waveInClose(HWAVEIN handle) {
    if (MMRESULT r = Enter("waveInClose", faults.inClose, in_, handle)) return r;
    // As on the real device, blocks still queued are dropped without a message.
    for (WAVEHDR* header : inQueue_) header->dwFlags &= ~WHDR_INQUEUE;
    inQueue_.clear();
    inWaiting_ = 0;
    in_.open = false;
    inStarted_ = false;
    in_.notify = nullptr;
    return MMSYSERR_NOERROR;
}

void SimulatedWaveAudio::SetInputGenerator(InputGenerator generator) {
    generator_ = std::move(generator);
}

uint32_t SimulatedWaveAudio::FeedInput(uint32_t bytes) {
    if (!in_.open || !inStarted_) return 0;
    inWaiting_ += bytes;
    return DeliverWaitingInput();
}

uint32_t SimulatedWaveAudio::DeliverWaitingInput() {
    uint32_t placed = 0;
    while (inWaiting_ > 0 && !inQueue_.empty()) {
        WAVEHDR* header = inQueue_.front();
        const uint32_t n = static_cast<uint32_t>(
            std::min<uint64_t>(inWaiting_, header->dwBufferLength - header->dwBytesRecorded));
        uint8_t* dst = reinterpret_cast<uint8_t*>(header->lpData) + header->dwBytesRecorded;
        if (generator_) {
            generator_(dst, n, inDelivered_);
        } else {
            std::memset(dst, 0, n);
        }
        header->dwBytesRecorded += n;
        inDelivered_ += n;
        inWaiting_ -= n;
        placed += n;
        if (header->dwBytesRecorded == header->dwBufferLength) ReturnFullInputBlock();
    }
    return placed;
}

void SimulatedWaveAudio::ReturnFullInputBlock() {
    WAVEHDR* header = inQueue_.front();
    inQueue_.pop_front();
    MarkDone(header);
    if (!faults.inDataNeverPosted) PostWaveEvent(in_.notify, MM_WIM_DATA, header);
}

int SimulatedWaveAudio::FillInputBlocks(int count) {
    int filled = 0;
    while (filled < count && in_.open && inStarted_ && !inQueue_.empty()) {
        const WAVEHDR* header = inQueue_.front();
        const uint32_t room = header->dwBufferLength - header->dwBytesRecorded;
        if (room == 0) {
            ReturnFullInputBlock();  // an empty block is full at once
        } else {
            FeedInput(room);
        }
        ++filled;
    }
    return filled;
}

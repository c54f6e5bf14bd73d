#include "audio/SimulatedWaveAudio.h"

#include <algorithm>
#include <cstring>

#include "audio/WaveSupport.h"

namespace {

void MarkDone(WAVEHDR* header) { header->dwFlags = (header->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE; }

void Forget(std::vector<WAVEHDR*>& headers, const WAVEHDR* header) { std::erase(headers, header); }

MMRESULT PrepareInto(std::vector<WAVEHDR*>& prepared, WAVEHDR* header) {
    if (header == nullptr || (header->lpData == nullptr && header->dwBufferLength > 0))
        return MMSYSERR_INVALPARAM;
    header->dwFlags |= WHDR_PREPARED;
    if (std::find(prepared.begin(), prepared.end(), header) == prepared.end())
        prepared.push_back(header);
    return MMSYSERR_NOERROR;
}

MMRESULT UnprepareFrom(std::vector<WAVEHDR*>& prepared, WAVEHDR* header) {
    if (header == nullptr) return MMSYSERR_INVALPARAM;
    if (header->dwFlags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
    header->dwFlags &= ~WHDR_PREPARED;
    Forget(prepared, header);
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

MMRESULT SimulatedWaveAudio::CheckOut(HWAVEOUT handle) const {
    return (outOpen_ && handle == &outDevice_) ? MMSYSERR_NOERROR : MMSYSERR_INVALHANDLE;
}

MMRESULT SimulatedWaveAudio::CheckIn(HWAVEIN handle) const {
    return (inOpen_ && handle == &inDevice_) ? MMSYSERR_NOERROR : MMSYSERR_INVALHANDLE;
}

// ---- Output ----

MMRESULT SimulatedWaveAudio::waveOutOpen(HWAVEOUT* handle, const WAVEFORMATEX& format,
                                         QObject* notify) {
    if (MMRESULT r = Planned("waveOutOpen", faults.outOpen)) return r;
    if (handle == nullptr) return MMSYSERR_INVALPARAM;
    *handle = nullptr;
    if (outOpen_) return MMSYSERR_ALLOCATED;
    if (!IsSupportedPcm(format)) return WAVERR_BADFORMAT;
    outOpen_ = true;
    outNotify_ = notify;
    outFormat_ = format;
    outBlock_ = nullptr;
    outPosition_ = 0;
    outPaused_ = false;
    *handle = &outDevice_;
    return MMSYSERR_NOERROR;
}

MMRESULT SimulatedWaveAudio::waveOutPrepareHeader(HWAVEOUT handle, WAVEHDR* header) {
    if (MMRESULT r = Planned("waveOutPrepareHeader", faults.outPrepare)) return r;
    if (MMRESULT r = CheckOut(handle)) return r;
    return PrepareInto(outPrepared_, header);
}

MMRESULT SimulatedWaveAudio::waveOutWrite(HWAVEOUT handle, WAVEHDR* header) {
    if (MMRESULT r = Planned("waveOutWrite", faults.outWrite)) return r;
    if (MMRESULT r = CheckOut(handle)) return r;
    if (header == nullptr) return MMSYSERR_INVALPARAM;
    if (!(header->dwFlags & WHDR_PREPARED)) return WAVERR_UNPREPARED;
    if (outBlock_ != nullptr) return WAVERR_STILLPLAYING;
    header->dwFlags = (header->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
    outBlock_ = header;
    outPosition_ = 0;
    if (header->dwBufferLength == 0) FinishOutputBlock();
    return MMSYSERR_NOERROR;
}

MMRESULT SimulatedWaveAudio::waveOutGetPosition(HWAVEOUT handle, MMTIME* time) {
    if (MMRESULT r = Planned("waveOutGetPosition", faults.outGetPosition)) return r;
    if (MMRESULT r = CheckOut(handle)) return r;
    if (time == nullptr) return MMSYSERR_INVALPARAM;
    time->wType = TIME_BYTES;
    time->cb = outPosition_;
    return MMSYSERR_NOERROR;
}

MMRESULT SimulatedWaveAudio::waveOutPause(HWAVEOUT handle) {
    if (MMRESULT r = Planned("waveOutPause", faults.outPause)) return r;
    if (MMRESULT r = CheckOut(handle)) return r;
    outPaused_ = true;
    return MMSYSERR_NOERROR;
}

MMRESULT SimulatedWaveAudio::waveOutReset(HWAVEOUT handle) {
    if (MMRESULT r = Planned("waveOutReset", faults.outReset)) return r;
    if (MMRESULT r = CheckOut(handle)) return r;
    WAVEHDR* queued = outBlock_;
    outBlock_ = nullptr;
    outPosition_ = 0;
    outPaused_ = false;
    if (queued != nullptr) {
        MarkDone(queued);
        PostWaveEvent(outNotify_, MM_WOM_DONE, queued);
    }
    return MMSYSERR_NOERROR;
}

MMRESULT SimulatedWaveAudio::waveOutUnprepareHeader(HWAVEOUT handle, WAVEHDR* header) {
    if (MMRESULT r = Planned("waveOutUnprepareHeader", faults.outUnprepare)) return r;
    if (MMRESULT r = CheckOut(handle)) return r;
    return UnprepareFrom(outPrepared_, header);
}

MMRESULT SimulatedWaveAudio::waveOutClose(HWAVEOUT handle) {
    if (MMRESULT r = Planned("waveOutClose", faults.outClose)) return r;
    if (MMRESULT r = CheckOut(handle)) return r;
    // As on the real device, a block still queued is dropped without a message.
    if (outBlock_ != nullptr) outBlock_->dwFlags &= ~WHDR_INQUEUE;
    outBlock_ = nullptr;
    outOpen_ = false;
    outNotify_ = nullptr;
    outPaused_ = false;
    return MMSYSERR_NOERROR;
}

std::string SimulatedWaveAudio::waveOutGetErrorText(MMRESULT code) {
    return WaveErrorText(code, false);
}

uint32_t SimulatedWaveAudio::AdvanceOutput(uint32_t bytes) {
    if (!outOpen_ || outBlock_ == nullptr || outPaused_) return 0;
    const uint32_t moved = std::min(bytes, outBlock_->dwBufferLength - outPosition_);
    outPosition_ += moved;
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
    if (!faults.outDoneNeverPosted) PostWaveEvent(outNotify_, MM_WOM_DONE, done);
}

// ---- Input ----

MMRESULT SimulatedWaveAudio::waveInOpen(HWAVEIN* handle, const WAVEFORMATEX& format,
                                        QObject* notify) {
    if (MMRESULT r = Planned("waveInOpen", faults.inOpen)) return r;
    if (handle == nullptr) return MMSYSERR_INVALPARAM;
    *handle = nullptr;
    if (inOpen_) return MMSYSERR_ALLOCATED;
    if (!IsSupportedPcm(format)) return WAVERR_BADFORMAT;
    inOpen_ = true;
    inNotify_ = notify;
    inFormat_ = format;
    inQueue_.clear();
    inStarted_ = false;
    inDelivered_ = 0;
    inWaiting_ = 0;
    *handle = &inDevice_;
    return MMSYSERR_NOERROR;
}

MMRESULT SimulatedWaveAudio::waveInPrepareHeader(HWAVEIN handle, WAVEHDR* header) {
    if (MMRESULT r = Planned("waveInPrepareHeader", faults.inPrepare)) return r;
    if (MMRESULT r = CheckIn(handle)) return r;
    return PrepareInto(inPrepared_, header);
}

MMRESULT SimulatedWaveAudio::waveInAddBuffer(HWAVEIN handle, WAVEHDR* header) {
    if (MMRESULT r = Planned("waveInAddBuffer", faults.inAddBuffer)) return r;
    if (MMRESULT r = CheckIn(handle)) return r;
    if (header == nullptr) return MMSYSERR_INVALPARAM;
    if (!(header->dwFlags & WHDR_PREPARED)) return WAVERR_UNPREPARED;
    if (std::find(inQueue_.begin(), inQueue_.end(), header) != inQueue_.end())
        return WAVERR_STILLPLAYING;
    header->dwBytesRecorded = 0;
    header->dwFlags = (header->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
    inQueue_.push_back(header);
    DeliverWaitingInput();
    return MMSYSERR_NOERROR;
}

MMRESULT SimulatedWaveAudio::waveInStart(HWAVEIN handle) {
    if (MMRESULT r = Planned("waveInStart", faults.inStart)) return r;
    if (MMRESULT r = CheckIn(handle)) return r;
    inStarted_ = true;
    return MMSYSERR_NOERROR;
}

MMRESULT SimulatedWaveAudio::waveInReset(HWAVEIN handle) {
    if (MMRESULT r = Planned("waveInReset", faults.inReset)) return r;
    if (MMRESULT r = CheckIn(handle)) return r;
    DeliverWaitingInput();
    inWaiting_ = 0;
    inStarted_ = false;
    while (!inQueue_.empty()) {
        WAVEHDR* header = inQueue_.front();
        inQueue_.pop_front();
        MarkDone(header);
        PostWaveEvent(inNotify_, MM_WIM_DATA, header);
    }
    return MMSYSERR_NOERROR;
}

MMRESULT SimulatedWaveAudio::waveInUnprepareHeader(HWAVEIN handle, WAVEHDR* header) {
    if (MMRESULT r = Planned("waveInUnprepareHeader", faults.inUnprepare)) return r;
    if (MMRESULT r = CheckIn(handle)) return r;
    return UnprepareFrom(inPrepared_, header);
}

MMRESULT SimulatedWaveAudio::waveInClose(HWAVEIN handle) {
    if (MMRESULT r = Planned("waveInClose", faults.inClose)) return r;
    if (MMRESULT r = CheckIn(handle)) return r;
    // As on the real device, blocks still queued are dropped without a message.
    for (WAVEHDR* header : inQueue_) header->dwFlags &= ~WHDR_INQUEUE;
    inQueue_.clear();
    inWaiting_ = 0;
    inOpen_ = false;
    inStarted_ = false;
    inNotify_ = nullptr;
    return MMSYSERR_NOERROR;
}

std::string SimulatedWaveAudio::waveInGetErrorText(MMRESULT code) {
    return WaveErrorText(code, true);
}

void SimulatedWaveAudio::SetInputGenerator(InputGenerator generator) {
    generator_ = std::move(generator);
}

uint32_t SimulatedWaveAudio::FeedInput(uint32_t bytes) {
    if (!inOpen_ || !inStarted_) return 0;
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
        if (header->dwBytesRecorded == header->dwBufferLength) {
            inQueue_.pop_front();
            MarkDone(header);
            if (!faults.inDataNeverPosted) PostWaveEvent(inNotify_, MM_WIM_DATA, header);
        }
    }
    return placed;
}

int SimulatedWaveAudio::FillInputBlocks(int count) {
    int filled = 0;
    while (filled < count && inOpen_ && inStarted_ && !inQueue_.empty()) {
        WAVEHDR* header = inQueue_.front();
        const uint32_t room = header->dwBufferLength - header->dwBytesRecorded;
        if (room == 0) {
            // An empty block is full at once.
            inQueue_.pop_front();
            MarkDone(header);
            if (!faults.inDataNeverPosted) PostWaveEvent(inNotify_, MM_WIM_DATA, header);
        } else {
            FeedInput(room);
        }
        ++filled;
    }
    return filled;
}

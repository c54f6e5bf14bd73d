// The recording engine: two circulating capture blocks of 0.1 s, the live analysis of every
// second block, the growing recording and its take, and the hand-over of the recording as the
// held sound.
#include <QTimer>
#include <algorithm>
#include <cstring>

#include "common/Blocks.h"
#include "common/Round.h"
#include "form/TFormMain.h"
#include "views/ScaleGeometry.h"

using namespace sonabi;

namespace {

// How long a stop waits for the device to hand back its blocks (ms). Both back-ends return them
// at once; a device that loses them must not leave the engine waiting for ever.
constexpr int kStopWaitMs = 1000;

// The rest of a stop, as if the blocks still missing had come back: the recording so far becomes
// the held sound, then the engine is idle. Block messages that arrive later find it idle.
void FinishStopNow(TFormMain& form) {
    if (!form.StopRequested) return;
    if (!form.StopFinished) form.OnWaveInData(nullptr);
    form.OnWaveInData(nullptr);
}

// The capture device gave up: a block came back unfilled while recording (a sound server that
// went away), a block could not be handed back, or the stop's reset failed. The recording ends
// as a stop ends it, keeping what was recorded, and the device's text says why.
void EndFailedCapture(TFormMain& form, MMRESULT code) {
    if (!form.StopRequested) {
        form.Recording = false;
        form.StopRequested = true;
        form.Audio->waveInReset(form.WaveInHandle);
        form.CloseCapture();
        form.WaveDataHeld = true;
    }
    FinishStopNow(form);
    form.ShowMessage(QString::fromStdString(form.Audio->waveInGetErrorText(code)), "ERROR");
}

// The window's single-shot timer that ends a stop whose blocks never came back.
QTimer* StopWatchdog(TFormMain& form) {
    auto* timer = form.findChild<QTimer*>("StopWatchdog", Qt::FindDirectChildrenOnly);
    if (timer) return timer;
    timer = new QTimer(&form);
    timer->setObjectName("StopWatchdog");
    timer->setSingleShot(true);
    timer->setInterval(kStopWaitMs);
    QObject::connect(timer, &QTimer::timeout, &form, [&form] {
        if (!form.StopRequested || form.Closing) return;
        // Nothing came back at all: the device lost the recording's last blocks. When only the
        // second message is missing, the recording was handed over whole and nothing is said.
        const bool nothingCame = !form.StopFinished;
        FinishStopNow(form);
        if (nothingCame)
            form.ShowMessage(QString::fromStdString(form.Audio->waveInGetErrorText(MMSYSERR_ERROR)),
                             "ERROR");
    });
    return timer;
}

}  // namespace

void TFormMain::RecButtonClick() { ToggleRecording(); }

void TFormMain::ToggleRecording() {
    if (Playing) return;
    if (Recording) {
        Recording = false;
        StopRequested = true;
        const MMRESULT reset = Audio->waveInReset(WaveInHandle);
        CloseCapture();
        WaveDataHeld = true;
        // The returned blocks finish the stop; a reset that failed returns none.
        if (reset != MMSYSERR_NOERROR)
            EndFailedCapture(*this, reset);
        else
            StopWatchdog(*this)->start();
        return;
    }
    if (StopRequested) return;  // the last recording is still being handed over
    if (Closing) return;        // a click that waited behind the window's close

    // A start that fails must leave the user's sound as it was, so it is lifted out, not released;
    // and the view with it: the analysis settings, the play position bar and the voiceprint.
    ParkedSound kept = TakeHeldSound();
    const struct {
        uint32_t fftSize;
        int fftSizeExponent, timeGridFineMs, freqMax, freqPosition;
        double frequencySpan, peakThreshold;
        bool harmonicsFromAnalysis;
        uint32_t barMax, barPosition;
    } view{FftSize,
           FftSizeExponent,
           TimeGridFineMs,
           freq->maximum(),
           freq->Position(),
           FrequencySpan,
           PeakThreshold,
           HarmonicsFromAnalysis,
           PlayScrollBar->Max(),
           PlayScrollBar->Position()};

    RecordedBytes = 0;
    RecordCapacity = 44100 * 180;
    blocks::Release(RecordBuffer);
    StopRequested = false;
    CaptureRunning = true;
    Recording = true;
    HarmonicsFromAnalysis = true;
    CaptureOpen = true;
    SynthActive = false;
    RecButton->setText(QString::fromUtf8("録音停止"));
    RecButton->hide();
    CurBits = 16, CurRate = 44100, CurChannels = RadioGroupchan->ItemIndex() + 1;
    DataBits = CurBits, DataRate = CurRate, DataChannels = CurChannels;
    DataFormatTag = WAVE_FORMAT_PCM;
    TimeGridFineMs = 5;
    ResetFftParameters();
    PeakThreshold = 5.0;
    FillWaveFormat();
    WaveDataSize = static_cast<uint32_t>(Round(WaveFormat.nAvgBytesPerSec * CaptureBlockSeconds));
    PlayScrollBar->SetMax(RecordCapacity);
    if (OpenCapture(WaveDataSize) && StartCapture()) {
        // Cleared only now, so that a failed start keeps the history. No block has been
        // handled yet: they arrive as posted events.
        ResetVoiceprint();
        StartTake();
        HeldFrom = HeldSource::Recording;
        RecButton->show();
        // The user's sound (behind a mixer tone, if one was held) is replaced by the recording.
        ReleaseSound(kept.synthActive ? kept.savedData : kept.data);
        if (kept.synthActive) SavedWaveData = nullptr;
        blocks::ReleaseArray(kept.header);
        return;
    }

    // The device could not be started: back to idle with everything as it was before the press.
    blocks::Release(WaveData);
    blocks::ReleaseArray(WaveHeader);
    ReleaseCaptureBlock2();
    Recording = CaptureRunning = CaptureOpen = false;
    WaveInHandle = nullptr;
    RestoreHeldSound(kept);
    FftSize = view.fftSize, FftSizeExponent = view.fftSizeExponent;
    TimeGridFineMs = view.timeGridFineMs;
    FrequencySpan = view.frequencySpan, PeakThreshold = view.peakThreshold;
    HarmonicsFromAnalysis = view.harmonicsFromAnalysis;
    freq->setMaximum(view.freqMax);
    freq->SetPosition(view.freqPosition);
    PlayScrollBar->SetMax(view.barMax);
    PlayScrollBar->SetPosition(view.barPosition);
    RecButton->setText(QString::fromUtf8("録音"));
    RecButton->show();
    // Nothing was drawn since the press: the views still show the window they showed.
}

bool TFormMain::OpenCapture(uint32_t size) {
    WaveData = blocks::Allocate(size);
    CaptureBuffer2 = blocks::Allocate(size);
    if (!WaveData || !CaptureBuffer2) {
        ShowMessage("No pwavedata", "ERROR");
        blocks::Release(WaveData);
        blocks::Release(CaptureBuffer2);
        return false;
    }
    WaveHeader = blocks::AllocateArray<WAVEHDR>(1);
    WaveHeader2 = blocks::AllocateArray<WAVEHDR>(1);
    if (!WaveHeader || !WaveHeader2) {
        ShowMessage("No pwaveheader", "ERROR");
        blocks::ReleaseArray(WaveHeader);
        blocks::ReleaseArray(WaveHeader2);
        blocks::Release(WaveData);
        blocks::Release(CaptureBuffer2);
        return false;
    }
    MMRESULT result = Audio->waveInOpen(&WaveInHandle, WaveFormat, this);
    int prepared = 0;
    if (result == MMSYSERR_NOERROR) {
        *WaveHeader = WAVEHDR{};
        *WaveHeader2 = WAVEHDR{};
        WaveHeader->lpData = reinterpret_cast<char*>(WaveData);
        WaveHeader2->lpData = reinterpret_cast<char*>(CaptureBuffer2);
        WaveHeader->dwBufferLength = WaveHeader2->dwBufferLength = size;
        for (WAVEHDR* h : {WaveHeader, WaveHeader2}) {
            if ((result = Audio->waveInPrepareHeader(WaveInHandle, h)) != MMSYSERR_NOERROR) break;
            ++prepared;
        }
        if (result == MMSYSERR_NOERROR)
            for (WAVEHDR* h : {WaveHeader, WaveHeader2})
                if ((result = Audio->waveInAddBuffer(WaveInHandle, h)) != MMSYSERR_NOERROR) break;
        if (result == MMSYSERR_NOERROR) return true;
    }
    // The blocks the reset returns belong to no recording.
    CaptureRunning = false;
    ShowMessage(QString::fromStdString(Audio->waveInGetErrorText(result)), "ERROR");
    if (WaveInHandle) {
        Audio->waveInReset(WaveInHandle);
        if (prepared > 0) Audio->waveInUnprepareHeader(WaveInHandle, WaveHeader);
        if (prepared > 1) Audio->waveInUnprepareHeader(WaveInHandle, WaveHeader2);
        Audio->waveInClose(WaveInHandle);
    }
    WaveInHandle = nullptr;
    ReleaseCaptureBlock2();
    return false;
}

bool TFormMain::StartCapture() {
    const MMRESULT result = Audio->waveInStart(WaveInHandle);
    if (result == MMSYSERR_NOERROR) return true;
    CaptureRunning = false;  // the blocks the reset returns belong to no recording
    ShowMessage(QString::fromStdString(Audio->waveInGetErrorText(result)), "ERROR");
    Audio->waveInReset(WaveInHandle);
    Audio->waveInUnprepareHeader(WaveInHandle, WaveHeader);
    Audio->waveInUnprepareHeader(WaveInHandle, WaveHeader2);
    Audio->waveInClose(WaveInHandle);
    WaveInHandle = nullptr;
    ReleaseCaptureBlock2();
    return false;
}

void TFormMain::ReleaseCaptureBlock2() {
    blocks::Release(CaptureBuffer2);
    blocks::ReleaseArray(WaveHeader2);
}

void TFormMain::CloseCapture() {
    // The engine's state is settled before the device is closed: closing may deliver the
    // messages of the returned blocks at once (Qt's audio source runs the event loop then).
    HWAVEIN handle = WaveInHandle;
    const bool stopping = StopRequested;
    WaveInHandle = nullptr;
    CaptureOpen = false;
    if (handle) {
        Audio->waveInUnprepareHeader(handle, WaveHeader);
        if (stopping) Audio->waveInUnprepareHeader(handle, WaveHeader2);
    }
    if (stopping) CaptureRunning = false;
    if (handle) Audio->waveInClose(handle);
    // Only after the close: a device whose reset failed still holds the block and lets go of
    // it while closing.
    if (stopping) ReleaseCaptureBlock2();
}

void TFormMain::OnWaveInData(WAVEHDR* header) {
    if (StopRequested && StopFinished) {
        StopFinished = false;
        StopRequested = false;
        return;
    }
    if (StopRequested && !StopFinished) {
        // Set first: a message box below must not let the second message finish again.
        StopFinished = true;
        if (RecordBuffer && RecordedBytes > 0) {
            blocks::Release(WaveData);
            WaveData = RecordBuffer;
            WaveDataSize = RecordedBytes;
        } else {
            // Stopped before the first block arrived: the first capture block (4410 frames)
            // becomes one window of silence, so there is always a sound to show and play.
            blocks::Release(RecordBuffer);
            WaveDataSize = std::min<uint32_t>(WaveFormat.nBlockAlign * 2048u, WaveDataSize);
            if (WaveData) std::memset(WaveData, 0, WaveDataSize);
        }
        RecordBuffer = nullptr;
        FinishTake();
        if (!WaveHeader) WaveHeader = blocks::AllocateArray<WAVEHDR>(1);
        WaveDataHeld = WaveData != nullptr;
        RecButton->show();
        Recording = false;
        RecButton->setText(QString::fromUtf8("録音"));
        ResetView();
        ViewOffset = LastWindowStart(WaveDataSize, WaveFormat.nBlockAlign, FftSize);
        FullRefresh();
        ViewOffset = 0;
        return;
    }
    if (!CaptureRunning || !header) return;
    // Only a stop hands blocks back unfilled: one that comes back short now means the device
    // gave up.
    if (header->dwBytesRecorded < header->dwBufferLength) {
        EndFailedCapture(*this, MMSYSERR_ERROR);
        return;
    }
    if (header == WaveHeader)
        LiveRefresh(FftSize, reinterpret_cast<uint8_t*>(header->lpData), PaintBoxFft, PaintBoxGra,
                    WaveFormat.wBitsPerSample, WaveFormat.nChannels, 0);
    // A full block's bytes go after what is recorded (the buffer starts afresh once full), and
    // to the take, which keeps everything however long the recording runs.
    auto keep = [this](const WAVEHDR* block) {
        AppendTake(reinterpret_cast<const uint8_t*>(block->lpData), WaveDataSize);
        bool append = true;
        if (RecordedBytes == 0 || RecordedBytes >= RecordCapacity) {
            RecordedBytes = 0;
            if (!RecordBuffer) RecordBuffer = blocks::Allocate(RecordCapacity);
            if (!RecordBuffer) {
                ShowMessage("No pwavedata[0]", "ERROR");
                append = false;
            }
        }
        if (append && RecordedBytes + WaveDataSize <= RecordCapacity) {
            std::memcpy(RecordBuffer + RecordedBytes, block->lpData, WaveDataSize);
            RecordedBytes += WaveDataSize;
            PlayScrollBar->SetPosition(RecordedBytes);
        }
    };
    keep(header);
    // A message box above may have let the stop press run: only a running capture takes blocks.
    if (CaptureRunning && WaveInHandle) {
        const MMRESULT result = Audio->waveInAddBuffer(WaveInHandle, header);
        // A block the device refuses would be missing at the stop, which would wait for it.
        if (result != MMSYSERR_NOERROR) {
            // The other block may be full already, its message still to come: it is recorded
            // sound too, and ending the capture frees it before that message arrives.
            const WAVEHDR* other = header == WaveHeader ? WaveHeader2 : WaveHeader;
            if (other && (other->dwFlags & WHDR_DONE) && !(other->dwFlags & WHDR_INQUEUE) &&
                other->dwBytesRecorded == other->dwBufferLength)
                keep(other);
            EndFailedCapture(*this, result);
        }
    }
}

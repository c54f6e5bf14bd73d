// The playback engine: the held sound from the analysis window's position to its end as one
// block, the views following the sound five times a second, pause and resume, the play position
// scroll bar and the two level buttons.
#include <QStringList>
#include <algorithm>

#include "common/Blocks.h"
#include "form/TFormMain.h"
#include "toolkit/AppServices.h"
#include "views/ScaleGeometry.h"

using namespace sonabi;

namespace {
// A byte position rounded down to a whole frame: the view and the device never stand inside a
// frame (a 24-bit mono frame is 3 bytes, so an even byte is not enough).
uint32_t WholeFrame(uint32_t bytes, uint32_t align) {
    return align ? bytes - bytes % align : bytes;
}
}  // namespace

void TFormMain::PlayButtonClick() { TogglePlayback(); }

void TFormMain::TogglePlayback() {
    // While a stopped recording is still being handed over, WaveData is a capture block.
    if (Recording || StopRequested) return;
    if (Playing) {
        if (Audio->waveOutGetPosition(WaveOutHandle, &PlayTime) != MMSYSERR_NOERROR)
            ShowMessage("error", "won");
        ViewOffset = WholeFrame(ViewOffset + PlayTime.cb, WaveFormat.nBlockAlign);
        const uint32_t last = LastWindowStart(WaveDataSize, WaveFormat.nBlockAlign, FftSize);
        if (ViewOffset > last) ViewOffset = last;
        PlayScrollBar->SetPosition(ViewOffset);
        IgnoreNextDone = true;
        StopPlayback();
        FullRefresh();
        return;
    }
    HarmonicsFromAnalysis = true;
    if (SynthActive) {
        BringBackUserSound();
        ResetView();
        FullRefresh();
    }
    PlayButton->setText(QString::fromUtf8("停止"));
    if (!StartOutput(WaveData, ViewOffset, WaveDataSize))
        PlayButton->setText(QString::fromUtf8("再生"));  // nothing plays: say so
}

bool TFormMain::OpenOutput() {
    const MMRESULT result = Audio->waveOutOpen(&WaveOutHandle, WaveFormat, this);
    if (result != MMSYSERR_NOERROR) {
        // The sound is still held and whole: it can be scrolled, saved and played again.
        WaveOutHandle = nullptr;
        ShowMessage(QString::fromStdString(Audio->waveOutGetErrorText(result)), "ERROR");
        return false;
    }
    WaveDataHeld = true;
    return true;
}

bool TFormMain::PrepareOutput(uint8_t* data, uint32_t start, uint32_t end) {
    WaveHeader->dwFlags = 0;
    WaveHeader->dwLoops = 0;
    WaveHeader->lpData = reinterpret_cast<char*>(data + start);
    WaveHeader->dwBufferLength = end - start;
    const MMRESULT result = Audio->waveOutPrepareHeader(WaveOutHandle, WaveHeader);
    if (result != MMSYSERR_NOERROR) {
        CloseOutput();
        WaveDataHeld = true;  // only the device was given up, not the sound
        ShowMessage(QString::fromStdString(Audio->waveOutGetErrorText(result)), "wave");
        return false;
    }
    return true;
}

bool TFormMain::StartOutput(uint8_t* data, uint32_t start, uint32_t end) {
    // Closing: a click that waited behind the window's close opens no device.
    if (Closing || !data || !WaveHeader || end < start) return false;
    // A cut-off recording may end in part of a frame: the device gets the whole frames only, so
    // that what it reports as heard reaches the block's end.
    end = start + WholeFrame(end - start, WaveFormat.nBlockAlign);
    if (!OpenOutput()) return false;
    if (!PrepareOutput(data, start, end)) return false;
    PlayTime = MMTIME{};  // a position of an earlier block means nothing for this one
    Timer1->start();
    const MMRESULT result = Audio->waveOutWrite(WaveOutHandle, WaveHeader);
    if (result != MMSYSERR_NOERROR) {
        CloseOutput();
        WaveDataHeld = true;
        ShowMessage(QString::fromStdString(Audio->waveOutGetErrorText(result)), "wave");
        Timer1->stop();
        return false;
    }
    Playing = true;
    return true;
}

void TFormMain::Timer1Timer() {
    if (!Playing) {
        Timer1->stop();
        return;
    }
    if (Audio->waveOutGetPosition(WaveOutHandle, &PlayTime) != MMSYSERR_NOERROR) {
        // Stopped first: ticks inside the box's own event loop would open a box each.
        Timer1->stop();
        ShowMessage("error", "time");
        return;
    }
    const uint32_t frame = static_cast<uint32_t>(CurBits * CurChannels / 8);
    if (frame == 0) return;
    const uint32_t position = (ViewOffset + PlayTime.cb) / frame * frame;
    if (WindowFits(WaveDataSize, position, WaveFormat.nBlockAlign, FftSize)) {
        LiveRefresh(FftSize, WaveData, PaintBoxFft, PaintBoxGra, CurBits, CurChannels, position);
        PlayScrollBar->SetPosition(position);
    }
    if (position == WholeFrame(WaveDataSize, WaveFormat.nBlockAlign)) {
        Timer1->stop();
        IgnoreNextDone = true;
        StopPlayback();
        // A sound shorter than one window shows its only window, from the start.
        const uint32_t last = LastWindowStart(WaveDataSize, WaveFormat.nBlockAlign, FftSize);
        LiveRefresh(FftSize, WaveData, PaintBoxFft, PaintBoxGra, CurBits, CurChannels, last);
        PlayScrollBar->SetPosition(last > 0 ? last - 1 : 0);
    }
}

void TFormMain::OnWaveOutDone() {
    if (IgnoreNextDone) {
        IgnoreNextDone = false;
        // The message of a stop the program made. A playback started since keeps its timer;
        // but if its own block has come back, the stop's message was lost and this one is the
        // playback's end.
        if (!Playing) Timer1->stop();
        if (!Playing || !WaveHeader || (WaveHeader->dwFlags & WHDR_INQUEUE)) return;
    }
    Timer1->stop();
    if (!WaveOutHandle) return;  // a late message of a device already closed
    const bool known = Audio->waveOutGetPosition(WaveOutHandle, &PlayTime) == MMSYSERR_NOERROR;
    if (!known) ShowMessage("error", "won");
    // Only the program's own stops return a block before its end; this one was given back by
    // the device (a sound server that went away).
    const bool cutShort = known && WaveHeader && PlayTime.cb < WaveHeader->dwBufferLength;
    ViewOffset = WholeFrame(ViewOffset + PlayTime.cb, WaveFormat.nBlockAlign);
    if (ViewOffset == WholeFrame(WaveDataSize, WaveFormat.nBlockAlign) && Playing) {
        StopPlayback();
        ViewOffset = 0;
        PlayScrollBar->SetPosition(0);
        FullRefresh();
    } else if (Playing) {
        // The device gave the block back before its end (it was lost or failed): stop cleanly
        // where it was, so that the window is usable again.
        const uint32_t last = LastWindowStart(WaveDataSize, WaveFormat.nBlockAlign, FftSize);
        if (ViewOffset > last) ViewOffset = last;
        StopPlayback();
        PlayScrollBar->SetPosition(ViewOffset);
        FullRefresh();
        if (cutShort)
            ShowMessage(QString::fromStdString(Audio->waveOutGetErrorText(MMSYSERR_ERROR)),
                        "ERROR");
    }
}

void TFormMain::StopPlayback() {
    Timer1->stop();
    Playing = false;
    PlayButton->setText(QString::fromUtf8("再生"));
    // Closing may deliver the reset's done message at once: by then the handle is gone.
    HWAVEOUT handle = WaveOutHandle;
    WaveOutHandle = nullptr;
    if (!handle) return;
    Audio->waveOutPause(handle);
    Audio->waveOutReset(handle);
    Audio->waveOutUnprepareHeader(handle, WaveHeader);
    Audio->waveOutClose(handle);
}

void TFormMain::CloseOutput() {
    HWAVEOUT handle = WaveOutHandle;
    WaveOutHandle = nullptr;
    WaveDataHeld = false;
    if (handle) {
        Audio->waveOutReset(handle);
        Audio->waveOutUnprepareHeader(handle, WaveHeader);
        Audio->waveOutClose(handle);
    }
}

void TFormMain::PlayScrollBarScroll(int, uint32_t& position) {
    if (Playing || Recording || StopRequested) return;
    if (WaveDataHeld && WaveFormat.nBlockAlign > 0) {
        // The bar ends at the last full window; a position beyond it would read past the sound.
        const uint32_t last = LastWindowStart(WaveDataSize, WaveFormat.nBlockAlign, FftSize);
        position = std::min(position, last);
        ViewOffset = WholeFrame(position, WaveFormat.nBlockAlign);
        position = ViewOffset;
        PlayScrollBar->SetPosition(ViewOffset);
        FullRefresh();
    } else {
        position = 0;
    }
}

namespace {
// The desktop's volume control on its playback or recording page.
void StartLevelDialog(bool recording) {
#if defined(Q_OS_WIN)
    AppServices::Instance().StartProgram("sndvol.exe", {recording ? "-r" : "-p"});
#elif defined(Q_OS_MACOS)
    AppServices::Instance().StartProgram("open",
                                         {"x-apple.systempreferences:com.apple.preference.sound"});
#else
    AppServices::Instance().StartProgram("pavucontrol", {recording ? "--tab=4" : "--tab=3"});
#endif
}
}  // namespace

void TFormMain::ButtonPlayLevelClick() {
    if (Playing || Recording) return;
    StartLevelDialog(false);
}

void TFormMain::ButtonRecLevelClick() {
    if (Playing || Recording) return;
    StartLevelDialog(true);
}

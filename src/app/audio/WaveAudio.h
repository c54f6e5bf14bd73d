// The waveform-audio layer: the device calls the recording and playback engines make, with the
// semantics they rely on. Devices report to a window by posting WaveAudioEvent (MM_WOM_DONE when
// the output block is done or reset, MM_WIM_DATA for every filled or returned capture block),
// always delivered on the GUI thread through the event loop.
#pragma once
#include <QEvent>
#include <QObject>
#include <memory>
#include <string>

#include "common/WaveTypes.h"

constexpr int MM_WOM_DONE = 0x3BD;
constexpr int MM_WIM_DATA = 0x3C0;

class WaveAudioEvent : public QEvent {
  public:
    static QEvent::Type EventType();
    WaveAudioEvent(int message, WAVEHDR* header)
        : QEvent(EventType()), message(message), header(header) {}
    int message;      // MM_WOM_DONE or MM_WIM_DATA
    WAVEHDR* header;  // the block concerned
};

// Handles owned by a back-end; each back-end derives its own device state from these.
struct WaveOutDevice {
    virtual ~WaveOutDevice() = default;
};
struct WaveInDevice {
    virtual ~WaveInDevice() = default;
};
using HWAVEOUT = WaveOutDevice*;
using HWAVEIN = WaveInDevice*;

class WaveAudio {
  public:
    virtual ~WaveAudio() = default;

    // Output: one prepared block played from its start.
    virtual MMRESULT waveOutOpen(HWAVEOUT* handle, const WAVEFORMATEX& format, QObject* notify) = 0;
    virtual MMRESULT waveOutPrepareHeader(HWAVEOUT handle, WAVEHDR* header) = 0;
    virtual MMRESULT waveOutWrite(HWAVEOUT handle, WAVEHDR* header) = 0;
    // Bytes of the current block that have been heard so far (not merely handed over).
    virtual MMRESULT waveOutGetPosition(HWAVEOUT handle, MMTIME* time) = 0;
    virtual MMRESULT waveOutPause(HWAVEOUT handle) = 0;
    // Stops at once; a block still queued is returned with one MM_WOM_DONE.
    virtual MMRESULT waveOutReset(HWAVEOUT handle) = 0;
    virtual MMRESULT waveOutUnprepareHeader(HWAVEOUT handle, WAVEHDR* header) = 0;
    virtual MMRESULT waveOutClose(HWAVEOUT handle) = 0;
    std::string waveOutGetErrorText(MMRESULT code) const;  // WaveErrorText for the output

    // Input: queued blocks are filled in order, each reported by one MM_WIM_DATA.
    virtual MMRESULT waveInOpen(HWAVEIN* handle, const WAVEFORMATEX& format, QObject* notify) = 0;
    virtual MMRESULT waveInPrepareHeader(HWAVEIN handle, WAVEHDR* header) = 0;
    virtual MMRESULT waveInAddBuffer(HWAVEIN handle, WAVEHDR* header) = 0;
    virtual MMRESULT waveInStart(HWAVEIN handle) = 0;
    // Returns every queued block with one MM_WIM_DATA each.
    virtual MMRESULT waveInReset(HWAVEIN handle) = 0;
    virtual MMRESULT waveInUnprepareHeader(HWAVEIN handle, WAVEHDR* header) = 0;
    virtual MMRESULT waveInClose(HWAVEIN handle) = 0;
    std::string waveInGetErrorText(MMRESULT code) const;  // and for the input
};

// The real back-end (Qt Multimedia, the system's default devices).
std::unique_ptr<WaveAudio> CreateQtWaveAudio();

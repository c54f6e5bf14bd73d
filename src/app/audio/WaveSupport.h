// Helpers shared by the waveform-audio back-ends: format checks, error texts, the block-header
// rules both keep alike, and event posting.
#pragma once
#include <QObject>
#include <deque>
#include <string>

#include "common/WaveTypes.h"

// True for a format the back-ends can play: PCM of 8, 16, 24 or 32 bits or IEEE float of 32 or
// 64 bits per sample, 1..8 channels, 1..384000 frames per second, and nBlockAlign = channels x
// bytes per sample. (Capture takes only those the device streams as they are: not 24-bit PCM,
// nor 64-bit floats.)
bool IsSupportedPcm(const WAVEFORMATEX& format);

// Short English text for a result code, in the style of the platform's texts. `input` selects
// the wording for the capture device ("No audio input device") or the output device.
std::string WaveErrorText(MMRESULT code, bool input);

// Marks a block as prepared; MMSYSERR_INVALPARAM for no header, or one with bytes but no data.
MMRESULT PrepareHeader(WAVEHDR* header);
// Clears the prepared mark; WAVERR_STILLPLAYING while the block is queued on a device.
MMRESULT UnprepareHeader(WAVEHDR* header);
// Whether a block may be queued on a device: MMSYSERR_INVALPARAM for no header,
// WAVERR_UNPREPARED for one not prepared, else MMSYSERR_NOERROR.
MMRESULT CheckBlock(const WAVEHDR* header);
// Marks a block as handed back by the device: no longer queued, done.
void MarkDone(WAVEHDR* header);

// Posts MM_WOM_DONE or MM_WIM_DATA for `header` to `notify` (nothing when notify is null);
// it is delivered later by the event loop of notify's thread.
void PostWaveEvent(QObject* notify, int message, WAVEHDR* header);

// Hands every queued capture block back in queue order, each marked done with one MM_WIM_DATA,
// and leaves the queue empty.
void ReturnQueued(std::deque<WAVEHDR*>& queue, QObject* notify);

// Destroys a closed device object once control is back in the event loop that closed it, never
// inside the close call. Qt's audio sink and source run the event loop in their destructors:
// destroyed inside an engine operation, they would let queued clicks run in the middle of it.
// The object must already be stopped and disconnected from everything that may be gone by then.
void RetireDevice(QObject* device);

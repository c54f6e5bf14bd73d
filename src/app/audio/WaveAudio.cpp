#include "audio/WaveAudio.h"

#include <QCoreApplication>

#include "audio/WaveSupport.h"

QEvent::Type WaveAudioEvent::EventType() {
    static const QEvent::Type type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

bool IsSupportedPcm(const WAVEFORMATEX& format) {
    const unsigned bits = format.wBitsPerSample;
    const bool coding =
        format.wFormatTag == WAVE_FORMAT_PCM
            ? (bits == 8 || bits == 16 || bits == 24 || bits == 32)
            : format.wFormatTag == WAVE_FORMAT_IEEE_FLOAT && (bits == 32 || bits == 64);
    return coding && format.nChannels >= 1 && format.nChannels <= 8 && format.nSamplesPerSec >= 1 &&
           format.nSamplesPerSec <= 384000 && format.nBlockAlign == format.nChannels * bits / 8;
}

std::string WaveErrorText(MMRESULT code, bool input) {
    switch (code) {
        case MMSYSERR_NOERROR:
            return "The operation completed successfully";
        case MMSYSERR_ERROR:
            return input ? "The audio input device failed" : "The audio output device failed";
        case MMSYSERR_BADDEVICEID:
        case MMSYSERR_NODRIVER:
            return input ? "No audio input device" : "No audio output device";
        case MMSYSERR_ALLOCATED:
            return input ? "The audio input device is already in use"
                         : "The audio output device is already in use";
        case MMSYSERR_INVALHANDLE:
            return "The audio device handle is not valid";
        case MMSYSERR_NOMEM:
            return "Not enough memory for the audio device";
        case MMSYSERR_INVALPARAM:
            return "An invalid parameter was passed to the audio device";
        case WAVERR_BADFORMAT:
            return "The audio device does not support this format";
        case WAVERR_STILLPLAYING:
            return input ? "The audio block is still being recorded"
                         : "The audio block is still playing";
        case WAVERR_UNPREPARED:
            return "The audio block has not been prepared";
        default:
            return "Unknown audio device error " + std::to_string(code);
    }
}

std::string WaveAudio::waveOutGetErrorText(MMRESULT code) const {
    return WaveErrorText(code, false);
}
std::string WaveAudio::waveInGetErrorText(MMRESULT code) const { return WaveErrorText(code, true); }

MMRESULT PrepareHeader(WAVEHDR* header) {
    if (header == nullptr || (header->lpData == nullptr && header->dwBufferLength > 0))
        return MMSYSERR_INVALPARAM;
    header->dwFlags |= WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT UnprepareHeader(WAVEHDR* header) {
    if (header == nullptr) return MMSYSERR_INVALPARAM;
    if (header->dwFlags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
    header->dwFlags &= ~WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT CheckBlock(const WAVEHDR* header) {
    if (header == nullptr) return MMSYSERR_INVALPARAM;
    return (header->dwFlags & WHDR_PREPARED) ? MMSYSERR_NOERROR : WAVERR_UNPREPARED;
}

void MarkDone(WAVEHDR* header) { header->dwFlags = (header->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE; }

void PostWaveEvent(QObject* notify, int message, WAVEHDR* header) {
    if (notify != nullptr) QCoreApplication::postEvent(notify, new WaveAudioEvent(message, header));
}

void ReturnQueued(std::deque<WAVEHDR*>& queue, QObject* notify) {
    while (!queue.empty()) {
        WAVEHDR* header = queue.front();
        queue.pop_front();
        MarkDone(header);
        PostWaveEvent(notify, MM_WIM_DATA, header);
    }
}

void RetireDevice(QObject* device) {
    if (device == nullptr) return;
    device->setParent(nullptr);
    device->deleteLater();
}

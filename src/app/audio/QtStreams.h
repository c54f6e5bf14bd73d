// What the Qt back-end's output and input devices share: the device format nearest to a held
// one, starting a stream and telling a server that went away from a stream the device stopped,
// and retiring a stream. QtWaveAudio (QtWaveAudio.cpp) opens one device per direction through
// OpenQtOutput (QtWaveOut.cpp) and OpenQtInput (QtWaveIn.cpp). GUI thread only.
#pragma once
#include <QAudio>
#include <QAudioDevice>
#include <QAudioFormat>
#include <QIODevice>
#include <QObject>
#include <cstdint>
#include <memory>

#include "audio/WaveAudio.h"
#include "audio/WaveSupport.h"

namespace qtaudio {

// How often a playing block checks whether its end has been heard, and a capture stream
// whether it still delivers (ms).
constexpr int kPollMs = 10;

// The device format nearest to a held one: Qt streams unsigned 8-bit, 16- and 32-bit integers
// and 32-bit floats, so 24-bit samples go out as 32-bit integers and 64-bit floats as 32-bit.
inline QAudioFormat ToQtFormat(const WAVEFORMATEX& format) {
    QAudioFormat qt;
    qt.setSampleRate(static_cast<int>(format.nSamplesPerSec));
    qt.setChannelCount(format.nChannels);
    qt.setSampleFormat(format.wFormatTag == WAVE_FORMAT_IEEE_FLOAT ? QAudioFormat::Float
                       : format.wBitsPerSample == 8                ? QAudioFormat::UInt8
                       : format.wBitsPerSample == 16               ? QAudioFormat::Int16
                                                                   : QAudioFormat::Int32);
    return qt;
}

// Whether the device takes the held samples' bytes as they are.
inline bool SameBytes(const WAVEFORMATEX& held, const QAudioFormat& device) {
    return held.nBlockAlign == device.bytesPerFrame();
}

// A stream that cannot be opened, or a connection found unusable, means the sound server is gone
// (the device list that Qt keeps still names it); anything else is a failure of the device.
inline MMRESULT StartFailure(QAudio::Error error) {
    return (error == QAudio::OpenError || error == QAudio::FatalError) ? MMSYSERR_NODRIVER
                                                                       : MMSYSERR_ERROR;
}

// Set while a device itself starts or stops its stream: the state changes Qt reports meanwhile
// are the device's own doing, and a failed start is handled where it is made.
struct StreamGuard {
    bool starting = false;
    bool stopping = false;
};

// Starts a QAudioSink or QAudioSource in push mode under the guard. Null when it did not start
// (no stream device, an error, or a stream that stopped at once); its error() tells why.
template <typename Stream>
QIODevice* StartStream(Stream& stream, StreamGuard& guard) {
    guard.starting = true;
    QIODevice* io = stream.start();
    guard.starting = false;
    const bool started = io != nullptr && stream.error() == QAudio::NoError &&
                         stream.state() != QAudio::StoppedState;
    return started ? io : nullptr;
}

// A stream that stopped with an error while its device was neither starting nor stopping it:
// the server went away, and the device gives its blocks up so that nothing waits for ever.
template <typename Stream>
bool StoppedByServer(const Stream& stream, QAudio::State state, const StreamGuard& guard) {
    return !guard.starting && !guard.stopping && state == QAudio::StoppedState &&
           stream.error() != QAudio::NoError;
}

// Hands a stopped stream to RetireDevice, first cutting it from the handlers whose context is
// `context`: that object dies with the device, before the stream does.
inline void RetireStream(QObject* stream, const QObject* context) {
    QObject::disconnect(stream, nullptr, context, nullptr);
    RetireDevice(stream);
}

// An open output device: one block at a time, its position what has been heard.
class QtOutput : public WaveOutDevice {
  public:
    virtual MMRESULT Write(WAVEHDR* header) = 0;
    virtual uint32_t Position() = 0;  // bytes of the block heard so far
    virtual void Pause() = 0;
    virtual void Reset() = 0;
    virtual void Close() = 0;
};
// An output on `device` for blocks in the `held` format; `format` is ToQtFormat(held).
std::unique_ptr<QtOutput> OpenQtOutput(const QAudioDevice& device, const WAVEFORMATEX& held,
                                       const QAudioFormat& format, QObject* notify);

// An open capture device: queued blocks filled in order.
class QtInput : public WaveInDevice {
  public:
    virtual bool Queued(const WAVEHDR* header) const = 0;
    virtual MMRESULT AddBuffer(WAVEHDR* header) = 0;
    virtual MMRESULT Start() = 0;
    virtual void Reset() = 0;
    virtual void Close() = 0;
};
// A capture device on `device` in `format`: only one whose bytes are the held ones
// (SameBytes), since capture converts nothing.
std::unique_ptr<QtInput> OpenQtInput(const QAudioDevice& device, const QAudioFormat& format,
                                     QObject* notify);

}  // namespace qtaudio

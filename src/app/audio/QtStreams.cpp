#include "audio/QtStreams.h"

#include "audio/WaveSupport.h"

namespace qtaudio {

// The device format nearest to a held one: Qt streams unsigned 8-bit, 16- and 32-bit integers
// and 32-bit floats, so 24-bit samples go out as 32-bit integers and 64-bit floats as 32-bit.
QAudioFormat ToQtFormat(const WAVEFORMATEX& format) {
    QAudioFormat qt;
    qt.setSampleRate(static_cast<int>(format.nSamplesPerSec));
    qt.setChannelCount(format.nChannels);
    if (format.wFormatTag == WAVE_FORMAT_IEEE_FLOAT) {
        qt.setSampleFormat(QAudioFormat::Float);
        return qt;
    }
    switch (format.wBitsPerSample) {
        case 8:
            qt.setSampleFormat(QAudioFormat::UInt8);
            break;
        case 16:
            qt.setSampleFormat(QAudioFormat::Int16);
            break;
        default:
            qt.setSampleFormat(QAudioFormat::Int32);
            break;
    }
    return qt;
}

// A stream that cannot be opened, or a connection found unusable, means the sound server is gone
// (the device list that Qt keeps still names it); anything else is a failure of the device.
MMRESULT StartFailure(QAudio::Error error) {
    return (error == QAudio::OpenError || error == QAudio::FatalError) ? MMSYSERR_NODRIVER
                                                                       : MMSYSERR_ERROR;
}

// Hands a stopped stream to RetireDevice, first cutting it from the handlers whose context is
// `context`: that object dies with the device, before the stream does.
void RetireStream(QObject* stream, const QObject* context) {
    QObject::disconnect(stream, nullptr, context, nullptr);
    RetireDevice(stream);
}

}  // namespace qtaudio

// The waveform-audio layer over Qt Multimedia: the system's default output and input devices,
// one output block pushed to the sink and followed by silence until it has been heard, capture
// blocks filled from what the source pushes (QtWaveOut.cpp, QtWaveIn.cpp). Everything runs on
// the thread that opened the device (the GUI thread); the engines hear of blocks only through
// posted WaveAudioEvents. Closed devices are destroyed back in the event loop (see RetireDevice).
#include <QMediaDevices>
#include <type_traits>
#include <vector>

#include "audio/QtStreams.h"
#include "audio/WaveAudio.h"
#include "audio/WaveSupport.h"

using namespace qtaudio;

namespace {

class QtWaveAudio final : public WaveAudio {
  public:
    MMRESULT waveOutOpen(HWAVEOUT* handle, const WAVEFORMATEX& format, QObject* notify) override {
        return Open(outs_, handle, format, notify, &QMediaDevices::defaultAudioOutput);
    }
    MMRESULT waveOutPrepareHeader(HWAVEOUT handle, WAVEHDR* header) override {
        return Find(outs_, handle) == nullptr ? MMSYSERR_INVALHANDLE : PrepareHeader(header);
    }
    MMRESULT waveOutWrite(HWAVEOUT handle, WAVEHDR* header) override {
        QtOutput* out = Find(outs_, handle);
        if (out == nullptr) return MMSYSERR_INVALHANDLE;
        if (MMRESULT r = CheckBlock(header)) return r;
        return out->Write(header);
    }
    MMRESULT waveOutGetPosition(HWAVEOUT handle, MMTIME* time) override {
        QtOutput* out = Find(outs_, handle);
        if (out == nullptr) return MMSYSERR_INVALHANDLE;
        if (time == nullptr) return MMSYSERR_INVALPARAM;
        time->wType = TIME_BYTES;
        time->cb = out->Position();
        return MMSYSERR_NOERROR;
    }
    MMRESULT waveOutPause(HWAVEOUT handle) override {
        QtOutput* out = Find(outs_, handle);
        if (out == nullptr) return MMSYSERR_INVALHANDLE;
        out->Pause();
        return MMSYSERR_NOERROR;
    }
    MMRESULT waveOutReset(HWAVEOUT handle) override { return Reset(outs_, handle); }
    MMRESULT waveOutUnprepareHeader(HWAVEOUT handle, WAVEHDR* header) override {
        return Find(outs_, handle) == nullptr ? MMSYSERR_INVALHANDLE : UnprepareHeader(header);
    }
    MMRESULT waveOutClose(HWAVEOUT handle) override { return Close(outs_, handle); }

    MMRESULT waveInOpen(HWAVEIN* handle, const WAVEFORMATEX& format, QObject* notify) override {
        return Open(ins_, handle, format, notify, &QMediaDevices::defaultAudioInput);
    }
    MMRESULT waveInPrepareHeader(HWAVEIN handle, WAVEHDR* header) override {
        return Find(ins_, handle) == nullptr ? MMSYSERR_INVALHANDLE : PrepareHeader(header);
    }
    MMRESULT waveInAddBuffer(HWAVEIN handle, WAVEHDR* header) override {
        QtInput* in = Find(ins_, handle);
        if (in == nullptr) return MMSYSERR_INVALHANDLE;
        if (MMRESULT r = CheckBlock(header)) return r;
        if (in->Queued(header)) return WAVERR_STILLPLAYING;
        return in->AddBuffer(header);
    }
    MMRESULT waveInStart(HWAVEIN handle) override {
        QtInput* in = Find(ins_, handle);
        return in == nullptr ? MMSYSERR_INVALHANDLE : in->Start();
    }
    MMRESULT waveInReset(HWAVEIN handle) override { return Reset(ins_, handle); }
    MMRESULT waveInUnprepareHeader(HWAVEIN handle, WAVEHDR* header) override {
        return Find(ins_, handle) == nullptr ? MMSYSERR_INVALHANDLE : UnprepareHeader(header);
    }
    MMRESULT waveInClose(HWAVEIN handle) override { return Close(ins_, handle); }

  private:
    // Opens a device on the system's default output or input, which `defaultDevice` names; it
    // is asked for only once the format is one the back-ends support.
    template <typename Device, typename Handle>
    static MMRESULT Open(std::vector<std::unique_ptr<Device>>& devices, Handle* handle,
                         const WAVEFORMATEX& format, QObject* notify,
                         QAudioDevice (*defaultDevice)()) {
        if (handle == nullptr) return MMSYSERR_INVALPARAM;
        *handle = nullptr;
        if (!IsSupportedPcm(format)) return WAVERR_BADFORMAT;
        const QAudioFormat qtFormat = ToQtFormat(format);
        // Capture converts nothing: the blocks are filled with the device's own bytes.
        if (std::is_same_v<Device, QtInput> && !SameBytes(format, qtFormat))
            return WAVERR_BADFORMAT;
        const QAudioDevice device = defaultDevice();
        if (device.isNull()) return MMSYSERR_NODRIVER;
        if (!device.isFormatSupported(qtFormat)) return WAVERR_BADFORMAT;
        if constexpr (std::is_same_v<Device, QtInput>)
            devices.push_back(OpenQtInput(device, qtFormat, notify));
        else
            devices.push_back(OpenQtOutput(device, format, qtFormat, notify));
        *handle = devices.back().get();
        return MMSYSERR_NOERROR;
    }
    template <typename Device, typename Handle>
    static MMRESULT Reset(const std::vector<std::unique_ptr<Device>>& devices, Handle handle) {
        Device* device = Find(devices, handle);
        if (device == nullptr) return MMSYSERR_INVALHANDLE;
        device->Reset();
        return MMSYSERR_NOERROR;
    }
    template <typename Device, typename Handle>
    static MMRESULT Close(std::vector<std::unique_ptr<Device>>& devices, Handle handle) {
        Device* device = Find(devices, handle);
        if (device == nullptr) return MMSYSERR_INVALHANDLE;
        device->Close();
        std::erase_if(devices, [device](const auto& d) { return d.get() == device; });
        return MMSYSERR_NOERROR;
    }
    // The open device behind a handle, or null for a handle that is not open here.
    template <typename Device, typename Handle>
    static Device* Find(const std::vector<std::unique_ptr<Device>>& devices, Handle handle) {
        for (const auto& device : devices)
            if (static_cast<Handle>(device.get()) == handle) return device.get();
        return nullptr;
    }

    std::vector<std::unique_ptr<QtOutput>> outs_;
    std::vector<std::unique_ptr<QtInput>> ins_;
};

}  // namespace

std::unique_ptr<WaveAudio> CreateQtWaveAudio() { return std::make_unique<QtWaveAudio>(); }

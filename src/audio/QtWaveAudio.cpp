// The waveform-audio layer over Qt Multimedia: the system's default output and input devices,
// one output block pushed to the sink and followed by silence until it has been heard, capture
// blocks filled from what the source pushes. Everything runs on the thread that opened the
// device (the GUI thread); the engines hear of blocks only through posted WaveAudioEvents.
// Closed devices are destroyed back in the event loop (see RetireDevice).
#include <QAudioDevice>
#include <QAudioSink>
#include <QAudioSource>
#include <QElapsedTimer>
#include <QMediaDevices>
#include <QPointer>
#include <QTimer>
#include <algorithm>
#include <cstring>
#include <deque>
#include <type_traits>
#include <vector>

#include "audio/WaveAudio.h"
#include "audio/WaveSupport.h"
#include "common/Samples.h"

namespace {

// How often a playing block checks whether its end has been heard (ms).
constexpr int kPollMs = 10;
// A playing block whose heard position stands still this long is given up (ms): the server
// stalled. A fresh or resuming sink may take a few hundred milliseconds to start.
constexpr qint64 kStallMs = 3000;
// A capture stream that delivers nothing this long while blocks wait is given up (ms); a new
// stream may take longer to deliver its first sound.
constexpr qint64 kCaptureStallMs = 1000;
constexpr qint64 kCaptureStartMs = 3000;

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

// Whether the device takes the held samples' bytes as they are.
bool SameBytes(const WAVEFORMATEX& held, const QAudioFormat& device) {
    return held.nBlockAlign == device.bytesPerFrame();
}

// Whether played samples go to the device as they are: floats never do, since NaN, infinities
// and values beyond full scale must not reach the server.
bool PlayedAsHeld(const WAVEFORMATEX& held, const QAudioFormat& device) {
    return SameBytes(held, device) && held.wFormatTag != WAVE_FORMAT_IEEE_FLOAT;
}

// A stream that cannot be opened, or a connection found unusable, means the sound server is gone
// (the device list that Qt keeps still names it); anything else is a failure of the device.
MMRESULT StartFailure(QAudio::Error error) {
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
void RetireStream(QObject* stream, const QObject* context) {
    QObject::disconnect(stream, nullptr, context, nullptr);
    RetireDevice(stream);
}

// The playing block's bytes, then silence for as long as the sink takes more. The stream never
// runs dry before the block's last sample has been heard, so the server has nothing to cut, fill
// or drain at the end: PipeWire drops and clicks on a stream that runs dry, and a sink stopped
// once the server has merely taken the data throws away what the device still buffers.
// Counts are in the device's bytes; a held format the device cannot take, and every float, is
// converted sample by sample as it is handed over (see DeviceSample). A last partial frame of
// the block is never played.
class BlockThenSilence {
  public:
    BlockThenSilence(const WAVEFORMATEX& held, const QAudioFormat& device)
        : held_(held),
          heldFrame_(held.nBlockAlign),
          deviceFrame_(device.bytesPerFrame()),
          coding_(sonabi::CodingOf(held)),
          same_(PlayedAsHeld(held, device)),
          silence_(device.sampleFormat() == QAudioFormat::UInt8 ? char(0x80) : char(0)) {}
    // A block of `heldBytes` bytes in the held format.
    void Load(const char* data, qint64 heldBytes) {
        data_ = data;
        length_ = heldBytes / heldFrame_ * deviceFrame_;
        taken_ = 0;
    }
    // The device's bytes for the whole block.
    qint64 Length() const { return length_; }
    // Held bytes for `deviceBytes` bytes of the device (whole frames).
    qint64 HeldBytes(qint64 deviceBytes) const {
        return same_ ? deviceBytes : deviceBytes / deviceFrame_ * heldFrame_;
    }
    // The next `max` bytes, not yet taken (whole frames when converting).
    void Peek(char* out, qint64 max) const {
        const qint64 fromBlock = std::clamp<qint64>(length_ - taken_, 0, max);
        if (same_) {
            if (fromBlock > 0) std::memcpy(out, data_ + taken_, static_cast<size_t>(fromBlock));
        } else if (fromBlock > 0) {
            // The sink may have taken part of a sample: convert the samples that cover the
            // range and hand over the bytes asked for.
            const int heldSample = heldFrame_ / held_.nChannels;
            const int deviceSample = deviceFrame_ / held_.nChannels;
            const qint64 first = taken_ / deviceSample;
            const qint64 end = (taken_ + fromBlock + deviceSample - 1) / deviceSample;
            scratch_.resize(static_cast<size_t>((end - first) * deviceSample));
            const auto* in = reinterpret_cast<const uint8_t*>(data_);
            for (qint64 k = first; k < end; ++k)
                sonabi::DeviceSample(coding_, in + k * heldSample,
                                     scratch_.data() + (k - first) * deviceSample);
            std::memcpy(out, scratch_.data() + taken_ % deviceSample,
                        static_cast<size_t>(fromBlock));
        }
        std::memset(out + fromBlock, silence_, static_cast<size_t>(max - fromBlock));
    }
    void Take(qint64 bytes) { taken_ += bytes; }
    // Bytes handed to the sink so far, the silence after the block included.
    qint64 Taken() const { return taken_; }

  private:
    WAVEFORMATEX held_;
    int heldFrame_, deviceFrame_;
    sonabi::SampleCoding coding_;
    bool same_;
    char silence_ = 0;
    const char* data_ = nullptr;
    qint64 length_ = 0;
    qint64 taken_ = 0;
    mutable std::vector<uint8_t> scratch_;  // converted samples of one top-up
};

// Plays one block at a time. The position is what the listener has heard; the block is done
// once its last sample has been heard, not when the server has taken it.
class QtWaveOut final : public WaveOutDevice {
  public:
    // held: the format of the blocks; format: the device's, ToQtFormat(held).
    QtWaveOut(const QAudioDevice& device, const WAVEFORMATEX& held, const QAudioFormat& format,
              QObject* notify)
        : sink_(new QAudioSink(device, format)),
          feed_(held, format),
          notify_(notify),
          frameBytes_(format.bytesPerFrame()) {
        poll_.setInterval(kPollMs);
        QObject::connect(&poll_, &QTimer::timeout, [this] { Poll(); });
        QObject::connect(sink_, &QAudioSink::stateChanged, &poll_,
                         [this](QAudio::State state) { OnStateChanged(state); });
    }
    ~QtWaveOut() override {
        StopSink();
        RetireStream(sink_, &poll_);
    }

    MMRESULT Write(WAVEHDR* header) {
        if (block_ != nullptr) return WAVERR_STILLPLAYING;
        block_ = header;
        length_ = header->dwBufferLength;
        heard_ = 0;
        progressClock_.start();
        header->dwFlags = (header->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
        if (length_ == 0) {
            Finish(true);
            return MMSYSERR_NOERROR;
        }
        feed_.Load(header->lpData, length_);
        // Pushed, not pulled: the first sound goes to the server now, not at the sink's first
        // tick 20 ms later, so that a key sounds as soon as it is clicked.
        io_ = StartStream(*sink_, guard_);
        if (io_ == nullptr) {
            const MMRESULT result = StartFailure(sink_->error());
            StopSink();
            header->dwFlags &= ~WHDR_INQUEUE;
            block_ = nullptr;
            return result;
        }
        Feed();
        if (paused_) sink_->suspend();
        poll_.start();
        return MMSYSERR_NOERROR;
    }

    // Bytes of the current block heard so far; the block length once it has all been heard.
    uint32_t Position() {
        if (block_ != nullptr && sink_->state() != QAudio::StoppedState) heard_ = Measure();
        return heard_;
    }

    void Pause() {
        if (block_ != nullptr) {
            heard_ = Measure();
            sink_->suspend();
        }
        paused_ = true;
    }

    // Stops at once; a block still queued comes back with one MM_WOM_DONE.
    void Reset() {
        WAVEHDR* queued = block_;
        StopSink();
        block_ = nullptr;
        heard_ = 0;
        paused_ = false;
        if (queued != nullptr) {
            MarkDone(queued);
            PostWaveEvent(notify_, MM_WOM_DONE, queued);
        }
    }

    // Closing drops a block still queued without a message: its owner takes it back.
    void Close() {
        StopSink();
        if (block_ != nullptr) block_->dwFlags &= ~WHDR_INQUEUE;
        block_ = nullptr;
    }

  private:
    uint32_t Measure() const {
        // Both are upper bounds of what has sounded: what the server took from its queue, and
        // the toolkit's clock of what the device has played (less the device's latency). The
        // smaller one is the safer answer.
        const qint64 buffered = std::max<qint64>(0, sink_->bufferSize() - sink_->bytesFree());
        qint64 heard = feed_.Taken() - buffered;
        heard = std::min<qint64>(heard, sink_->format().bytesForDuration(sink_->processedUSecs()));
        heard = std::clamp<qint64>(heard, 0, feed_.Length());
        heard -= heard % frameBytes_;
        return std::max(heard_, static_cast<uint32_t>(feed_.HeldBytes(heard)));
    }

    void Poll() {
        if (block_ == nullptr) {
            poll_.stop();
            return;
        }
        Feed();
        const uint32_t before = heard_;
        heard_ = Measure();
        if (heard_ >= feed_.HeldBytes(feed_.Length())) {
            Finish(true);
        } else if (heard_ != before || paused_) {
            progressClock_.start();
        } else if (progressClock_.elapsed() > kStallMs) {
            Finish(false);
        }
    }

    // A server that went away ends the block where it was.
    void OnStateChanged(QAudio::State state) {
        if (block_ != nullptr && StoppedByServer(*sink_, state, guard_)) Finish(false);
    }

    // Tops the sink's buffer up, whole frames only.
    void Feed() {
        if (io_ == nullptr) return;
        const qint64 room = sink_->bytesFree();
        const qint64 bytes = room - room % frameBytes_;
        if (bytes <= 0) return;
        chunk_.resize(static_cast<size_t>(bytes));
        feed_.Peek(chunk_.data(), bytes);
        const qint64 written = io_->write(chunk_.data(), bytes);
        if (written > 0) feed_.Take(written);
    }

    void Finish(bool complete) {
        poll_.stop();
        if (complete) heard_ = length_;
        WAVEHDR* done = block_;
        block_ = nullptr;
        StopSink();
        MarkDone(done);
        PostWaveEvent(notify_, MM_WOM_DONE, done);
    }

    // Synchronous: the sink stops at once and drops its input. Only destroying it runs the
    // event loop, and that is left to RetireDevice.
    void StopSink() {
        poll_.stop();
        guard_.stopping = true;
        if (sink_->state() != QAudio::StoppedState) {
            sink_->reset();
            sink_->stop();
        }
        guard_.stopping = false;
        io_.clear();
    }

    QAudioSink* sink_;        // retired, not deleted, when the device closes
    QPointer<QIODevice> io_;  // the sink's input while it plays; Qt frees it on a failure
    BlockThenSilence feed_;
    std::vector<char> chunk_;  // what one top-up writes
    QObject* notify_;
    int frameBytes_;  // of the device's format
    QTimer poll_;
    QElapsedTimer progressClock_;  // since the heard position last moved
    WAVEHDR* block_ = nullptr;     // the queued block, or none
    uint32_t length_ = 0;          // bytes of the current block
    uint32_t heard_ = 0;           // bytes of it heard so far
    bool paused_ = false;
    StreamGuard guard_;
};

// Fills queued blocks in order from what the source pushes; a full block is reported at once.
// A stream that stops delivering is given up as a lost server is: its blocks come back.
// The source is always stopped before it is retired: Qt 6.4 may otherwise run a pending read on
// a freed stream and abort.
class QtWaveIn final : public WaveInDevice {
  public:
    // Captures in the held format itself: only formats the device takes as they are (held is
    // checked by Open).
    QtWaveIn(const QAudioDevice& device, const WAVEFORMATEX&, const QAudioFormat& format,
             QObject* notify)
        : source_(new QAudioSource(device, format)), notify_(notify) {
        QObject::connect(source_, &QAudioSource::stateChanged, &watchdog_,
                         [this](QAudio::State state) { OnStateChanged(state); });
        watchdog_.setInterval(kPollMs * 10);
        QObject::connect(&watchdog_, &QTimer::timeout, [this] { CheckDelivery(); });
    }
    ~QtWaveIn() override {
        StopSource();
        RetireStream(source_, &watchdog_);
    }

    bool Queued(const WAVEHDR* header) const {
        return std::find(queue_.begin(), queue_.end(), header) != queue_.end();
    }

    // A block handed back after the stream has gone is refused, so that it is not lost silently.
    MMRESULT AddBuffer(WAVEHDR* header) {
        if (lost_) return MMSYSERR_ERROR;
        if (queue_.empty()) deliveryClock_.start();  // the stream was not asked for sound
        header->dwBytesRecorded = 0;
        header->dwFlags = (header->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
        queue_.push_back(header);
        ReadAvailable();  // sound that waited for a block
        return MMSYSERR_NOERROR;
    }

    MMRESULT Start() {
        if (running_) return MMSYSERR_NOERROR;
        if (lost_) return MMSYSERR_ERROR;
        QIODevice* io = StartStream(*source_, guard_);
        if (io == nullptr) {
            const MMRESULT result = StartFailure(source_->error());
            StopSource();
            return result;
        }
        io_ = io;
        running_ = true;
        QObject::connect(io_, &QIODevice::readyRead, &watchdog_, [this] { ReadAvailable(); });
        delivered_ = false;
        deliveryClock_.start();
        watchdog_.start();
        return MMSYSERR_NOERROR;
    }

    // Stops capture and returns every queued block, partly filled ones with their byte count.
    void Reset() {
        ReadAvailable();
        StopSource();
        ReturnQueued(queue_, notify_);
    }

    // Closing drops blocks still queued without a message: their owner takes them back.
    void Close() {
        StopSource();
        for (WAVEHDR* header : queue_) header->dwFlags &= ~WHDR_INQUEUE;
        queue_.clear();
    }

  private:
    void ReadAvailable() {
        // With no block queued the sound waits in the server until the next block comes, so an
        // engine that hands a block back late loses nothing.
        while (io_ != nullptr && !queue_.empty()) {
            WAVEHDR* header = queue_.front();
            const uint32_t room = header->dwBufferLength - header->dwBytesRecorded;
            if (room > 0) {
                const qint64 n = io_->read(header->lpData + header->dwBytesRecorded, room);
                if (n <= 0) break;
                header->dwBytesRecorded += static_cast<uint32_t>(n);
                delivered_ = true;
                deliveryClock_.start();
            }
            if (header->dwBytesRecorded == header->dwBufferLength) {
                queue_.pop_front();
                MarkDone(header);
                PostWaveEvent(notify_, MM_WIM_DATA, header);
            }
        }
    }

    // A stream that was asked for sound and gave none for too long has stalled: a device gone
    // with nothing to move to, a suspended stream, a server that hangs without dying.
    void CheckDelivery() {
        if (!running_ || queue_.empty()) return;
        if (deliveryClock_.elapsed() > (delivered_ ? kCaptureStallMs : kCaptureStartMs)) Lose();
    }

    // A server that went away returns the blocks, so that the engine is never left waiting.
    void OnStateChanged(QAudio::State state) {
        if (running_ && StoppedByServer(*source_, state, guard_)) Lose();
    }

    void Lose() {
        lost_ = true;
        StopSource();
        ReturnQueued(queue_, notify_);
    }

    void StopSource() {
        watchdog_.stop();
        if (io_ != nullptr) QObject::disconnect(io_, nullptr, &watchdog_, nullptr);
        io_.clear();
        running_ = false;
        guard_.stopping = true;
        if (source_->state() != QAudio::StoppedState) source_->stop();
        guard_.stopping = false;
    }

    QAudioSource* source_;  // retired, not deleted, when the device closes
    QObject* notify_;
    // The pushing device while capture runs; Qt frees it itself when the stream fails.
    QPointer<QIODevice> io_;
    std::deque<WAVEHDR*> queue_;
    QTimer watchdog_;              // checks that sound keeps coming; context of the connections
    QElapsedTimer deliveryClock_;  // since sound last came, or since it was last asked for
    bool delivered_ = false;       // sound has come since the start
    bool running_ = false;         // started and not stopped since
    bool lost_ = false;            // the stream died or stalled: blocks are refused
    StreamGuard guard_;
};

class QtWaveAudio final : public WaveAudio {
  public:
    MMRESULT waveOutOpen(HWAVEOUT* handle, const WAVEFORMATEX& format, QObject* notify) override {
        return Open(outs_, handle, format, notify, &QMediaDevices::defaultAudioOutput);
    }
    MMRESULT waveOutPrepareHeader(HWAVEOUT handle, WAVEHDR* header) override {
        return Find(outs_, handle) == nullptr ? MMSYSERR_INVALHANDLE : PrepareHeader(header);
    }
    MMRESULT waveOutWrite(HWAVEOUT handle, WAVEHDR* header) override {
        QtWaveOut* out = Find(outs_, handle);
        if (out == nullptr) return MMSYSERR_INVALHANDLE;
        if (MMRESULT r = CheckBlock(header)) return r;
        return out->Write(header);
    }
    MMRESULT waveOutGetPosition(HWAVEOUT handle, MMTIME* time) override {
        QtWaveOut* out = Find(outs_, handle);
        if (out == nullptr) return MMSYSERR_INVALHANDLE;
        if (time == nullptr) return MMSYSERR_INVALPARAM;
        time->wType = TIME_BYTES;
        time->cb = out->Position();
        return MMSYSERR_NOERROR;
    }
    MMRESULT waveOutPause(HWAVEOUT handle) override {
        QtWaveOut* out = Find(outs_, handle);
        if (out == nullptr) return MMSYSERR_INVALHANDLE;
        out->Pause();
        return MMSYSERR_NOERROR;
    }
    MMRESULT waveOutReset(HWAVEOUT handle) override { return Reset(outs_, handle); }
    MMRESULT waveOutUnprepareHeader(HWAVEOUT handle, WAVEHDR* header) override {
        return Find(outs_, handle) == nullptr ? MMSYSERR_INVALHANDLE : UnprepareHeader(header);
    }
    MMRESULT waveOutClose(HWAVEOUT handle) override { return Close(outs_, handle); }
    std::string waveOutGetErrorText(MMRESULT code) override { return WaveErrorText(code, false); }

    MMRESULT waveInOpen(HWAVEIN* handle, const WAVEFORMATEX& format, QObject* notify) override {
        return Open(ins_, handle, format, notify, &QMediaDevices::defaultAudioInput);
    }
    MMRESULT waveInPrepareHeader(HWAVEIN handle, WAVEHDR* header) override {
        return Find(ins_, handle) == nullptr ? MMSYSERR_INVALHANDLE : PrepareHeader(header);
    }
    MMRESULT waveInAddBuffer(HWAVEIN handle, WAVEHDR* header) override {
        QtWaveIn* in = Find(ins_, handle);
        if (in == nullptr) return MMSYSERR_INVALHANDLE;
        if (MMRESULT r = CheckBlock(header)) return r;
        if (in->Queued(header)) return WAVERR_STILLPLAYING;
        return in->AddBuffer(header);
    }
    MMRESULT waveInStart(HWAVEIN handle) override {
        QtWaveIn* in = Find(ins_, handle);
        return in == nullptr ? MMSYSERR_INVALHANDLE : in->Start();
    }
    MMRESULT waveInReset(HWAVEIN handle) override { return Reset(ins_, handle); }
    MMRESULT waveInUnprepareHeader(HWAVEIN handle, WAVEHDR* header) override {
        return Find(ins_, handle) == nullptr ? MMSYSERR_INVALHANDLE : UnprepareHeader(header);
    }
    MMRESULT waveInClose(HWAVEIN handle) override { return Close(ins_, handle); }
    std::string waveInGetErrorText(MMRESULT code) override { return WaveErrorText(code, true); }

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
        if (std::is_same_v<Device, QtWaveIn> && !SameBytes(format, qtFormat))
            return WAVERR_BADFORMAT;
        const QAudioDevice device = defaultDevice();
        if (device.isNull()) return MMSYSERR_NODRIVER;
        if (!device.isFormatSupported(qtFormat)) return WAVERR_BADFORMAT;
        devices.push_back(std::make_unique<Device>(device, format, qtFormat, notify));
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

    std::vector<std::unique_ptr<QtWaveOut>> outs_;
    std::vector<std::unique_ptr<QtWaveIn>> ins_;
};

}  // namespace

std::unique_ptr<WaveAudio> CreateQtWaveAudio() { return std::make_unique<QtWaveAudio>(); }

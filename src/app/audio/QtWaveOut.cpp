// The Qt back-end's output: one block pushed to a QAudioSink and followed by silence until it
// has been heard.
#include <QAudioSink>
#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>
#include <algorithm>
#include <cstring>
#include <vector>

#include "audio/QtStreams.h"
#include "audio/WaveSupport.h"
#include "common/Samples.h"

namespace qtaudio {

namespace {

// A playing block whose heard position stands still this long is given up (ms): the server
// stalled. A fresh or resuming sink may take a few hundred milliseconds to start.
constexpr qint64 kStallMs = 3000;

// Whether played samples go to the device as they are: floats never do, since NaN, infinities
// and values beyond full scale must not reach the server.
bool PlayedAsHeld(const WAVEFORMATEX& held, const QAudioFormat& device) {
    return SameBytes(held, device) && held.wFormatTag != WAVE_FORMAT_IEEE_FLOAT;
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
class QtWaveOut final : public QtOutput {
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

    MMRESULT Write(WAVEHDR* header) override {
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
    uint32_t Position() override {
        if (block_ != nullptr && sink_->state() != QAudio::StoppedState) heard_ = Measure();
        return heard_;
    }

    void Pause() override {
        if (block_ != nullptr) {
            heard_ = Measure();
            sink_->suspend();
        }
        paused_ = true;
    }

    // Stops at once; a block still queued comes back with one MM_WOM_DONE.
    void Reset() override {
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
    void Close() override {
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

}  // namespace

std::unique_ptr<QtOutput> OpenQtOutput(const QAudioDevice& device, const WAVEFORMATEX& held,
                                       const QAudioFormat& format, QObject* notify) {
    return std::make_unique<QtWaveOut>(device, held, format, notify);
}

}  // namespace qtaudio

// The Qt back-end's capture: queued blocks filled from what a QAudioSource pushes.
#include <QAudioSource>
#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>
#include <algorithm>
#include <cstring>
#include <deque>

#include "audio/QtStreams.h"
#include "audio/WaveSupport.h"

namespace qtaudio {

namespace {

// A capture stream that delivers nothing this long while blocks wait is given up (ms); a new
// stream may take longer to deliver its first sound.
constexpr qint64 kCaptureStallMs = 1000;
constexpr qint64 kCaptureStartMs = 3000;

// Fills queued blocks in order from what the source pushes; a full block is reported at once.
// A stream that stops delivering is given up as a lost server is: its blocks come back.
// The source is always stopped before it is retired: Qt 6.4 may otherwise run a pending read on
// a freed stream and abort.
class QtWaveIn final : public QtInput {
  public:
    // Captures in the device's format, whose bytes are the held ones.
    QtWaveIn(const QAudioDevice& device, const QAudioFormat& format, QObject* notify)
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

    bool Queued(const WAVEHDR* header) const override {
        return std::find(queue_.begin(), queue_.end(), header) != queue_.end();
    }

    // A block handed back after the stream has gone is refused, so that it is not lost silently.
    MMRESULT AddBuffer(WAVEHDR* header) override {
        if (lost_) return MMSYSERR_ERROR;
        if (queue_.empty()) deliveryClock_.start();  // the stream was not asked for sound
        header->dwBytesRecorded = 0;
        header->dwFlags = (header->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
        queue_.push_back(header);
        ReadAvailable();  // sound that waited for a block
        return MMSYSERR_NOERROR;
    }

    MMRESULT Start() override {
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
    void Reset() override {
        ReadAvailable();
        StopSource();
        ReturnQueued(queue_, notify_);
    }

    // Closing drops blocks still queued without a message: their owner takes them back.
    void Close() override {
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

}  // namespace

std::unique_ptr<QtInput> OpenQtInput(const QAudioDevice& device, const QAudioFormat& format,
                                     QObject* notify) {
    return std::make_unique<QtWaveIn>(device, format, notify);
}

}  // namespace qtaudio

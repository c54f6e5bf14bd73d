// Helpers of the end-to-end audio tests: tones and their analysis, device event logs, a monitor
// recorder (parec on the test sink's monitor), child runs of the test binary and a private
// sound server that a test can kill. All times are ms on one steady clock (NowMs).
#pragma once
#include <QByteArray>
#include <QObject>
#include <QProcess>
#include <QString>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "audio/WaveAudio.h"

namespace audiotest {

constexpr int kRate = 44100;
constexpr uint32_t kToneBytes = kRate * 2;  // one second, 16-bit mono

// A gap of silence inside a recorded tone longer than this (samples) is a dropout.
constexpr size_t kDropoutSamples = 20;

double NowMs();
// This process's resident memory (KiB, VmRSS of /proc/self/status), or -1.
long RssKb();
// A sine of amplitude 12000 at `hz`, 16-bit mono at kRate.
std::vector<int16_t> Tone(double hz, double seconds);
std::vector<int16_t> ToSamples(const QByteArray& bytes);

// Where a tone lies in a recording: the first and last sample louder than a quiet threshold,
// the frequency from its rising zero crossings, and the longest quiet gap inside it.
struct ToneSpan {
    bool found = false;
    size_t first = 0, last = 0;  // sample indices
    double seconds = 0, hz = 0;
    size_t longestGap = 0;  // samples
};
ToneSpan FindTone(const std::vector<int16_t>& s);

// The largest step between neighbouring samples from index `from` on, and where it is: a sine of
// amplitude A at f Hz never steps more than 2 pi f A / rate, while a lost or repeated piece of
// sound jumps.
struct Step {
    int size = 0;
    size_t at = 0;  // sample index of the step's second sample
};
Step LargestStep(const std::vector<int16_t>& s, size_t from = 0);

// A new capture stream starts with the server's own transient (PipeWire resamples its 48 kHz
// graph to the client's rate): its first samples (measured: the first 3; 64 is 1.5 ms) are
// compared only with the start of a parec stream, never with the steady tone.
constexpr size_t kStreamStartSamples = 64;

// What the server's own tools give for the same sound in the same run, to compare like with
// like: the test sink's monitor while paplay plays `wavPath`, and 5 capture blocks' worth of
// the microphone in parec while pacat plays the raw 16-bit mono `rawPath` into the sink.
std::vector<int16_t> MonitorOfPaplay(const QString& wavPath);
std::vector<int16_t> ParecWhilePacat(const QString& rawPath);
// The same pacat that ParecWhilePacat uses, for a capture through the back-end.
void StartPacat(QProcess& pacat, const QString& rawPath);

// Collects the device events with the time they were handled.
class EventLog : public QObject {
  public:
    struct Entry {
        int message;
        WAVEHDR* header;
        double ms;
    };
    std::vector<Entry> entries;
    std::function<void(const Entry&)> onEvent;

  protected:
    bool event(QEvent* e) override;
};

// parec on the test sink's monitor, with the time each chunk of sound arrived.
class MonitorRecorder {
  public:
    // Starts recording; true once sound flows.
    bool Start();
    std::vector<int16_t> Stop();
    // The time the sample at `index` reached us (ms), or -1 if it never did before the stop.
    double ArrivalMs(size_t index) const;

  private:
    QProcess process_;
    QByteArray data_;
    std::vector<std::pair<double, qsizetype>> arrivals_;
};

// True when the test sound server is running (PULSE_SERVER set by scripts/test).
bool HaveServer();
// The kind of test server scripts/sound-server-start started ("pulseaudio" or "pipewire").
std::string ServerName();

// Runs one disabled test of this binary in a child process with `env` ("NAME=value") added;
// returns its exit code and its output.
int RunChild(const QString& test, const QStringList& env, QByteArray* output);

// A private sound server in `dir` that a test can stop, kill and bring back at one address.
class PrivateServer {
  public:
    explicit PrivateServer(QString dir) : dir_(std::move(dir)) {}
    ~PrivateServer() { Kill(); }
    QString Address() const { return "unix:" + dir_ + "/pulse.sock"; }
    // Starts the server (null sink "dying_sink", microphone "dying_mic"); true once it answers.
    bool Start();
    void Kill();
    void Signal(int signal);

  private:
    QString dir_;
    QProcess server_;
};

}  // namespace audiotest

#include "e2e/AudioTestSupport.h"

#include <signal.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <string>

namespace audiotest {

namespace {
QElapsedTimer& Clock() {
    static QElapsedTimer clock;
    if (!clock.isValid()) clock.start();
    return clock;
}
}  // namespace

long RssKb() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    return -1;
}

double NowMs() { return Clock().nsecsElapsed() / 1e6; }

std::vector<int16_t> Tone(double hz, double seconds) {
    std::vector<int16_t> s(static_cast<size_t>(seconds * kRate));
    for (size_t i = 0; i < s.size(); ++i)
        s[i] = static_cast<int16_t>(std::lround(12000 * std::sin(2 * M_PI * hz * i / kRate)));
    return s;
}

std::vector<int16_t> ToSamples(const QByteArray& bytes) {
    std::vector<int16_t> s(bytes.size() / 2);
    std::memcpy(s.data(), bytes.constData(), s.size() * 2);
    return s;
}

ToneSpan FindTone(const std::vector<int16_t>& s) {
    constexpr int kLoud = 1500;
    ToneSpan t;
    for (size_t i = 0; i < s.size(); ++i) {
        if (std::abs(s[i]) < kLoud) continue;
        if (!t.found) t.first = i;
        t.found = true;
        t.last = i;
    }
    if (!t.found) return t;
    t.seconds = double(t.last - t.first + 1) / kRate;
    int rising = 0;
    size_t gap = 0;
    for (size_t i = t.first + 1; i <= t.last; ++i) {
        if (s[i - 1] < 0 && s[i] >= 0) ++rising;
        gap = std::abs(s[i]) < kLoud ? gap + 1 : 0;
        t.longestGap = std::max(t.longestGap, gap);
    }
    t.hz = rising / t.seconds;
    return t;
}

Step LargestStep(const std::vector<int16_t>& s, size_t from) {
    Step largest;
    for (size_t i = std::max<size_t>(from, 1); i < s.size(); ++i)
        if (std::abs(s[i] - s[i - 1]) > largest.size) largest = {std::abs(s[i] - s[i - 1]), i};
    return largest;
}

std::vector<int16_t> MonitorOfPaplay(const QString& wavPath) {
    MonitorRecorder monitor;
    if (!monitor.Start()) return {};
    QProcess paplay;
    paplay.start("paplay", {"--device=test_sink", wavPath});
    paplay.waitForFinished(10000);
    QTest::qWait(300);
    return monitor.Stop();
}

void StartPacat(QProcess& pacat, const QString& rawPath) {
    pacat.start("pacat", {"--playback", "--device=test_sink", "--latency-msec=200", "--raw",
                          "--rate=44100", "--channels=1", "--format=s16le", rawPath});
    pacat.waitForStarted(5000);
    QTest::qWait(500);
}

std::vector<int16_t> ParecWhilePacat(const QString& rawPath) {
    QProcess pacat;
    StartPacat(pacat, rawPath);
    QProcess parec;
    parec.start("parec", {"--device=test_mic", "--latency-msec=20", "--raw", "--rate=44100",
                          "--channels=1", "--format=s16le"});
    QByteArray data;
    static_cast<void>(QTest::qWaitFor(
        [&] {
            data += parec.readAllStandardOutput();
            return data.size() >= 5 * 8820;
        },
        5000));
    parec.terminate();
    parec.waitForFinished(3000);
    pacat.terminate();
    pacat.waitForFinished(3000);
    return ToSamples(data.left(5 * 8820));
}

bool EventLog::event(QEvent* e) {
    if (e->type() != WaveAudioEvent::EventType()) return QObject::event(e);
    auto* audio = static_cast<WaveAudioEvent*>(e);
    entries.push_back({audio->message, audio->header, NowMs()});
    if (onEvent) onEvent(entries.back());
    return true;
}

bool MonitorRecorder::Start() {
    QObject::connect(&process_, &QProcess::readyReadStandardOutput, [this] {
        data_ += process_.readAllStandardOutput();
        arrivals_.push_back({NowMs(), data_.size() / 2});
    });
    process_.start("parec", {"--device=test_sink.monitor", "--latency-msec=20", "--raw",
                             "--rate=44100", "--channels=1", "--format=s16le"});
    // Ready once a tenth of a second has come through.
    return process_.waitForStarted(5000) &&
           QTest::qWaitFor([this] { return data_.size() >= kRate / 5; }, 5000);
}

std::vector<int16_t> MonitorRecorder::Stop() {
    process_.terminate();
    process_.waitForFinished(3000);
    data_ += process_.readAllStandardOutput();
    return ToSamples(data_);
}

double MonitorRecorder::ArrivalMs(size_t index) const {
    for (const auto& [ms, samples] : arrivals_)
        if (static_cast<size_t>(samples) > index) return ms;
    return -1;
}

bool HaveServer() { return !qEnvironmentVariableIsEmpty("PULSE_SERVER"); }

std::string ServerName() {
    const QString kind = qEnvironmentVariable("SONABI_SOUND_SERVER");
    return kind.isEmpty() ? "pulseaudio" : kind.toStdString();
}

int RunChild(const QString& test, const QStringList& env, QByteArray* output) {
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const QString& kv : env) environment.insert(kv.section('=', 0, 0), kv.section('=', 1));
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(),
                {"--gtest_also_run_disabled_tests", "--gtest_filter=" + test});
    if (!child.waitForFinished(60000)) child.kill();
    *output = child.readAll();
    return child.exitStatus() == QProcess::NormalExit ? child.exitCode() : -1;
}

bool PrivateServer::Start() {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_RUNTIME_DIR", dir_);
    env.insert("PULSE_SERVER", Address());
    server_.setProcessEnvironment(env);
    server_.setStandardOutputFile(QProcess::nullDevice());
    server_.setStandardErrorFile(QProcess::nullDevice());
    server_.start(
        "pulseaudio",
        {"-n", "--daemonize=no", "--exit-idle-time=-1", "--disallow-exit", "--use-pid-file=no",
         "--log-target=file:" + dir_ + "/pulse.log",
         "--load=module-native-protocol-unix socket=" + dir_ + "/pulse.sock auth-anonymous=1",
         "--load=module-null-sink sink_name=dying_sink rate=44100",
         "--load=module-remap-source master=dying_sink.monitor source_name=dying_mic"});
    if (!server_.waitForStarted(5000)) return false;
    for (int i = 0; i < 100; ++i) {
        QProcess info;
        info.setProcessEnvironment(env);
        info.start("pactl", {"info"});
        if (info.waitForFinished(2000) && info.exitCode() == 0) return true;
        QTest::qWait(100);
    }
    return false;
}

void PrivateServer::Kill() {
    if (server_.state() == QProcess::NotRunning) return;
    Signal(SIGKILL);
    server_.waitForFinished(5000);
}

void PrivateServer::Signal(int signal) { ::kill(static_cast<pid_t>(server_.processId()), signal); }

}  // namespace audiotest

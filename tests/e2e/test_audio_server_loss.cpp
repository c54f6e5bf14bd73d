// The Qt Multimedia back-end when the sound server dies or stalls mid-stream: the blocks come
// back so that nothing waits for ever, starts fail with a clear text while the server is away,
// and the device works again once it is back. Each case runs in a child process of its own
// against a private server that it can kill (Qt keeps its first connection to the server).
#include <gtest/gtest.h>
#include <signal.h>

#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <vector>

#include "audio/WaveAudio.h"
#include "e2e/AudioTestSupport.h"

namespace {

using namespace audiotest;

// Runs one child test against a private server of its own (the child starts it).
void RunWithPrivateServer(const QString& childTest) {
    QTemporaryDir dir("/tmp/sonabi-private.XXXXXX");
    ASSERT_TRUE(dir.isValid());
    QByteArray output;
    const int code = RunChild(childTest,
                              {"SONABI_PRIVATE_SERVER_DIR=" + dir.path(),
                               "PULSE_SERVER=unix:" + dir.path() + "/pulse.sock"},
                              &output);
    EXPECT_EQ(code, 0) << output.constData();
    EXPECT_TRUE(output.contains("[  PASSED  ] 1 test")) << output.constData();
    for (const QByteArray& line : output.split('\n'))
        if (line.startsWith("[ measured ]")) std::printf("%s\n", line.constData());
}

// Two capture blocks of 0.1 s of 16-bit mono.
struct TwoBlocks {
    std::vector<char> bufferA = std::vector<char>(8820), bufferB = std::vector<char>(8820);
    WAVEHDR a{}, b{};
    TwoBlocks() {
        a.lpData = bufferA.data();
        b.lpData = bufferB.data();
        a.dwBufferLength = b.dwBufferLength = 8820;
    }
};

// Opens the default input, queues both blocks and starts capture.
void StartCapture(WaveAudio& audio, EventLog& log, TwoBlocks& blocks, HWAVEIN& in) {
    ASSERT_EQ(audio.waveInOpen(&in, MakePcmFormat(1, 16, kRate), &log), MMSYSERR_NOERROR);
    for (WAVEHDR* h : {&blocks.a, &blocks.b}) {
        ASSERT_EQ(audio.waveInPrepareHeader(in, h), MMSYSERR_NOERROR);
        ASSERT_EQ(audio.waveInAddBuffer(in, h), MMSYSERR_NOERROR);
    }
    ASSERT_EQ(audio.waveInStart(in), MMSYSERR_NOERROR);
}

TEST(RealAudioServerDeath, BlocksComeBackAndTheNextOpenWorks) {
    if (!HaveServer()) GTEST_SKIP() << "PULSE_SERVER is not set: no test sound server";
    RunWithPrivateServer("RealAudioChild.DISABLED_ServerDies");
}

TEST(RealAudioServerDeath, AStalledServerDoesNotHoldTheBlockForEver) {
    if (!HaveServer()) GTEST_SKIP() << "PULSE_SERVER is not set: no test sound server";
    RunWithPrivateServer("RealAudioChild.DISABLED_ServerStalls");
}

TEST(RealAudioChild, DISABLED_ServerDies) {
    PrivateServer server(qEnvironmentVariable("SONABI_PRIVATE_SERVER_DIR"));
    ASSERT_TRUE(server.Start());
    std::unique_ptr<WaveAudio> audio = CreateQtWaveAudio();
    EventLog log;

    std::vector<int16_t> tone = Tone(440, 3.0);
    WAVEHDR played;
    played.lpData = reinterpret_cast<char*>(tone.data());
    played.dwBufferLength = static_cast<uint32_t>(tone.size() * 2);
    HWAVEOUT out = nullptr;
    ASSERT_EQ(audio->waveOutOpen(&out, MakePcmFormat(1, 16, kRate), &log), MMSYSERR_NOERROR);
    ASSERT_EQ(audio->waveOutPrepareHeader(out, &played), MMSYSERR_NOERROR);
    ASSERT_EQ(audio->waveOutWrite(out, &played), MMSYSERR_NOERROR);

    TwoBlocks blocks;
    WAVEHDR &a = blocks.a, &b = blocks.b;
    HWAVEIN in = nullptr;
    ASSERT_NO_FATAL_FAILURE(StartCapture(*audio, log, blocks, in));
    // A fresh null sink takes a moment to start playing.
    MMTIME early;
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return audio->waveOutGetPosition(out, &early) == 0 && early.cb > 0; }, 3000));
    QTest::qWait(200);
    audio->waveOutGetPosition(out, &early);

    // The server dies mid-stream: the output block and both capture blocks come back.
    const size_t before = log.entries.size();
    const double killedMs = NowMs();
    server.Kill();
    auto count = [&](int message) {
        return std::count_if(log.entries.begin() + before, log.entries.end(),
                             [message](const EventLog::Entry& e) { return e.message == message; });
    };
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return count(MM_WOM_DONE) == 1 && !(a.dwFlags & WHDR_INQUEUE) &&
                   !(b.dwFlags & WHDR_INQUEUE);
        },
        5000));
    const double tookMs = log.entries.empty() ? -1 : log.entries.back().ms - killedMs;
    MMTIME time;
    ASSERT_EQ(audio->waveOutGetPosition(out, &time), MMSYSERR_NOERROR);
    EXPECT_LT(time.cb, played.dwBufferLength);
    EXPECT_GE(time.cb, early.cb) << "the position heard before the death is kept";
    std::printf("[ measured ] server killed: blocks back after %.0f ms, output position %u\n",
                tookMs, time.cb);
    EXPECT_EQ(audio->waveOutReset(out), MMSYSERR_NOERROR);
    EXPECT_EQ(audio->waveOutUnprepareHeader(out, &played), MMSYSERR_NOERROR);
    EXPECT_EQ(audio->waveOutClose(out), MMSYSERR_NOERROR);
    EXPECT_EQ(audio->waveInReset(in), MMSYSERR_NOERROR);
    EXPECT_EQ(audio->waveInUnprepareHeader(in, &a), MMSYSERR_NOERROR);
    EXPECT_EQ(audio->waveInUnprepareHeader(in, &b), MMSYSERR_NOERROR);
    EXPECT_EQ(audio->waveInClose(in), MMSYSERR_NOERROR);
    QTest::qWait(100);
    EXPECT_EQ(count(MM_WOM_DONE), 1);

    // While it is away, starting fails with the clear text (the open itself may still pass:
    // Qt keeps its list of devices).
    WAVEHDR again;
    again.lpData = reinterpret_cast<char*>(tone.data());
    again.dwBufferLength = kRate * 2 / 5;
    MMRESULT away = audio->waveOutOpen(&out, MakePcmFormat(1, 16, kRate), &log);
    if (away == MMSYSERR_NOERROR) {
        EXPECT_EQ(audio->waveOutPrepareHeader(out, &again), MMSYSERR_NOERROR);
        away = audio->waveOutWrite(out, &again);
        EXPECT_EQ(audio->waveOutUnprepareHeader(out, &again), MMSYSERR_NOERROR);
        EXPECT_EQ(audio->waveOutClose(out), MMSYSERR_NOERROR);
    }
    EXPECT_EQ(audio->waveOutGetErrorText(away), "No audio output device");
    away = audio->waveInOpen(&in, MakePcmFormat(1, 16, kRate), &log);
    if (away == MMSYSERR_NOERROR) {
        away = audio->waveInStart(in);
        EXPECT_EQ(audio->waveInClose(in), MMSYSERR_NOERROR);
    }
    EXPECT_EQ(audio->waveInGetErrorText(away), "No audio input device");

    // Qt tries once to reconnect, 3 s after it lost the server: a server back by then is used.
    ASSERT_TRUE(server.Start());
    QTest::qWait(4000);
    const MMRESULT reopened = audio->waveOutOpen(&out, MakePcmFormat(1, 16, kRate), &log);
    ASSERT_EQ(reopened, MMSYSERR_NOERROR) << audio->waveOutGetErrorText(reopened);
    ASSERT_EQ(audio->waveOutPrepareHeader(out, &again), MMSYSERR_NOERROR);
    const size_t beforeAgain = log.entries.size();
    ASSERT_EQ(audio->waveOutWrite(out, &again), MMSYSERR_NOERROR);
    EXPECT_TRUE(QTest::qWaitFor([&] { return log.entries.size() > beforeAgain; }, 3000));
    ASSERT_EQ(audio->waveOutGetPosition(out, &time), MMSYSERR_NOERROR);
    EXPECT_EQ(time.cb, again.dwBufferLength);
    EXPECT_EQ(audio->waveOutUnprepareHeader(out, &again), MMSYSERR_NOERROR);
    EXPECT_EQ(audio->waveOutClose(out), MMSYSERR_NOERROR);
}

TEST(RealAudioChild, DISABLED_ServerStalls) {
    PrivateServer server(qEnvironmentVariable("SONABI_PRIVATE_SERVER_DIR"));
    ASSERT_TRUE(server.Start());
    std::unique_ptr<WaveAudio> audio = CreateQtWaveAudio();
    EventLog log;
    std::vector<int16_t> tone = Tone(440, 10.0);
    WAVEHDR played;
    played.lpData = reinterpret_cast<char*>(tone.data());
    played.dwBufferLength = static_cast<uint32_t>(tone.size() * 2);
    HWAVEOUT out = nullptr;
    ASSERT_EQ(audio->waveOutOpen(&out, MakePcmFormat(1, 16, kRate), &log), MMSYSERR_NOERROR);
    ASSERT_EQ(audio->waveOutPrepareHeader(out, &played), MMSYSERR_NOERROR);
    ASSERT_EQ(audio->waveOutWrite(out, &played), MMSYSERR_NOERROR);
    MMTIME time;
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return audio->waveOutGetPosition(out, &time) == 0 && time.cb > 0; }, 3000));

    // Capture runs beside it; its first block comes back filled and is handed back again.
    EventLog inLog;
    TwoBlocks blocks;
    WAVEHDR &a = blocks.a, &b = blocks.b;
    HWAVEIN in = nullptr;
    ASSERT_NO_FATAL_FAILURE(StartCapture(*audio, inLog, blocks, in));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !inLog.entries.empty(); }, 3000));
    ASSERT_EQ(inLog.entries[0].header, &a);
    ASSERT_EQ(a.dwBytesRecorded, a.dwBufferLength);
    ASSERT_EQ(audio->waveInAddBuffer(in, &a), MMSYSERR_NOERROR);
    inLog.entries.clear();

    // The server stops answering: capture gives its blocks back within about a second, the
    // output block where it stood after a few seconds.
    server.Signal(SIGSTOP);
    const double stoppedMs = NowMs();
    EXPECT_TRUE(QTest::qWaitFor([&] { return inLog.entries.size() >= 2; }, 3000));
    const double inBackMs = inLog.entries.empty() ? -1 : inLog.entries.back().ms - stoppedMs;
    EXPECT_LT(inBackMs, 1500);
    EXPECT_FALSE((a.dwFlags | b.dwFlags) & WHDR_INQUEUE);
    EXPECT_LT(a.dwBytesRecorded + b.dwBytesRecorded, 2 * 8820u) << "the stalled stream gave all";
    EXPECT_TRUE(QTest::qWaitFor([&] { return !log.entries.empty(); }, 8000));
    server.Signal(SIGCONT);
    // A block handed back to the dead stream is refused, not kept for ever.
    EXPECT_NE(audio->waveInAddBuffer(in, &a), MMSYSERR_NOERROR);
    EXPECT_FALSE(a.dwFlags & WHDR_INQUEUE);
    std::printf("[ measured ] capture stalled: blocks back after %.0f ms, %u + %u bytes\n",
                inBackMs, a.dwBytesRecorded, b.dwBytesRecorded);
    EXPECT_EQ(audio->waveInReset(in), MMSYSERR_NOERROR);
    EXPECT_EQ(audio->waveInUnprepareHeader(in, &a), MMSYSERR_NOERROR);
    EXPECT_EQ(audio->waveInUnprepareHeader(in, &b), MMSYSERR_NOERROR);
    EXPECT_EQ(audio->waveInClose(in), MMSYSERR_NOERROR);
    ASSERT_EQ(log.entries.size(), 1u);
    EXPECT_EQ(log.entries[0].message, MM_WOM_DONE);
    ASSERT_EQ(audio->waveOutGetPosition(out, &time), MMSYSERR_NOERROR);
    EXPECT_LT(time.cb, played.dwBufferLength / 2);
    std::printf("[ measured ] server stalled: block back after %.0f ms at %u bytes\n",
                log.entries[0].ms - stoppedMs, time.cb);
    EXPECT_EQ(audio->waveOutReset(out), MMSYSERR_NOERROR);
    EXPECT_EQ(audio->waveOutUnprepareHeader(out, &played), MMSYSERR_NOERROR);
    EXPECT_EQ(audio->waveOutClose(out), MMSYSERR_NOERROR);
    QTest::qWait(100);
    EXPECT_EQ(log.entries.size(), 1u);
}

}  // namespace

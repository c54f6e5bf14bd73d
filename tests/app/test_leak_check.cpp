// The sanitizer run must report our own leaks, also those made inside Qt's event loop (a device
// message handler, a timer), whose stacks pass through Qt and glib frames that the suppression
// file must therefore not name. A child run of this binary leaks on purpose and LeakSanitizer,
// with the suppressions CI uses, has to say so. Only meaningful in the AddressSanitizer build.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEvent>
#include <QProcess>
#include <QTimer>

#if defined(__SANITIZE_ADDRESS__)
#define SONABI_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define SONABI_ASAN 1
#endif
#endif

namespace {

// Where the deliberate leaks are kept reachable only until the child's test ends.
void* volatile g_sink = nullptr;

class LeakingReceiver : public QObject {
  protected:
    bool event(QEvent* e) override {
        if (e->type() != QEvent::User) return QObject::event(e);
        LeakFromAnEventHandler();
        return true;
    }

  private:
    __attribute__((noinline)) static void LeakFromAnEventHandler() {
        g_sink = new char[4321];
        g_sink = nullptr;
    }
};

__attribute__((noinline)) void LeakFromATimer() {
    g_sink = new char[1234];
    g_sink = nullptr;
}

TEST(LeakCheck, DISABLED_LeaksInsideTheEventLoop) {
    LeakingReceiver receiver;
    QCoreApplication::postEvent(&receiver, new QEvent(QEvent::User));
    QTimer::singleShot(0, [] { LeakFromATimer(); });
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
    SUCCEED();
}

TEST(LeakCheck, OurLeaksAreReportedDespiteTheSuppressions) {
#ifndef SONABI_ASAN
    GTEST_SKIP() << "not built with AddressSanitizer";
#else
    if (!qEnvironmentVariable("LSAN_OPTIONS").contains("suppressions="))
        GTEST_SKIP() << "LSAN_OPTIONS names no suppression file: nothing to prove";
    QProcess child;
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(),
                {"--gtest_also_run_disabled_tests", "--gtest_filter=LeakCheck.DISABLED_*"});
    ASSERT_TRUE(child.waitForFinished(60000));
    const QByteArray output = child.readAll();
    EXPECT_NE(child.exitCode(), 0) << output.constData();
    EXPECT_TRUE(output.contains("detected memory leaks")) << output.constData();
    EXPECT_TRUE(output.contains("LeakFromAnEventHandler")) << output.constData();
    EXPECT_TRUE(output.contains("LeakFromATimer")) << output.constData();
#endif
}

}  // namespace

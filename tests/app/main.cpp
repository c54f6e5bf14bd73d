// Widget tests run offscreen inside one QApplication.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    QApplication::setApplicationName("Sonabi");
    // Takes and settings go to folders of this run, never the user's own; a child run of the
    // tests that is given its folders keeps them.
    QTemporaryDir home;
    if (qEnvironmentVariableIsEmpty("SONABI_TEST_KEEP_XDG")) {
        qputenv("XDG_DATA_HOME", (home.path() + "/data").toLocal8Bit());
        qputenv("XDG_CONFIG_HOME", (home.path() + "/config").toLocal8Bit());
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

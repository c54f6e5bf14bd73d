// End-to-end tests run inside one QApplication (offscreen unless a platform is given); tests
// that need a fresh process run the same binary again as a child.
#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationName("Sonabi");
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

// Program entry: the application object with its title, the one window, the message loop. A WAV
// file path given by the desktop ("Open with") is opened once the window is up.
#include <QApplication>
#include <QIcon>
#include <QTimer>
#include <cstdio>

#include "LaunchArguments.h"
#include "form/TFormMain.h"
#include "toolkit/AppServices.h"

using namespace sonabi;

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Sonabi");
    // Ties the window to its installed .desktop entry and icon (Wayland app id, task bars).
    QGuiApplication::setDesktopFileName("io.github.sonabi.Sonabi");
    QApplication::setWindowIcon(QIcon::fromTheme("io.github.sonabi.Sonabi"));
    AppServices::Instance().Title = "Sonabi";
    LoadToolkitTranslations();

    const LaunchArguments launch = ParseLaunchArguments(QApplication::arguments().mid(1));
    if (!launch.ignored.isEmpty()) {
        std::fputs(IgnoredArgumentsLine(launch.ignored).toLocal8Bit().constData(), stderr);
    }

    TFormMain form;
    form.show();
    if (!launch.path.isEmpty()) {
        QTimer::singleShot(0, &form, [&form, path = launch.path] { form.OpenPath(path); });
    }
    return app.exec();
}

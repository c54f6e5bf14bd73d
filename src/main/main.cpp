// Program entry: the application object with its title, the one window, the message loop.
#include <QApplication>

#include "main/TFormMain.h"
#include "toolkit/AppServices.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Sonabi");
    AppServices::Instance().Title = "Sonabi";
    TFormMain form;
    form.show();
    return app.exec();
}

#include "toolkit/AppServices.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QProcess>

AppServices& AppServices::Instance() {
    static AppServices services = [] {
        AppServices s;
        s.UseRealServices();
        return s;
    }();
    return services;
}

void AppServices::UseRealServices() {
    MessageBox = [this](const QString& text, const QString& caption) {
        QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok, Parent);
        box.exec();
    };
    Confirm = [this](const QString& text) {
        const auto button = QMessageBox::question(
            Parent, Title, text, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        return button == QMessageBox::Yes  ? Answer::Yes
               : button == QMessageBox::No ? Answer::No
                                           : Answer::Cancel;
    };
    // The dialogs' filters are "description|pattern|description|pattern..." pairs, patterns
    // separated by ';'.
    auto toQtFilter = [](const QString& filter) {
        const QStringList parts = filter.split('|');
        if (parts.size() < 2) return filter;
        QStringList entries;
        for (qsizetype i = 0; i + 1 < parts.size(); i += 2)
            entries << QString("%1 (%2)").arg(parts[i], QString(parts[i + 1]).replace(';', ' '));
        return entries.join(";;");
    };
    OpenFileName = [this, toQtFilter](const QString& filter) {
        return QFileDialog::getOpenFileName(Parent, QString(), QString(), toQtFilter(filter));
    };
    SaveFileName = [this, toQtFilter](const QString& filter) {
        // The window asks its own overwrite question.
        return QFileDialog::getSaveFileName(Parent, QString(), QString(), toQtFilter(filter),
                                            nullptr, QFileDialog::DontConfirmOverwrite);
    };
    FileExists = [](const QString& path) { return QFileInfo(path).isFile(); };
    StartProgram = [](const QString& program, const QStringList& arguments) {
        QProcess::startDetached(program, arguments);
    };
}

#include "toolkit/AppServices.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QProcess>
#include <QTranslator>

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

bool LoadToolkitTranslations() {
    // The interface is Japanese whatever the desktop's language, so the toolkit's texts are too.
    static QTranslator translator;
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    if (!translator.load(QLocale(QLocale::Japanese, QLocale::Japan), "qtbase", "_", folder))
        return false;
    return QCoreApplication::installTranslator(&translator);
}

std::string NativePath(const QString& path) { return QFile::encodeName(path).toStdString(); }

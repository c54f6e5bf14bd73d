// The application object's services that the window uses: modal message boxes, the overwrite
// question, the file dialogs, the file-exists test and starting an external program. Each is a
// replaceable function so tests can record the texts shown and answer the dialogs.
#pragma once
#include <QString>
#include <QStringList>
#include <functional>
#include <string>

class QWidget;

enum class Answer { Yes, No, Cancel };

// A path chosen in a dialog as the bytes the file system knows it by (every file the window
// reads or writes goes through this, so a name that is not UTF-8 opens as it was listed).
std::string NativePath(const QString& path);

struct AppServices {
    // Modal box with one OK button and no icon; runs a nested event loop.
    std::function<void(const QString& text, const QString& caption)> MessageBox;
    // Yes/No/Cancel confirmation.
    std::function<Answer(const QString& text)> Confirm;
    // Return the chosen path, or an empty string when cancelled.
    std::function<QString(const QString& filter)> OpenFileName;
    std::function<QString(const QString& filter)> SaveFileName;
    std::function<bool(const QString& path)> FileExists;
    // Starts a program without waiting; the result is not looked at.
    std::function<void(const QString& program, const QStringList& arguments)> StartProgram;

    QString Title = "Sonabi";  // the application title, caption of plain boxes
    QWidget* Parent = nullptr;

    // The real services (Qt dialogs); tests replace members afterwards.
    static AppServices& Instance();
    void UseRealServices();
};

// Makes the toolkit's own texts (the file dialogs, the Yes/No/Cancel buttons) Japanese like the
// rest of the interface, from Qt's translations (Debian qt6-translations-l10n). Texts without a
// translation stay English. Returns whether the translations were found.
bool LoadToolkitTranslations();

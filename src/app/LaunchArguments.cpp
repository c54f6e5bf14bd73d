#include "LaunchArguments.h"

#include <QUrl>

LaunchArguments ParseLaunchArguments(const QStringList& args) {
    LaunchArguments result;
    bool optionsEnded = false;
    for (const QString& arg : args) {
        if (!optionsEnded && arg == "--") {
            optionsEnded = true;
            continue;
        }
        const bool option = !optionsEnded && arg.startsWith('-');
        QString path = arg;
        if (arg.startsWith("file:", Qt::CaseInsensitive)) path = QUrl(arg).toLocalFile();
        if (option || path.isEmpty() || !result.path.isEmpty()) {
            result.ignored << arg;
            continue;
        }
        result.path = path;
    }
    return result;
}

QString IgnoredArgumentsLine(const QStringList& ignored) {
    QStringList quoted;
    for (const QString& arg : ignored) quoted << '"' + arg + '"';
    return "sonabi: ignored " + quoted.join(' ') + " (the only argument taken is one WAV file)\n";
}

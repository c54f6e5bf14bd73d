// The program's command line: the only argument taken is the path of one WAV file, as the
// desktop passes it for "Open with" (Exec=sonabi %f). Everything else is reported and ignored;
// no argument configures the program.
#pragma once
#include <QString>
#include <QStringList>

struct LaunchArguments {
    QString path;         // the file to open after start-up; empty when none was given
    QStringList ignored;  // options and every path after the first, in the order given
};

// args: the arguments after the program name, with Qt's own options already taken out by the
// application object. An argument starting with '-' is an option unless it follows "--";
// a "file:" URL is turned into its local path.
LaunchArguments ParseLaunchArguments(const QStringList& args);

// The one stderr line that reports ignored arguments, ending in '\n'.
QString IgnoredArgumentsLine(const QStringList& ignored);

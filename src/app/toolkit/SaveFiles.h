// Saving what a window makes: the save dialog with its overwrite question, and a whole file
// written so that the one it replaces stays until the new one is complete.
#pragma once
#include <QByteArray>
#include <QString>

// A name from the save dialog (filter "png|*.png") with its extension (".png"), once the user
// agrees to replace a file that is there; "" when cancelled.
QString AskSavePath(const QString& filter, const QString& extension);

// Writes bytes as the whole file at path; false when any step fails (the old file is kept).
bool WriteWhole(const QString& path, const QByteArray& bytes);

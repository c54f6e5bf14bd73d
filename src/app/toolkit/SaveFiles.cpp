#include "toolkit/SaveFiles.h"

#include <QSaveFile>

#include "toolkit/AppServices.h"

QString AskSavePath(const QString& filter, const QString& extension) {
    AppServices& app = AppServices::Instance();
    QString name = app.SaveFileName(filter);
    if (name.isEmpty()) return {};
    if (!name.endsWith(extension, Qt::CaseInsensitive)) name += extension;
    if (app.FileExists(name) &&
        app.Confirm(QString::fromUtf8("上書きしていいですか？ %1").arg(name)) != Answer::Yes)
        return {};
    return name;
}

bool WriteWhole(const QString& path, const QByteArray& bytes) {
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit();
}

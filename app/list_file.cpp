#include "app/list_file.h"

#include "app/durable_file.h"
#include "app/native_path.h"

#include <QFile>
#include <QSaveFile>

QStringList ReadListFile(const QString& dataPath)
{
    QFile file(NativePath(dataPath));
    QStringList lines;
    if (!file.open(QIODevice::ReadOnly))
        return lines;
    for (QByteArray line : file.readAll().split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        lines << QString::fromLatin1(line);
    }
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

bool WriteListFile(const QString& dataPath, const QStringList& lines, QString& error)
{
    QSaveFile file(NativePath(dataPath));
    if (file.open(QIODevice::WriteOnly)) {
        for (const QString& line : lines)
            file.write(line.toLatin1() + "\r\n");
        // The new content is on disk before it replaces the old one.
        if (SyncOpenFile(file) && file.commit()) {
            SyncFolderOf(NativePath(dataPath));
            return true;
        }
    }
    error = file.errorString();
    return false;
}

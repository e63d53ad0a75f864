#include "app/core/list_file.h"

#include "app/platform/durable_file.h"
#include "app/platform/native_path.h"

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

bool WriteListFile(const QString& dataPath, const QStringList& lines, QString& error, TListSync sync)
{
    QSaveFile file(NativePath(dataPath));
    if (file.open(QIODevice::WriteOnly)) {
        for (const QString& line : lines)
            file.write(line.toLatin1() + "\r\n");
        if (sync == TListSync::Later) {
            if (file.commit())
                return true;
        } else if (SyncOpenFile(file) && file.commit()) {
            // The new content was on disk before it replaced the old one.
            SyncFolderOf(NativePath(dataPath));
            return true;
        }
    }
    error = file.errorString();
    return false;
}

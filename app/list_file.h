#pragma once
// The run's list files ("temp\temp.lst", "temp\faxdata.lst"): one text line
// per entry, CR LF line ends, Latin-1.
#include <QString>
#include <QStringList>

// The lines of the file, or none when it cannot be read.
QStringList ReadListFile(const QString& dataPath);
// Replaces the file atomically and durably (synced before and after the
// switch); on failure returns false with the reason.
bool WriteListFile(const QString& dataPath, const QStringList& lines, QString& error);

#pragma once
// The run's list files ("temp\temp.lst", "temp\faxdata.lst"): one text line
// per entry, CR LF line ends, Latin-1.
#include <QString>
#include <QStringList>

// The lines of the file, or none when it cannot be read.
QStringList ReadListFile(const QString& dataPath);
// When a written list file reaches the disk: synced before and after the
// switch, or later, by the caller, together with other files.
enum class TListSync { Now, Later };
// Replaces the file atomically, and durably unless sync is Later; on failure
// returns false with the reason.
bool WriteListFile(const QString& dataPath, const QStringList& lines, QString& error,
                   TListSync sync = TListSync::Now);

#pragma once
// Making files survive a crash or a power cut: their data, and the folder
// entry that names them, reach stable storage before the program relies on
// them. Paths are native ones.
#include <QString>
#include <QStringList>

class QFileDevice;

// Flushes an open file's buffers and syncs its data; false on failure.
bool SyncOpenFile(QFileDevice& file);
// Opens the file, syncs its data and closes it again; false on failure.
bool SyncFile(const QString& path);
// Syncs the data of several closed files at once: writeback of all of them
// starts first, so the disk sees one batch instead of one wait per file.
// False, with the first path that failed, on failure.
bool SyncFiles(const QStringList& paths, QString& failed);
// Syncs a folder, so that its new, renamed or removed entries stay.
void SyncFolder(const QString& folder);
// Syncs the folder holding path.
void SyncFolderOf(const QString& path);
// Renames from to to (replacing to), without waiting for the disk; false,
// with the reason, on failure.
bool RenameReplacing(const QString& from, const QString& to, QString& error);
// Renames from to to (replacing to) and syncs the folders involved; false,
// with the reason, on failure.
bool RenameDurably(const QString& from, const QString& to, QString& error);

#pragma once
// Making files survive a crash or a power cut: their data, and the folder
// entry that names them, reach stable storage before the program relies on
// them. Paths are native ones.
#include <QString>

class QFileDevice;

// Flushes an open file's buffers and syncs its data; false on failure.
bool SyncOpenFile(QFileDevice& file);
// Opens the file, syncs its data and closes it again; false on failure.
bool SyncFile(const QString& path);
// Syncs the folder holding path, so that a new, renamed or removed entry stays.
void SyncFolderOf(const QString& path);
// Renames from to to (replacing to) and syncs the folders involved; false,
// with the reason, on failure.
bool RenameDurably(const QString& from, const QString& to, QString& error);

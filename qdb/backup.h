#pragma once
// A copy of a database file taken while other processes may write it.
#include <string>

namespace qdb {

// Writes a consistent, compact copy of the database file source to target:
// the database as one flush left it, holding only the bytes its index uses.
// Flushes write into the file, so the copy is read through one descriptor
// (a replaced file keeps the descriptor's bytes) and the index is read again
// when a flush changed it while it was read. A protected file
// is copied as it is: it is only ever replaced, never written into. The
// target is replaced in one step. Throws EQDBFileError when the source is
// not a database file or its index kept changing.
void BackupDatabase(const std::string& source, const std::string& target);

} // namespace qdb

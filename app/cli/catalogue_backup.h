#pragma once
// `pellimar --backup FILE`: a consistent, compact copy of "faxes.qdb" in the
// current folder, written to FILE in one step, also while other Pellimar
// processes write the catalogue.
#include <QString>
#include <QTextStream>

// 0 when the copy was written, 1 when the catalogue could not be read or
// the copy could not be written (the reason goes to err).
int RunCatalogueBackup(const QString& target, QTextStream& out, QTextStream& err);

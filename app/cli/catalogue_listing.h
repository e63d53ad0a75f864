#pragma once
// `pellimar --list`: every catalogue record of "faxes.qdb" in the current
// folder, one per line in key order: Status, Filename, Sender ID, Fax Date
// and eMail Date separated by tabs.
#include <QTextStream>

// 0 when the catalogue was listed (also when empty), 1 when it cannot be
// opened or a record cannot be read (that record is named on err and the
// others are still listed).
int RunCatalogueListing(QTextStream& out, QTextStream& err);

#pragma once
// `pellimar --list`: every catalogue record of "faxes.qdb" in the current
// folder, one per line in key order: Status, Filename, Sender ID, Fax Date
// and eMail Date separated by tabs.
#include <QTextStream>

// 0 when the catalogue was listed (also when empty), 1 when it cannot be
// opened or a record cannot be read (that record is named on err and the
// others are still listed). The records are read straight from the engine
// and written through out's buffer, flushed once at the end.
int RunCatalogueListing(QTextStream& out, QTextStream& err);

// The same listing, each record moved through the record panel's edit
// fields as the window shows it: the reference the listing must agree with.
int RunRecordViewListing(QTextStream& out, QTextStream& err);

#pragma once
// One download run without a window: the same run as the Download button's,
// hosted by the console; status-log lines go to the given stream.
#include "app/cli/console_host.h"

#include <QTextStream>

// A request that waits timeoutSeconds for the server without receiving a
// byte ends the run (status 4). Returns 0 when the run walked the whole
// mailbox and extracted every capture, non-zero when it could not connect
// (2), log in (3) or finish the scan (4), when the catalogue cannot record
// faxes (5), when another Pellimar is downloading into the folder (7), or
// when some captures could not be extracted (6; they are kept,
// see the log). When several things went wrong, the first one gives the
// status. With notify, a run that adds faxes tells the desktop, as a run
// from the window does. The stored mailbox settings come from readSetting.
int RunHeadlessFetch(QTextStream& out, int timeoutSeconds, bool notify, const TSettingReader& readSetting);

// Watches an IMAP mailbox without a window (TImapWatch) and runs a download
// whenever new mail arrives, until SIGTERM or SIGINT; then returns 0. Returns
// 2 at once when the mailbox is not an IMAP mailbox, 5 when the catalogue
// cannot record faxes.
int RunHeadlessWatch(QTextStream& out, int timeoutSeconds, bool notify, const TSettingReader& readSetting);

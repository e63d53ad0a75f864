#pragma once
// One download run without a window: the main window is created hidden and
// its Download button's code runs; status-log lines go to the given stream.
#include <QTextStream>

// A request that waits timeoutSeconds for the server without receiving a
// byte ends the run (status 4). Returns 0 when the run walked the whole mailbox, non-zero when it could not
// connect (2), log in (3) or finish the scan (4), or when
// the catalogue cannot record faxes (5). With notify, a run that adds faxes
// tells the desktop, as a run from the window does.
int RunHeadlessFetch(QTextStream& out, int timeoutSeconds, bool notify = false);

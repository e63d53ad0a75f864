#pragma once
// pellimar --print FAX.apf [--printer NAME] [--pages FROM-TO] [--multipage]
//                          [--output FILE.pdf]
// prints a fax without a window, through the same printer component as the
// viewer window, with its header "FILE: $F" and footer "PAGE: $P of $N".
#include <QStringList>
#include <QTextStream>

// `args` are the arguments after --print. Without --printer the job goes to
// the default printer; --output writes a PDF file instead. Returns 0 on
// success, 1 for a file that is not a readable fax (or of which no page
// could be printed), 2 for wrong arguments (also an output file that is the
// fax), 3 for a printer error (also when no printer is installed) and 4 when
// some pages were printed and others could not be.
int RunFaxPrint(const QStringList& args, QTextStream& out, QTextStream& err);

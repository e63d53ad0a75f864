#pragma once
// pellimar --export FAX.apf OUT: writes the pages of a fax file as images.
#include <QStringList>
#include <QTextStream>

// `args` are the arguments after --export: the fax file and the output.
//  - OUT ending in ".pdf": one PDF, a page per fax page at the fax's own
//    resolution (204 x 98 or 204 x 196 dots per inch).
//  - OUT containing "%d": one file per page, the page number replacing %d
//    ("page-%d.pbm" gives page-1.pbm, page-2.pbm...).
//  - otherwise one file per page with "-N" before the extension
//    ("fax.png" gives fax-1.png, fax-2.png...); an OUT without ".png" or
//    ".pbm" gets ".png" appended after the number ("fax" gives fax-1.png).
// PNG and PBM pages are aspect corrected (standard-resolution lines doubled)
// and padded to the full line width so that they look like the paper fax.
// Returns 0 on success; on failure writes a message to `err` and returns 1
// (2 for wrong arguments).
int RunFaxExport(const QStringList& args, QTextStream& out, QTextStream& err);

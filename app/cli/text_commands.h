#pragma once
// --search and --text: the text index of the working folder from the
// command line.
#include "app/cli/console_host.h"

#include <QStringList>
#include <QTextStream>

// Prints one line per fax whose text holds every one of `words`: its key,
// the pages that hold them, and a short piece of text around them. 0 when
// something matched, 1 when nothing did or there is no index.
int RunTextSearch(const QStringList& words, QTextStream& out, QTextStream& err);

// Prints the recognised text of `fax` (a catalogue key such as
// "faxes\fax1.apf", or a fax file), pages parted by form feeds. A file
// whose text is not in the index is read now, in the language the settings
// name (through readSetting). 0, or 1 when there is no text.
int RunTextPrint(const QString& fax, QTextStream& out, QTextStream& err, const TSettingReader& readSetting = {});

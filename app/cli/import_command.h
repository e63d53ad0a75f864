#pragma once
// pellimar --import FAX.apf... copies fax files into faxes/ of the current
// folder and catalogues them without a window, through the same code as the
// import window.
#include <QStringList>
#include <QTextStream>

// Prints the status log lines on `out` and every refusal or failure on
// standard error. Returns 0 when every file was imported, else 1.
int RunFaxImport(const QStringList& files, QTextStream& out, QTextStream& err);

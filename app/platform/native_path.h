#pragma once
// Paths the program keeps as data ("temp\Msg 1.txt", "faxes\fax1.apf") are
// written with Windows separators so that lists and catalogues stay
// compatible; the file system is reached through these helpers.
#include <QString>

// "temp\Msg 1.txt" -> "temp/Msg 1.txt" (relative paths stay relative).
QString NativePath(const QString& dataPath);

// Turns a name that came from outside (a mail server's unique id, an
// attachment name) into one safe file name: bytes outside printable ASCII,
// the separators "/" and "\", "%" itself and a leading "." are written as
// %XX, so that different names stay different and no name leaves its folder.
QString SafeFileName(const std::string& name);

#pragma once
// The small text rules of downloads and extraction: matching without regard
// to case, host and port, the file names that mail gives attachments, and
// the catalogue's date format. Each is defined here once.
#include <QDateTime>
#include <QString>

#include <functional>
#include <string>

// ASCII letters upper-cased; other bytes as they are.
std::string Upper(std::string s);

// Bytes as single-byte text.
QString Latin1(const std::string& s);

// True when pattern occurs in text, comparing ASCII letters without regard to case.
bool ContainsText(const std::string& text, const std::string& pattern);

// "host", "host:port" or "[v6address]:port"; without a port the service is defaultPort.
void SplitHostPort(const QString& text, QString& host, QString& port,
                   const QString& defaultPort = QStringLiteral("pop3"));

// The file name a part header line names after "filename=" (any case):
// the quoted text, or the token up to ";" or the end of the line.
std::string ExtractFileNameValue(const std::string& line);

// Only the last path component of a name taken from mail, with anything that
// could leave the folder or hide the file ("..", control characters, a
// leading dot) replaced; never empty.
QString SafeAttachmentName(const std::string& name);

// "mm/dd/yyyy hh:mm AM/PM".
QString FormatEMailDate(const QDateTime& when);

// The file name a part header line gives: Content-Disposition's filename
// (plain, or in RFC 2231 form with a charset and sections) as fileName,
// Content-Type's name as typeName; other lines that hold "filename=" give
// fileName as ExtractFileNameValue reads it. Names come as single-byte text
// (characters beyond Latin-1 become "_"). False when the line names nothing.
bool PartHeaderFileName(const char* line, QString& fileName, QString& typeName);

// A name for a file in "faxes\": stem, suffix (such as " (2)") and
// extension, the stem shortened until the whole fits both a catalogue key
// ("faxes\" + name, 255 characters) and a file name (255 bytes on disk).
QString FitFaxFileName(const QString& stem, const QString& suffix, const QString& extension);


// The file in faxes/ that a catalogue key names: "faxes/" + name when the key
// is "faxes\" followed by a plain name (no separator of either kind, not "."
// or "..", no control character); empty for any other key, which names no
// file that View or Remove may touch.
QString FaxFileOfKey(const QString& key);

// The first of wanted, "stem (2).ext", "stem (3).ext", ... (each fitted by
// FitFaxFileName) for which taken(name) is false. Throws when none is free.
QString ChooseFreeFaxName(const QString& wanted, const std::function<bool(const QString&)>& taken);

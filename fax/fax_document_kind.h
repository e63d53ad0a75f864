#pragma once
// What kind of fax document a file holds, told by its first bytes, never by
// its name: the viewer, the printer, export, import and the mail rules all
// ask here.
#include <QByteArray>

#include <string>

enum class FaxDocumentKind { Unknown, Apf, Tiff, Pdf };

// Bytes a caller needs to read for FaxDocumentKindOf.
constexpr int kFaxDocumentHeadSize = 8;

// "APF10" gives APF, "II*\0" or "MM\0*" TIFF, "%PDF-" PDF.
FaxDocumentKind FaxDocumentKindOf(const QByteArray& head);

// The kind of the file's content; Unknown when it cannot be read.
FaxDocumentKind FaxDocumentKindOfFile(const std::string& fileName);

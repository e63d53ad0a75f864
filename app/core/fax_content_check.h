#pragma once
// Whether bytes are a fax document by their content: an APF file ("APF10"),
// a TIFF file ("II*\0" or "MM\0*") or a PDF file ("%PDF-"). Mails that a
// fax-mail rule took may carry logos, cover texts and the like beside the
// fax; only fax documents are catalogued from them.
#include <QByteArray>

// As many leading bytes as the check needs.
inline constexpr int kFaxSignatureLength = 5;

// True when head (the first bytes of a file, at least kFaxSignatureLength
// of them unless the file is shorter) begins like a fax document.
bool IsFaxDocumentContent(const QByteArray& head);

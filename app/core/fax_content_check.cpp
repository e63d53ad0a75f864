#include "app/core/fax_content_check.h"

#include "fax/fax_document_kind.h"

bool IsFaxDocumentContent(const QByteArray& head) { return FaxDocumentKindOf(head) != FaxDocumentKind::Unknown; }

#include "app/core/fax_content_check.h"

bool IsFaxDocumentContent(const QByteArray& head)
{
    return head.startsWith("APF10") || head.startsWith(QByteArray("II*\0", 4)) || head.startsWith(QByteArray("MM\0*", 4))
           || head.startsWith("%PDF-");
}

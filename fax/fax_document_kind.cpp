#include "fax/fax_document_kind.h"

#include <fcntl.h>
#include <unistd.h>

FaxDocumentKind FaxDocumentKindOf(const QByteArray& head)
{
    if (head.startsWith("APF10"))
        return FaxDocumentKind::Apf;
    if (head.startsWith(QByteArray("II*\0", 4)) || head.startsWith(QByteArray("MM\0*", 4)))
        return FaxDocumentKind::Tiff;
    if (head.startsWith("%PDF-"))
        return FaxDocumentKind::Pdf;
    return FaxDocumentKind::Unknown;
}

FaxDocumentKind FaxDocumentKindOfFile(const std::string& fileName)
{
    const int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return FaxDocumentKind::Unknown;
    char head[kFaxDocumentHeadSize];
    const ssize_t got = ::read(fd, head, sizeof head);
    ::close(fd);
    return got > 0 ? FaxDocumentKindOf(QByteArray(head, static_cast<int>(got))) : FaxDocumentKind::Unknown;
}

#include "fax/view/fax_printer_log.h"

#include "fax/apf_file.h"
#include "fax/kiv_errors.h"
#include "fax/view/fax_printer.h"
#include "fax/view/fax_printer_texts.h"

#include <QDateTime>
#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

TKivCustomFaxPrinterLog::TKivCustomFaxPrinterLog(QObject* owner) : QObject(owner)
{
    TKivCustomFaxPrinter::OfferComponent(this);
}

void TKivCustomFaxPrinterLog::UpdateLog(int code, const QString& fileName, int page, const QString& reason)
{
    if (logFileName_.isEmpty())
        return;
    const QByteArray line = FaxPrintLogLine(code, fileName, QDateTime::currentDateTime(), page, reason);
    const QByteArray path = QFile::encodeName(logFileName_);
    const int fd = ::open(path.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        RaiseKivError(ApfOpenErrorCode(errno, path.toStdString()));
    qsizetype written = 0;
    while (written < line.size()) {
        const ssize_t n = ::write(fd, line.constData() + written, static_cast<size_t>(line.size() - written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ::close(fd);
            RaiseKivError(kErrAccessDenied);
        }
        written += n;
    }
    ::close(fd);
}

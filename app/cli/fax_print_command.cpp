#include "app/cli/fax_print_command.h"

#include "fax/fax_document.h"
#include "fax/kiv_errors.h"
#include "fax/view/fax_printer.h"

#include <QFile>
#include <QPrinterInfo>
#include <QRegularExpression>

#include <exception>
#include <optional>

namespace {

constexpr int kExitBadFax = 1;
constexpr int kExitUsage = 2;
constexpr int kExitPrinter = 3;
constexpr int kExitSomePages = 4;

struct PrintRequest {
    QString fax;
    QString printer;
    QString output;
    bool multiPage = false;
    int from = 0; // 0: the whole fax
    int to = 0;
};

std::optional<PrintRequest> ParseArguments(QStringList args)
{
    PrintRequest request;
    while (!args.isEmpty()) {
        const QString arg = args.takeFirst();
        if (arg == QLatin1String("--multipage")) {
            request.multiPage = true;
        } else if (arg == QLatin1String("--printer") || arg == QLatin1String("--output") ||
                   arg == QLatin1String("--pages")) {
            if (args.isEmpty() || args.first().isEmpty())
                return std::nullopt;
            const QString value = args.takeFirst();
            if (arg == QLatin1String("--printer")) {
                request.printer = value;
            } else if (arg == QLatin1String("--output")) {
                request.output = value;
            } else {
                static const QRegularExpression pages(QStringLiteral("^(\\d{1,5})(?:-(\\d{1,5}))?$"));
                const QRegularExpressionMatch match = pages.match(value);
                if (!match.hasMatch())
                    return std::nullopt;
                request.from = match.captured(1).toInt();
                request.to = match.captured(2).isEmpty() ? request.from : match.captured(2).toInt();
                if (request.from < 1 || request.to < request.from)
                    return std::nullopt;
            }
        } else if (arg.startsWith(QLatin1String("--")) || !request.fax.isEmpty() || arg.isEmpty()) {
            return std::nullopt;
        } else {
            request.fax = arg;
        }
    }
    if (request.fax.isEmpty() || (!request.printer.isEmpty() && !request.output.isEmpty()))
        return std::nullopt;
    return request;
}

// Points the printer at the file or the queue; an error text when there is
// nothing to print to.
QString ChooseDestination(QPrinter& printer, const PrintRequest& request)
{
    if (!request.output.isEmpty()) {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(request.output);
        return {};
    }
    if (!request.printer.isEmpty()) {
        if (QPrinterInfo::printerInfo(request.printer).isNull())
            return QStringLiteral("there is no printer named ") + request.printer;
        printer.setPrinterName(request.printer);
        return {};
    }
    if (QPrinterInfo::availablePrinters().isEmpty())
        return QStringLiteral("no printer is installed; print to a PDF file with --output FILE.pdf");
    const QPrinterInfo queue = QPrinterInfo::defaultPrinter();
    if (queue.isNull())
        return QStringLiteral("there is no default printer; name one with --printer NAME");
    printer.setPrinterName(queue.printerName());
    return {};
}

QString ErrorText(const std::exception_ptr& error)
{
    try {
        std::rethrow_exception(error);
    } catch (const std::bad_alloc&) {
        return QString::fromLatin1(KivErrorMessage(kErrOutOfMemory).c_str());
    } catch (const std::exception& e) {
        return QString::fromLocal8Bit(e.what());
    }
}

} // namespace

int RunFaxPrint(const QStringList& args, QTextStream& out, QTextStream& err)
{
    const std::optional<PrintRequest> request = ParseArguments(args);
    if (!request) {
        err << "usage: pellimar --print FAX.apf [--printer NAME] [--pages FROM-TO] [--multipage] [--output FILE.pdf]"
            << Qt::endl;
        return kExitUsage;
    }
    int faxPages = 0;
    const int rc = FaxDocumentPageCount(QFile::encodeName(request->fax).toStdString(), faxPages);
    if (rc != 0 || faxPages == 0) {
        err << "pellimar: " << request->fax << ": "
            << (rc != 0 ? QString::fromLatin1(KivErrorMessage(rc).c_str()) : QStringLiteral("the fax has no pages"))
            << Qt::endl;
        return kExitBadFax;
    }
    if (!request->output.isEmpty() && IsSameFile(request->output, request->fax)) {
        err << "pellimar: " << request->output << " is the fax itself; name another output file" << Qt::endl;
        return kExitUsage;
    }
    if (request->to > faxPages) {
        err << "pellimar: " << request->fax << " has " << faxPages << " page(s)" << Qt::endl;
        return kExitUsage;
    }

    TKivFaxPrinter printer;
    if (const QString problem = ChooseDestination(printer.Printer(), *request); !problem.isEmpty()) {
        err << "pellimar: " << problem << Qt::endl;
        return kExitPrinter;
    }
    // Nothing else runs: decoding need not let events through.
    printer.Unpacker().SetOptions(0);
    printer.SetMultiPage(request->multiPage);
    try {
        printer.SetFileName(request->fax);
        if (request->from > 0) {
            printer.SetFirstPageToPrint(static_cast<uint16_t>(request->from));
            printer.SetLastPageToPrint(static_cast<uint16_t>(request->to));
        }
        printer.PrintPages();
    } catch (const EFaxPagesNotPrinted& e) {
        err << "pellimar: " << request->fax << ": " << QString::fromLocal8Bit(e.what()).replace('\n', ' ') << Qt::endl;
        return e.Printed() > 0 ? kExitSomePages : kExitBadFax;
    } catch (const EFaxPrinterError& e) {
        err << "pellimar: " << QString::fromLocal8Bit(e.what()) << Qt::endl;
        return kExitPrinter;
    } catch (...) {
        err << "pellimar: " << request->fax << ": " << ErrorText(std::current_exception()) << Qt::endl;
        return kExitBadFax;
    }
    const int pages = printer.LastPageToPrint() - printer.FirstPageToPrint() + 1;
    out << request->fax << ": " << pages << " page(s) sent to "
        << (request->output.isEmpty() ? printer.Printer().printerName() : request->output) << Qt::endl;
    return 0;
}

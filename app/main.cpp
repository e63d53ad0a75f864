// Program entry: the main window, then the viewer, help and import windows
// (hidden until shown), then the event loop until the main window closes.
// With --fetch the program runs one download without any window instead;
// with --export it writes the pages of a fax file as images or a PDF;
// --help (or -h) prints the usage text.
#include "app/catalogue_listing.h"
#include "app/fax_export.h"
#include "app/forms.h"
#include "app/headless_fetch.h"
#include "app/help_form.h"
#include "app/import_form.h"
#include "app/main_window.h"
#include "app/view_form.h"
#include "mail/pop3_client.h"

#include <QApplication>
#include <QTextStream>

#include <cstdio>

namespace {

const char kUsage[] = "Usage: pellimar [--fetch [--timeout SECONDS] [--notify] | --list | --export FAX.apf OUT]";

const char kHelpText[] =
    "\n"
    "Without an option Pellimar opens its window. It works in the folder it is\n"
    "started in: the catalogue faxes.qdb and the folders temp/ and faxes/.\n"
    "\n"
    "  --fetch               download once with the stored settings, without a\n"
    "                        window, printing the status log\n"
    "  --timeout SECONDS     with --fetch: give up on a server silent for this\n"
    "                        long (default 60)\n"
    "  --notify              with --fetch: show a desktop notification when\n"
    "                        the run adds faxes\n"
    "  --list                print the catalogue, one fax per line: Status,\n"
    "                        Filename, Sender ID, Fax Date and eMail Date\n"
    "  --export FAX.apf OUT  write the pages of a fax file: OUT.pdf gives one\n"
    "                        PDF, OUT.png or OUT.pbm one image per page\n"
    "  -h, --help            print this text\n"
    "  --version             print the version\n"
    "\n"
    "Exit status of --fetch: 0 when the whole mailbox was walked (also when\n"
    "there was nothing new), 2 when the server could not be reached, 3 when it\n"
    "refused the login, 4 when the run stopped early, 5 when the catalogue\n"
    "could not be opened.\n";

int RunWindows(QApplication& app)
{
    TForm1 mainWindow;
    TViewForm viewer;
    ViewForm = &viewer;
    THelpForm help;
    HelpForm = &help;
    TImportForm importer;
    ImportForm = &importer;

    mainWindow.show();
    const int status = app.exec();
    ViewForm = HelpForm = ImportForm = nullptr;
    return status;
}

// "--timeout SECONDS" after --fetch; false for anything else.
bool ParseFetchOptions(const QStringList& args, int& timeoutSeconds)
{
    if (args.isEmpty())
        return true;
    bool ok = false;
    timeoutSeconds = args.size() == 2 && args[0] == QLatin1String("--timeout") ? args[1].toInt(&ok) : 0;
    return ok && timeoutSeconds > 0;
}

} // namespace

int main(int argc, char** argv)
{
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    // Help needs neither a display nor the application object.
    if (!args.isEmpty() && (args.first() == QLatin1String("--help") || args.first() == QLatin1String("-h"))) {
        std::printf("%s\n%s", kUsage, kHelpText);
        return 0;
    }
    if (!args.isEmpty() && args.first() == QLatin1String("--version")) {
        std::printf("Pellimar %s\n", PELLIMAR_VERSION);
        return 0;
    }
    const bool headless = !args.isEmpty() && args.first().startsWith(QLatin1String("--"));
    // Command-line modes need no display; message boxes are printed instead.
    if (headless && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Pellimar"));
    QApplication::setApplicationDisplayName(QStringLiteral("Pellimar"));
    QApplication::setQuitOnLastWindowClosed(false);

    QTextStream out(stdout);
    QTextStream err(stderr);
    if (!headless)
        return RunWindows(app);
    const QString mode = args.takeFirst();
    int timeoutSeconds = TPop3Client::DefaultTimeout;
    const bool notify = mode == QLatin1String("--fetch") && args.removeAll(QStringLiteral("--notify")) > 0;
    if (mode == QLatin1String("--fetch") && ParseFetchOptions(args, timeoutSeconds))
        return RunHeadlessFetch(out, timeoutSeconds, notify);
    if (mode == QLatin1String("--list") && args.isEmpty())
        return RunCatalogueListing(out, err);
    if (mode == QLatin1String("--export"))
        return RunFaxExport(args, out, err);
    err << kUsage << Qt::endl;
    return 64;
}

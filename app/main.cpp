// Program entry: the main window, then the viewer, help and import windows
// (hidden until shown), then the event loop until the main window closes.
// The command line can choose a mode without any window instead: --fetch
// runs one download, --list prints the catalogue, --backup copies it, --export writes the pages
// of a fax file as images or a PDF, --print prints one, --import catalogues
// fax files saved elsewhere; --help and --version
// print and exit. Without a mode, a fax file given opens in the viewer
// window. Wrong arguments are answered on standard error.
#include "app/catalogue_backup.h"
#include "app/catalogue_listing.h"
#include "app/command_line.h"
#include "app/fax_export.h"
#include "app/fax_print_command.h"
#include "app/forms.h"
#include "app/headless_fetch.h"
#include "app/help_form.h"
#include "app/import_command.h"
#include "app/import_form.h"
#include "app/main_window.h"
#include "app/view_form.h"
#include "mail/pop3_client.h"

#include <QApplication>
#include <QTextStream>

namespace {

// `faxFile`, when given, is shown in the viewer window from the start: what
// a desktop's "Open with" asks for.
int RunWindows(QApplication& app, const QString& faxFile)
{
    TForm1 mainWindow;
    TViewForm viewer;
    ViewForm = &viewer;
    THelpForm help;
    HelpForm = &help;
    TImportForm importer;
    ImportForm = &importer;

    mainWindow.show();
    if (!faxFile.isEmpty()) {
        viewer.SetStartFile(faxFile);
        viewer.show();
    }
    const int status = app.exec();
    ViewForm = HelpForm = ImportForm = nullptr;
    return status;
}

} // namespace

int main(int argc, char** argv)
{
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    const TCommandLine line = ParseCommandLine(args);

    // These need neither a display nor the application object.
    QTextStream out(stdout);
    QTextStream err(stderr);
    if (!line.Error.isEmpty()) {
        err << "pellimar: " << line.Error << "\nTry 'pellimar --help' for the options." << Qt::endl;
        return kUsageExitStatus;
    }
    if (line.Mode == TRunMode::Help) {
        out << CommandLineHelp() << Qt::flush;
        return 0;
    }
    if (line.Mode == TRunMode::Version) {
        out << "Pellimar " PELLIMAR_VERSION << Qt::endl;
        return 0;
    }

    // Command-line modes need no display; message boxes are printed instead.
    const bool headless = line.Mode != TRunMode::Window;
    if (headless && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Pellimar"));
    QApplication::setApplicationDisplayName(QStringLiteral("Pellimar"));
    QApplication::setQuitOnLastWindowClosed(false);

    switch (line.Mode) {
    case TRunMode::Fetch:
        return RunHeadlessFetch(out, line.TimeoutSeconds > 0 ? line.TimeoutSeconds : TPop3Client::DefaultTimeout,
                                line.Notify);
    case TRunMode::List:
        return RunCatalogueListing(out, err);
    case TRunMode::Backup:
        return RunCatalogueBackup(line.Arguments.value(0), out, err);
    case TRunMode::Export:
        return RunFaxExport(line.Arguments, out, err);
    case TRunMode::Print:
        return RunFaxPrint(line.Arguments, out, err);
    case TRunMode::Import:
        return RunFaxImport(line.Arguments, out, err);
    default:
        return RunWindows(app, line.Arguments.value(0));
    }
}

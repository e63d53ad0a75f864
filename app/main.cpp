// Program entry: the main window, then the viewer, help and import windows
// (hidden until shown), then the event loop until the main window closes.
// The command line can choose a mode without any window instead: --fetch
// runs one download, --watch downloads whenever new mail arrives, --list prints the catalogue, --backup copies it, --export writes the pages
// of a fax file as images or a PDF, --print prints one, --import catalogues
// fax files saved elsewhere, --search and --text read the text index; --help and --version
// print and exit. Without a mode, a fax file given opens in the viewer
// window. Wrong arguments are answered on standard error. The window and the
// modes that use the catalogue run in the working folder (--home, else the
// rule of working_folder.h), which the window offers to create on the first
// start.
#include "app/cli/catalogue_backup.h"
#include "app/cli/catalogue_listing.h"
#include "app/cli/command_line.h"
#include "app/cli/fax_export.h"
#include "app/cli/fax_print_command.h"
#include "app/ui/first_paint_probe.h"
#include "app/ui/forms.h"
#include "app/cli/headless_fetch.h"
#include "app/ui/help_form.h"
#include "app/cli/import_command.h"
#include "app/cli/text_commands.h"
#include "app/core/download.h"
#include "app/platform/working_folder.h"
#include "app/ui/import_form.h"
#include "app/ui/main_window.h"
#include "app/ui/registry_variable.h"
#include "app/ui/view_form.h"
#include "app/ui/welcome_dialog.h"
#include "mail/pop3_client.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QTextStream>

#include <cstdlib>

#include <unistd.h>

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
    importer.SetCatalogue(mainWindow.Catalogue.get(), &mainWindow);
    ImportForm = &importer;

    ReportFirstPaint(mainWindow);
    mainWindow.show();
    if (!faxFile.isEmpty()) {
        viewer.SetStartFile(faxFile);
        viewer.show();
    }
    const int status = app.exec();
    ViewForm = HelpForm = ImportForm = nullptr;
    return status;
}

bool UsesWorkingFolder(TRunMode mode)
{
    return mode == TRunMode::Window || mode == TRunMode::Fetch || mode == TRunMode::Watch || mode == TRunMode::List
           || mode == TRunMode::Backup || mode == TRunMode::Import || mode == TRunMode::Search || mode == TRunMode::Text;
}

// Makes the working folder the current one. The window creates a missing
// one once the user agrees; the other modes never create one. False (after
// saying why) when there is none to work in.
bool EnterWorkingFolder(const TCommandLine& line, QTextStream& err)
{
    QString folder = ChooseWorkingFolder(line.Home).Path;
    if (!IsWorkingFolder(folder)) {
        if (line.Mode != TRunMode::Window) {
            err << "pellimar: " << folder
                << " is no working folder: it holds no faxes.qdb, temp/ or faxes/. Start Pellimar once to create "
                   "it, or name one with --home DIR."
                << Qt::endl;
            return false;
        }
        folder = WelcomeToWorkingFolder(folder);
        if (folder.isEmpty())
            return false;
    }
    if (!QDir::setCurrent(folder)) {
        err << "pellimar: cannot work in " << folder << Qt::endl;
        return false;
    }
    return true;
}

} // namespace

// Text recognition runs Tesseract, whose parallel loops start teams of
// OpenMP threads for every page. Beside the window and the other workers on
// a small machine those teams only spin and wait: a page takes four times as
// long. The OpenMP runtime reads its thread limit once, as the program is
// loaded, so the program starts itself again with the limit set, unless the
// user set one.
void LimitOpenMpThreads(char** argv)
{
    if (std::getenv("OMP_THREAD_LIMIT"))
        return;
    setenv("OMP_THREAD_LIMIT", "1", 1);
    execv("/proc/self/exe", argv);
    // Not started again: recognition is only slower.
}

int main(int argc, char** argv)
{
    LimitOpenMpThreads(argv);
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

    TCommandLine run = line;
    if (UsesWorkingFolder(run.Mode)) {
        // Files named on the command line stay those of the folder it was typed in.
        for (QString& file : run.Arguments)
            file = QFileInfo(file).absoluteFilePath();
        // --text reads a fax file given also where there is no working folder.
        const bool fileWithoutFolder = run.Mode == TRunMode::Text && QFileInfo(run.Arguments.value(0)).isFile()
                                       && !IsWorkingFolder(ChooseWorkingFolder(run.Home).Path);
        if (!fileWithoutFolder && !EnterWorkingFolder(run, err))
            return run.Mode == TRunMode::Fetch || run.Mode == TRunMode::Watch ? static_cast<int>(TRunOutcome::NoCatalogue)
                 : run.Mode == TRunMode::Window ? 0
                                                : 1;
    }

    switch (run.Mode) {
    case TRunMode::Fetch:
        return RunHeadlessFetch(out, run.TimeoutSeconds > 0 ? run.TimeoutSeconds : TPop3Client::DefaultTimeout,
                                run.Notify, ReadPellimarSetting);
    case TRunMode::Watch:
        return RunHeadlessWatch(out, TPop3Client::DefaultTimeout, false, ReadPellimarSetting);
    case TRunMode::List:
        return RunCatalogueListing(out, err);
    case TRunMode::Backup:
        return RunCatalogueBackup(run.Arguments.value(0), out, err);
    case TRunMode::Export:
        return RunFaxExport(run.Arguments, out, err);
    case TRunMode::Print:
        return RunFaxPrint(run.Arguments, out, err);
    case TRunMode::Import:
        return RunFaxImport(run.Arguments, out, err);
    case TRunMode::Search:
        return RunTextSearch(line.Arguments, out, err);
    case TRunMode::Text:
        // A key stays as typed; a file name is taken from where it was typed.
        return RunTextPrint(line.Arguments.value(0).contains(QLatin1Char('\\')) ? line.Arguments.value(0)
                                                                                 : run.Arguments.value(0),
                            out, err, ReadPellimarSetting);
    default:
        return RunWindows(app, run.Arguments.value(0));
    }
}

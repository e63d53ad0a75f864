// Program entry: the main window, then the viewer, help and import windows
// (hidden until shown), then the event loop until the main window closes.
// With --fetch the program runs one download without any window instead;
// with --export it writes the pages of a fax file as images or a PDF.
#include "app/catalogue_listing.h"
#include "app/fax_export.h"
#include "app/fax_print_command.h"
#include "app/forms.h"
#include "app/headless_fetch.h"
#include "app/help_form.h"
#include "app/import_form.h"
#include "app/main_window.h"
#include "app/view_form.h"

#include <QApplication>
#include <QTextStream>

#include <cstdio>

namespace {

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

} // namespace

int main(int argc, char** argv)
{
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
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
    if (mode == QLatin1String("--fetch") && args.isEmpty())
        return RunHeadlessFetch(out);
    if (mode == QLatin1String("--list") && args.isEmpty())
        return RunCatalogueListing(out, err);
    if (mode == QLatin1String("--export"))
        return RunFaxExport(args, out, err);
    if (mode == QLatin1String("--print"))
        return RunFaxPrint(args, out, err);
    err << "Usage: pellimar [--fetch | --list | --export FAX.apf OUT]" << Qt::endl;
    return 64;
}

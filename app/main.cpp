// Program entry: the main window, then the viewer, help and import windows
// (hidden until shown), then the event loop until the main window closes.
#include "app/forms.h"
#include "app/help_form.h"
#include "app/import_form.h"
#include "app/main_window.h"
#include "app/view_form.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Pellimar"));
    QApplication::setApplicationDisplayName(QStringLiteral("Pellimar"));
    QApplication::setQuitOnLastWindowClosed(false);

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

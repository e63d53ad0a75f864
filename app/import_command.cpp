#include "app/import_command.h"

#include "app/fax_import.h"
#include "app/flying_op.h"
#include "app/main_window.h"

#include <QDir>

int RunFaxImport(const QStringList& files, QTextStream& out, QTextStream& err)
{
    TForm1 window; // opens the catalogue
    if (!window.CatalogueReady()) {
        err << window.CatalogueProblem() << Qt::endl;
        return 1;
    }
    window.OnLogLine = [&out](const QString& line) { out << line << Qt::endl; };
    TFlyingOp op;
    const QString workFolder = QDir::currentPath();
    int failed = 0;
    for (const QString& file : files)
        if (!ImportFaxFile(window, op, workFolder, file))
            ++failed;
    return failed == 0 ? 0 : 1;
}

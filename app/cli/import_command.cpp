#include "app/cli/import_command.h"

#include "app/cli/console_host.h"
#include "app/core/fax_catalogue.h"
#include "app/core/fax_import.h"
#include "app/platform/flying_op.h"

#include <QDir>

int RunFaxImport(const QStringList& files, QTextStream& out, QTextStream& err)
{
    TFaxCatalogue catalogue;
    catalogue.Open();
    if (!catalogue.Ready()) {
        err << catalogue.Problem() << Qt::endl;
        return 1;
    }
    TConsoleRunHost host(out);
    TFlyingOp op;
    const QString workFolder = QDir::currentPath();
    int failed = 0;
    for (const QString& file : files)
        if (!ImportFaxFile(catalogue, host, op, workFolder, file))
            ++failed;
    return failed == 0 ? 0 : 1;
}

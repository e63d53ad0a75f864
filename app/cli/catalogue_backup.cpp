#include "app/cli/catalogue_backup.h"

#include "qdb/backup.h"

#include <QDir>
#include <QFileInfo>

#include <stdexcept>

int RunCatalogueBackup(const QString& target, QTextStream& out, QTextStream& err)
{
    const QString source = QDir::current().absoluteFilePath(QStringLiteral("faxes.qdb"));
    const QString copy = QDir::current().absoluteFilePath(target);
    if (QFileInfo(copy).canonicalFilePath() == QFileInfo(source).canonicalFilePath()) {
        err << "The catalogue could not be copied: " << target << " is the catalogue itself" << Qt::endl;
        return 1;
    }
    try {
        qdb::BackupDatabase(source.toLocal8Bit().toStdString(), copy.toLocal8Bit().toStdString());
    } catch (const std::exception& e) {
        err << "The catalogue could not be copied: " << QString::fromLocal8Bit(e.what()) << Qt::endl;
        return 1;
    }
    out << "Copied " << source << " to " << copy << Qt::endl;
    return 0;
}

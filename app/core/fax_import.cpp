#include "app/core/fax_import.h"

#include "app/core/fax_catalogue.h"
#include "app/core/fax_rules.h"
#include "app/core/run_host.h"
#include "app/platform/flying_op.h"
#include "app/platform/message_box.h"
#include "fax/apf_file.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

const QString kNoneAvailable = QStringLiteral("<none available>");

bool Refuse(const QString& text)
{
    ShowMessageBox(TMessageKind::Error, text);
    return false;
}

} // namespace

void CatalogueImportedFax(TFaxCatalogue& catalogue, TRunHost& host, const QString& path)
{
    catalogue.Add({QStringLiteral("New"), CatalogueKey(QFileInfo(path).fileName()), kNoneAvailable,
                   FormatEMailDate(QDateTime::currentDateTime()), kNoneAvailable});
    catalogue.Flush();
    host.Log(QStringLiteral("Added 1 Fax: ") + path);
}

bool ImportFaxFile(TFaxCatalogue& catalogue, TRunHost& host, TFlyingOp& op, const QString& workFolder, const QString& path)
{
    if (path.isEmpty())
        return false;
    const QFileInfo source(path);
    const QString full = source.absoluteFilePath();
    if (!source.isFile())
        return Refuse(QStringLiteral("Cannot import %1: the file does not exist.").arg(full));
    ApfFileHeader header;
    if (ApfReadFileHeader(QFile::encodeName(full).toStdString(), header) != 0)
        return Refuse(QStringLiteral("Cannot import %1: it is not a readable APF fax file.").arg(full));
    if (!KeyHoldsName(CatalogueKey(source.fileName())))
        return Refuse(QStringLiteral("Cannot import %1: the catalogue cannot hold its name (at most %2 characters, "
                                     "Latin-1 letters only). Rename the file and import it again.")
                          .arg(full)
                          .arg(kMaxCatalogueKeyLength - CatalogueKey({}).size()));
    if (!catalogue.Ready())
        return Refuse(QStringLiteral("Cannot import %1: %2.").arg(full, catalogue.Problem()));
    // The copy and the catalogue let pending events run; a second import or
    // a download run's extraction must not write the catalogue meanwhile.
    if (catalogue.Busy())
        return Refuse(QStringLiteral("Cannot import %1 now: the catalogue is busy with another import or a download. "
                                     "Try again when it has finished.")
                          .arg(full));
    const TFaxCatalogue::TBusyScope busy(catalogue);

    op.SetSourceDirectory(source.absolutePath() + QLatin1Char('/'));
    op.SetDestinationDirectory(workFolder + QStringLiteral("/faxes/"));
    op.SetFileList({full});
    const TShellResult copied = op.CopyFiles();
    // Only a fax that lies in faxes/ now is catalogued: copied there, or
    // already there and kept by the user.
    const QString destination = op.DestinationDirectory() + source.fileName();
    if (copied != TShellResult::Done || !QFileInfo(destination).isFile())
        return false;
    try {
        const TFaxCatalogue::TChangeScope change(catalogue);
        // A kept file that has its record already keeps that record, with
        // the sender ID and fax date a download gave it.
        if (op.Kept().contains(destination)
            && catalogue.Contains(CatalogueKey(source.fileName()))) {
            host.Log(QStringLiteral("Already catalogued: ") + full);
            return true;
        }
        CatalogueImportedFax(catalogue, host, full);
    } catch (const std::exception& e) {
        return Refuse(QStringLiteral("%1 was copied into faxes/ but could not be catalogued: %2")
                          .arg(full, QString::fromLocal8Bit(e.what())));
    }
    catalogue.NoteChanged();
    return true;
}
